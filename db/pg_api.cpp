#include "db/pg_api.h"

#include "app/base/failure.h"

#include <dlfcn.h>

#include <cstring>

namespace kalder::pg {

namespace {

const char* const LibraryName = "libpq.so.5";

// Fills api from the library; the name of what is missing, or nullptr when all is there.
const char* load(LibPq& api)
{
    void* library = dlopen(LibraryName, RTLD_NOW | RTLD_LOCAL); // kept for the whole run
    if (!library)
        return LibraryName;
#define KALDER_LIBPQ_RESOLVE(name)                                                                                     \
    if (void* symbol = dlsym(library, #name))                                                                          \
        std::memcpy(&api.name, &symbol, sizeof symbol);                                                                \
    else                                                                                                               \
        return #name;
    KALDER_LIBPQ_FUNCTIONS(KALDER_LIBPQ_RESOLVE)
#undef KALDER_LIBPQ_RESOLVE
    return nullptr;
}

} // namespace

const LibPq& libpq()
{
    static LibPq api;
    static const char* const missing = load(api);
    if (missing)
        throw Failure(err::ServerUnreachable,
                      QStringLiteral("Клиентская библиотека PostgreSQL не загружается (%1): установите пакет libpq5")
                          .arg(QString::fromLatin1(missing)));
    return api;
}

} // namespace kalder::pg
