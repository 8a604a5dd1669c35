// The client library of PostgreSQL, loaded when a server is first reached: a program that only
// ever opens SQLite files neither loads it nor the libraries it brings (Kerberos, LDAP, TLS),
// which cost every start a few milliseconds and megabytes. The types and constants come from
// the library's header; the functions are called through libpq().
#pragma once

#include <libpq-fe.h>

namespace kalder::pg {

#define KALDER_LIBPQ_FUNCTIONS(X)                                                                                      \
    X(PQclear)                                                                                                         \
    X(PQcmdTuples)                                                                                                     \
    X(PQconninfoFree)                                                                                                  \
    X(PQconninfoParse)                                                                                                 \
    X(PQerrorMessage)                                                                                                  \
    X(PQexec)                                                                                                          \
    X(PQexecParams)                                                                                                    \
    X(PQfreemem)                                                                                                       \
    X(PQgetResult)                                                                                                     \
    X(PQgetisnull)                                                                                                     \
    X(PQgetlength)                                                                                                     \
    X(PQgetvalue)                                                                                                      \
    X(PQntuples)                                                                                                       \
    X(PQputCopyData)                                                                                                   \
    X(PQputCopyEnd)                                                                                                    \
    X(PQresultErrorField)                                                                                              \
    X(PQresultErrorMessage)                                                                                            \
    X(PQresultStatus)                                                                                                  \
    X(PQstatus)

struct LibPq {
#define KALDER_LIBPQ_POINTER(name) decltype(&::name) name = nullptr;
    KALDER_LIBPQ_FUNCTIONS(KALDER_LIBPQ_POINTER)
#undef KALDER_LIBPQ_POINTER
};

// The library's functions, loaded on the first call; a failure (err::ServerUnreachable) that
// names the library when it is not installed or lacks one of them.
const LibPq& libpq();

} // namespace kalder::pg
