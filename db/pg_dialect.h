// Everything particular to PostgreSQL that the connection and the recordsets need: the
// connection URI read into the client library's keywords, how the driver opens it, quoting,
// the address of a stored record, and the server's errors as failures. The keyed merge of
// this engine is in pg_merge.h, the client library's own interface in pg_session.h.
#pragma once

#include "app/base/failure.h"

#include <QByteArray>
#include <QList>
#include <QSqlDatabase>
#include <QString>

#include <utility>

typedef struct pg_conn PGconn;
typedef struct pg_result PGresult;

namespace kalder {
class Engine;
}

namespace kalder::pg {

inline constexpr const char* DriverName = "QPSQL";

const Engine& engine();

// The client library's keywords and values of a connection URI, with the defaults we add (a
// bound on the time to connect, the program's name). A URI the library cannot read, or one
// that holds a password, fails: passwords come from the server's password file or the
// environment, never from settings.cfg.
QList<std::pair<QByteArray, QByteArray>> connectionOptions(const QString& uri);

// The client library's handle of an open Qt SQL connection over PostgreSQL, or null.
PGconn* handleOf(const QSqlDatabase& db);

QString quoteIdentifier(const QString& name);

// A server's error as a failure: the connection lost (err::ServerGone), a lock waited for
// past the bound (err::LockTimeout), any other refusal (err::ServerRefused, its SQLSTATE
// named in the description).
Failure describe(const QByteArray& sqlstate, const QString& message, bool connectionLost, const QString& what);
// The same for the client library's last result on a connection (result may be null).
Failure failureOf(PGconn* conn, const PGresult* result, const QString& what);
// Whether a SQLSTATE is the refusal of one row's values (a data exception, a constraint)
// rather than of the table, the server or the connection.
bool refusesTheRow(const QByteArray& sqlstate);

} // namespace kalder::pg
