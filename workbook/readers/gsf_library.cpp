#include "workbook/readers/gsf_library.h"

#include <mutex>

namespace kalder {

void GsfRelease::operator()(void* object) const noexcept { g_object_unref(object); }

void startGsf()
{
    static std::once_flag started;
    std::call_once(started, [] {
        gsf_init();
        // Some of the library's warnings are logged without a domain.
        for (const char* domain : {"libgsf:zip", "libgsf:msole", "libgsf", static_cast<const char*>(nullptr)})
            g_log_set_handler(
                domain,
                GLogLevelFlags(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE | G_LOG_LEVEL_INFO |
                               G_LOG_LEVEL_DEBUG),
                [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
        g_set_printerr_handler([](const gchar*) {});
    });
}

} // namespace kalder
