// The start-up on a database of a PostgreSQL server of the test's own: settings.cfg beside the
// executable holding the server's URI, as the README shows, and the URIs start-up refuses.
#include "app/base/failure.h"
#include "app/startup.h"
#include "config/settings_file.h"
#include "tests/app/app_support.h"
#include "tests/support/pg_server.h"
#include "tests/support/support.h"
#include "window/frm_main.h"

#include <QDir>
#include <QFile>
#include <QtTest>

using namespace kalder;
using namespace Qt::StringLiterals;
using test::pgServer;
using test::RecordingDialogs;

class TstPgStartup : public QObject {
    Q_OBJECT
    QString m_cfg;

private slots:
    void initTestCase()
    {
        KALDER_REQUIRE_PG_SERVER();
        pgServer().createDatabase(u"startup"_s);
        pgServer().exec(
            u"startup"_s,
            u"CREATE TABLE \"tblData\" (\"Code\" text, \"MinValue\" double precision, \"MaxValue\" double precision);\n"
            "INSERT INTO \"tblData\" VALUES ('k1', 1, 2), ('k2', 3, 4);\n"
            "CREATE TABLE \"tblSettings\" (\"LastFileName\" text, \"StrNumWithCapt\" integer, \"StrNumMAX\" integer);\n"
            "INSERT INTO \"tblSettings\" VALUES ('/книги/a.xls', 2, 77)"_s);
        m_cfg = QDir(applicationFolder()).filePath(u"settings.cfg"_s);
    }
    void cleanup() { QFile::remove(m_cfg); }
    void cleanupTestCase() { pgServer().stop(); }

    void windowOnTheServer()
    {
        const QString uri = pgServer().uri(u"startup"_s);
        test::writeFile(m_cfg, ("PathToDB=" + uri).toUtf8());
        AppState state;
        RecordingDialogs dialogs;
        const auto window = Main(state, &dialogs);
        QVERIFY(window);
        QVERIFY2(dialogs.shown.isEmpty(), qPrintable(dialogs.texts().join(u'|')));
        QVERIFY(state.DBIsOpen);
        QCOMPARE(state.PathToDB, uri);
        FormControls& ui = window->controls();
        QCOMPARE(ui.Text_PathToDB->text(), uri);
        QCOMPARE(ui.Text_DBRecordCount->text(), u"2"_s);
        QCOMPARE(ui.lv_DB->count(), 3);
        QCOMPARE(ui.Text_FileName->text(), u"/книги/a.xls"_s); // tblSettings read from the server
        QCOMPARE(ui.Text_StrNumWithCapt->text(), u"2"_s);
        QVERIFY(ui.Command_Update->isEnabled());
    }

    void serverRefused_data()
    {
        QTest::addColumn<QString>("uri");
        QTest::addColumn<QString>("words");
        QTest::newRow("database that does not exist") << pgServer().uri(u"none"_s) << u"Не удалось подключиться"_s;
        QTest::newRow("password in the URI") << u"postgresql://kalder:secret@/startup?host=/tmp"_s << u"PGPASSWORD"_s;
    }
    void serverRefused()
    {
        QFETCH(QString, uri);
        QFETCH(QString, words);
        test::writeFile(m_cfg, ("PathToDB=" + uri).toUtf8());
        AppState state;
        RecordingDialogs dialogs;
        const auto window = Main(state, &dialogs);
        QVERIFY(window); // the window opens without a database, as for a wrong path
        QVERIFY(!state.DBIsOpen);
        QCOMPARE(dialogs.shown.size(), 1);
        QVERIFY2(dialogs.shown[0].text.contains(words), qPrintable(dialogs.shown[0].text));
        QVERIFY2(dialogs.shown[0].text.endsWith(u"(%1)"_s.arg(err::ServerUnreachable)),
                 qPrintable(dialogs.shown[0].text));
        QVERIFY(!window->controls().Command_Update->isEnabled());
    }
};

QTEST_MAIN(TstPgStartup)
#include "tst_pg_startup.moc"
