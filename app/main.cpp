// The executable: Qt with its own texts in the operator's language, then start-up. No
// command line of its own.
#include "app/startup.h"
#include "db/connection.h"
#include "window/frm_main.h"
#include "window/toolkit.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const auto translations = kalder::toolkitTranslations(QLocale::system());
    if (translations)
        QCoreApplication::installTranslator(translations.get());
    kalder::AppState state;
    const auto window = kalder::Main(state);
    if (!window)
        return 0;
    window->show();
    return app.exec();
}
