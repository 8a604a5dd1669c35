// Where settings.cfg lives: beside the executable when this user can write that folder, else in
// the user's config folder, against real folders whose permission bits refuse writing. Started
// as root, the program runs itself again as an unprivileged user, for whom the bits count.
#include "../support/support.h"
#include "../support/unprivileged.h"
#include "app/startup.h"
#include "app_support.h"
#include "config/settings_file.h"
#include "db/connection.h"
#include "window/frm_main.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using namespace kalder;
using test::makeDb;
using test::RecordingDialogs;
using test::writeFile;

namespace {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
}

} // namespace

class TstSettingsLocation : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_root;
    QString m_app, m_home, m_xdg;

    QString userFolder() const { return QDir(m_xdg).filePath("kalder"); }

    // The application folder loses its write bit; the test proves that this user is refused.
    void lockApplicationFolder()
    {
        QVERIFY(QFile::setPermissions(m_app, QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                                 QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                                 QFileDevice::ExeOther));
        QFile probe(QDir(m_app).filePath("probe"));
        QVERIFY2(!probe.open(QIODevice::WriteOnly), "the locked application folder still takes files");
    }

private slots:
    void initTestCase() { QVERIFY2(::geteuid() != 0, "permission bits do not bind root"); }

    void init()
    {
        m_root = std::make_unique<QTemporaryDir>();
        QVERIFY(m_root->isValid());
        const QDir root(m_root->path());
        m_app = root.filePath("bin");
        m_home = root.filePath("home");
        m_xdg = root.filePath("xdg");
        QVERIFY(root.mkpath("bin") && root.mkpath("home") && root.mkpath("xdg"));
        setApplicationFolderForTesting(m_app);
        qputenv("HOME", m_home.toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", m_xdg.toLocal8Bit());
    }
    void cleanup()
    {
        QFile::setPermissions(m_app, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        setApplicationFolderForTesting(QString());
        QDir::setCurrent(QDir::tempPath());
        m_root.reset();
    }

    void folder_data()
    {
        QTest::addColumn<bool>("locked");
        QTest::addColumn<QString>("xdg"); // "-": unset
        QTest::addColumn<QString>("expected"); // {app}, {home}, {xdg} stand for the folders
        QTest::newRow("writable: beside the executable") << false << "{xdg}"
                                                         << "{app}";
        QTest::newRow("locked: XDG_CONFIG_HOME/kalder") << true << "{xdg}"
                                                        << "{xdg}/kalder";
        QTest::newRow("locked, no XDG_CONFIG_HOME: ~/.config") << true << "-"
                                                               << "{home}/.config/kalder";
        QTest::newRow("locked, empty XDG_CONFIG_HOME: ~/.config") << true << ""
                                                                  << "{home}/.config/kalder";
        QTest::newRow("locked, relative XDG_CONFIG_HOME ignored") << true << "conf"
                                                                  << "{home}/.config/kalder";
        QTest::newRow("application folder gone stays the place") << false << "{xdg}"
                                                                 << "{app}/gone";
    }
    void folder()
    {
        QFETCH(bool, locked);
        QFETCH(QString, xdg);
        QFETCH(QString, expected);
        const auto fill = [this](QString s) {
            return s.replace("{app}", m_app).replace("{home}", m_home).replace("{xdg}", m_xdg);
        };
        if (xdg == u"-")
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", fill(xdg).toLocal8Bit());
        if (locked)
            lockApplicationFolder();
        if (expected.endsWith(u"/gone"))
            setApplicationFolderForTesting(QDir(m_app).filePath("gone"));
        QCOMPARE(settingsFolder(), fill(expected));
    }

    // With the folder locked, the window's choice of a database writes the user's file, making
    // its folder, and reads it back from there; nothing lands beside the executable.
    void lockedWriteThenRead()
    {
        lockApplicationFolder();
        RecordingDialogs dialogs;
        MemoryTextBox box(QStringLiteral("База.db"));
        QCOMPARE(set_Settings(box, dialogs), false);
        QCOMPARE(dialogs.texts(), QStringList());
        QCOMPARE(readFile(QDir(userFolder()).filePath("settings.cfg")), QByteArray("PathToDB=База.db"));
        QCOMPARE(QDir(m_app).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());

        AppState state;
        QDir::setCurrent(m_home);
        QCOMPARE(get_PathToDB(state, dialogs), false);
        QCOMPARE(state.PathToDB, QStringLiteral("База.db"));
        QCOMPARE(QDir::currentPath(), QDir(userFolder()).canonicalPath());
    }

    void lockedUserFolderCannotBeMade()
    {
        lockApplicationFolder();
        writeFile(QDir(m_xdg).filePath("kalder"), "a file where the folder should be");
        RecordingDialogs dialogs;
        MemoryTextBox box(QStringLiteral("a.db"));
        QCOMPARE(set_Settings(box, dialogs), false);
        QCOMPARE(dialogs.shown.size(), 1);
        QCOMPARE(dialogs.shown[0].title, "set_Settings");
        QVERIFY2(dialogs.shown[0].text.contains(userFolder()), qPrintable(dialogs.shown[0].text));
        QVERIFY2(dialogs.shown[0].text.endsWith(" (76)"), qPrintable(dialogs.shown[0].text));
    }

    // The start-up in each place: which settings.cfg counts, against which folder a relative
    // path is resolved, and that a first start in the user's folder still opens the window.
    void startup_data()
    {
        QTest::addColumn<bool>("locked");
        QTest::addColumn<QString>("appCfg"); // settings.cfg beside the executable, "-": none
        QTest::addColumn<QString>("userCfg"); // settings.cfg in the user's folder, "-": none
        QTest::addColumn<QString>("message"); // the one message shown, "" for none
        QTest::addColumn<int>("records"); // of the database opened, -1: no window, 0: none opened
        // app.db beside the executable holds 1 record, user.db in the user's folder holds 2.
        QTest::newRow("writable: the executable's file, relative to it") << false << "PathToDB=app.db"
                                                                         << "PathToDB=user.db"
                                                                         << "" << 1;
        QTest::newRow("writable without file: no window, as before") << false << "-"
                                                                     << "PathToDB=user.db"
                                                                     << "Не найден конфигурационный файл" << -1;
        QTest::newRow("locked: the user's file, relative to its folder") << true << "PathToDB=app.db"
                                                                         << "PathToDB=user.db"
                                                                         << "" << 2;
        QTest::newRow("locked, user's file names the executable's database") << true << "-"
                                                                             << "PathToDB={app}/app.db"
                                                                             << "" << 1;
        QTest::newRow("locked, first start: window without a database") << true << "PathToDB=app.db"
                                                                        << "-"
                                                                        << "Путь к БД не определен" << 0;
        QTest::newRow("locked, relative path missing in the user's folder") << true << "-"
                                                                            << "PathToDB=app.db"
                                                                            << "Неверный путь к БД\r\napp.db" << 0;
    }
    void startup()
    {
        QFETCH(bool, locked);
        QFETCH(QString, appCfg);
        QFETCH(QString, userCfg);
        QFETCH(QString, message);
        QFETCH(int, records);
        makeDb(QDir(m_app).filePath("app.db"), 1);
        if (appCfg != u"-")
            writeFile(QDir(m_app).filePath("settings.cfg"), appCfg.toUtf8());
        QVERIFY(QDir(m_xdg).mkpath("kalder"));
        makeDb(QDir(userFolder()).filePath("user.db"), 2);
        if (userCfg != u"-")
            writeFile(QDir(userFolder()).filePath("settings.cfg"), userCfg.replace("{app}", m_app).toUtf8());
        else
            QVERIFY(QDir(userFolder()).removeRecursively()); // a first start has no folder either
        if (locked)
            lockApplicationFolder();
        QDir::setCurrent(m_home); // started from the menu: the current folder is any other

        AppState state;
        RecordingDialogs dialogs;
        const auto window = Main(state, &dialogs);
        QCOMPARE(dialogs.texts(), message.isEmpty() ? QStringList() : QStringList{message});
        QCOMPARE(bool(window), records >= 0);
        if (!window)
            return;
        QCOMPARE(state.DBIsOpen, records > 0);
        if (records > 0)
            QCOMPARE(window->controls().Text_DBRecordCount->text(), QString::number(records));
        QCOMPARE(window->controls().Command_Update->isEnabled(), records > 0);
        if (userCfg == u"-")
            QVERIFY2(!QFileInfo::exists(userFolder()), "a first start wrote into the user's folder");
    }
};

int main(int argc, char** argv)
{
    if (const int status = kalder::test::rerunUnprivileged(argc, argv); status >= 0)
        return status;
    QApplication app(argc, argv);
    TstSettingsLocation test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settings_location.moc"
