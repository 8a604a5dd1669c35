// The executable: Qt, the fonts the window names, then start-up. No command line of its own.
#include "app/startup.h"
#include "window/frm_main.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    kalder::AppState state;
    const auto window = kalder::Main(state);
    if (!window)
        return 0;
    window->show();
    return app.exec();
}
