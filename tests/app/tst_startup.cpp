// Start-up against real files: settings.cfg beside the executable, real SQLite databases.
#include "../support/support.h"
#include "app/base/failure.h"
#include "app/startup.h"
#include "app_support.h"
#include "config/settings_file.h"
#include "db/connection.h"
#include "window/frm_main.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

using namespace kalder;
using test::makeDb;
using test::RecordingDialogs;
using test::writeFile;

class TstStartup : public QObject {
    Q_OBJECT
    QString m_cfg, m_db;

private slots:
    void init()
    {
        m_cfg = QDir(applicationFolder()).filePath("settings.cfg");
        m_db = QDir(applicationFolder()).filePath("startup-test.db");
        QFile::remove(m_cfg);
        QFile::remove(m_db);
    }
    void cleanup()
    {
        QFile::remove(m_cfg);
        QFile::remove(m_db);
    }

    void missingSettingsFileEndsWithoutWindow()
    {
        AppState state;
        RecordingDialogs dialogs;
        QVERIFY(!Main(state, &dialogs));
        QCOMPARE(dialogs.shown.size(), 1);
        QCOMPARE(dialogs.shown[0].text, "Не найден конфигурационный файл");
        QCOMPARE(dialogs.shown[0].title, "get_PathToDB");
    }

    void windowWithoutDatabase_data()
    {
        QTest::addColumn<QByteArray>("cfg");
        QTest::addColumn<QString>("message");
        QTest::newRow("no PATHTODB line") << QByteArray("# nothing here\r\nOTHER=1") << "Путь к БД не определен";
        QTest::newRow("missing file") << QByteArray("PathToDB=/no/such/base.db")
                                      << "Неверный путь к БД\r\n/no/such/base.db";
        QTest::newRow("folder is not a file") << QByteArray("PathToDB=/tmp") << "Неверный путь к БД\r\n/tmp";
        QTest::newRow("not a database") << QByteArray("PathToDB=settings.cfg") << "<not a database>";
    }
    void windowWithoutDatabase()
    {
        QFETCH(QByteArray, cfg);
        QFETCH(QString, message);
        writeFile(m_cfg, cfg);
        AppState state;
        RecordingDialogs dialogs;
        const auto window = Main(state, &dialogs);
        QVERIFY(window);
        QVERIFY(!state.DBIsOpen);
        QVERIFY(!state.connection());
        QCOMPARE(dialogs.shown.size(), 1);
        QCOMPARE(dialogs.shown[0].title, "Kalder");
        QCOMPARE(dialogs.shown[0].icon, Dialogs::Icon::Exclamation);
        if (message == "<not a database>")
            QVERIFY2(dialogs.shown[0].text.endsWith(QStringLiteral("(%1)").arg(err::fromSqlite(26))),
                     qPrintable(dialogs.shown[0].text));
        else
            QCOMPARE(dialogs.shown[0].text, message);
        QCOMPARE(window->controls().Text_PathToDB->text(), QString());
        QVERIFY(!window->controls().Command_Update->isEnabled());
    }

    void relativePathResolvedBesideExecutable()
    {
        makeDb(m_db);
        writeFile(m_cfg, "PathToDB = startup-test.db ");
        QTemporaryDir elsewhere;
        QDir::setCurrent(elsewhere.path());
        AppState state;
        RecordingDialogs dialogs;
        const auto window = Main(state, &dialogs);
        QVERIFY(window);
        QVERIFY2(dialogs.shown.isEmpty(), qPrintable(dialogs.texts().join('|')));
        QVERIFY(state.DBIsOpen);
        QVERIFY(state.connection());
        QCOMPARE(QDir::currentPath(), QDir(applicationFolder()).absolutePath());
        QCOMPARE(window->controls().Text_PathToDB->text(), "startup-test.db");
        QCOMPARE(window->controls().Text_DBRecordCount->text(), "1");
        QCOMPARE(window->controls().lv_DB->count(), 3);
        QVERIFY(window->controls().Command_Update->isEnabled());
    }

    void fileTest()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("a.mdb"), "x");
        QVERIFY(chk_FileExist(dir.filePath("a.mdb")));
        QVERIFY(chk_FileExist(dir.filePath("*.mdb")));
        QVERIFY(chk_FileExist(dir.filePath("?.mdb")));
        QVERIFY(!chk_FileExist(dir.filePath("*.xls")));
        QVERIFY(!chk_FileExist(dir.path()));
        QVERIFY(!chk_FileExist(QString()));
    }
};

QTEST_MAIN(TstStartup)
#include "tst_startup.moc"
