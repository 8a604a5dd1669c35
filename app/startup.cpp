#include "app/startup.h"
#include "db/connection.h"

#include "app/base/failure.h"
#include "app/base/version.h"
#include "config/settings_file.h"
#include "db/engine.h"
#include "window/frm_main.h"

#include <QDir>
#include <QFileInfo>

namespace kalder {

bool chk_FileExist(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    const QString name = info.fileName();
    if (name.contains(QLatin1Char('*')) || name.contains(QLatin1Char('?'))) {
        const QDir dir = info.dir();
        return !dir.entryList({name}, QDir::Files | QDir::Hidden | QDir::System).isEmpty();
    }
    return info.isFile();
}

std::unique_ptr<FrmMain> Main(AppState& state, Dialogs* dialogs)
{
    const QString title = QStringLiteral(KALDER_APP_TITLE);
    state.DBIsOpen = false;

    std::unique_ptr<FrmMain> window = std::make_unique<FrmMain>(state, dialogs);
    Dialogs& shown = *window->controls().dialogs;

    if (get_PathToDB(state, shown))
        return nullptr; // already reported; no window

    if (state.PathToDB.isEmpty()) {
        shown.message(QStringLiteral("Путь к БД не определен"), title, Dialogs::Icon::Exclamation);
    } else if (isServerLocation(state.PathToDB) || chk_FileExist(state.PathToDB)) {
        // A server database is looked for by opening it: its failure names the server.
        enterSettingsFolder();
        auto connection = std::make_unique<Connection>();
        try {
            connection->Open(connectionStringFor(state.PathToDB), QString(), QString(), -1);
            state.DBConnection = std::move(connection);
            state.DBIsOpen = true;
        } catch (const Failure& f) {
            // A file that is not a database must not lock the operator out at every start:
            // report it and open the window without a connection, as for a wrong path.
            shown.message(f.text(), title, Dialogs::Icon::Exclamation);
        }
        if (state.DBIsOpen) {
            window->load(); // the load handling runs with the connection open
            window->controls().Text_PathToDB->setText(state.PathToDB);
        }
    } else {
        shown.message(QStringLiteral("Неверный путь к БД") + QStringLiteral("\r\n") + state.PathToDB, title,
                      Dialogs::Icon::Exclamation);
    }
    window->load(); // no effect when it has run already
    return window;
}

} // namespace kalder
