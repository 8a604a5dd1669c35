// The window's commands on memory controls, with real workbooks and real SQLite files.
#include "../support/support.h"
#include "app/base/failure.h"
#include "config/settings_file.h"
#include "db/connection.h"
#include "window/commands.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

using namespace kalder;
using test::MemoryForm;

namespace {
const QString Fixture = QStringLiteral(KALDER_FIXTURES "/commands.xls");
const QString BadNumber = QStringLiteral("Введенное значение может содержать только цифры и быть не отрицательным");

const QStringList Schema = {"CREATE TABLE tblData (Code TEXT COLLATE NOCASE, MinValue REAL, MaxValue REAL)",
                            test::SettingsTable};

void open(AppState& state, const QString& path) { test::openSession(state, path); }

QVariant scalar(const AppState& state, const QString& sql)
{
    QSqlQuery q(state.DBConnection->database());
    if (!q.exec(sql) || !q.next())
        return QVariant();
    return q.value(0);
}

QByteArray settingsFile()
{
    QFile f(QDir(applicationFolder()).filePath("settings.cfg"));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
}
} // namespace

class TstCommands : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void cleanup() { QFile::remove(QDir(applicationFolder()).filePath("settings.cfg")); }

    void cancelledDialogsChangeNothing()
    {
        AppState state;
        open(state, test::makeDatabase(m_dir.filePath("c.db"), Schema));
        MemoryForm form;
        Command_SelectFile_Click(state, form.ui);
        Command_SetPathToDB_Click(state, form.ui);
        QCOMPARE(form.dialogs.requests.size(), 2);
        QCOMPARE(form.dialogs.requests[0].title, "Выбор файла");
        // The workbook's formats, SQLite's usual names, and all files after each.
        QCOMPARE(form.dialogs.requests[0].filters,
                 (QStringList{"Выберите файл (*.xls;*.xlsx;*.xlsm;*.ods;*.csv)", "All Files (*.*)"}));
        QCOMPARE(form.dialogs.requests[0].patterns, (QStringList{"*.xls;*.xlsx;*.xlsm;*.ods;*.csv", "*.*"}));
        QCOMPARE(form.dialogs.requests[0].defaultExtension, "xls");
        QCOMPARE(form.dialogs.requests[1].filters,
                 (QStringList{"Выберите файл (*.db;*.sqlite;*.sqlite3;*.db3)", "All Files (*.*)"}));
        QCOMPARE(form.dialogs.requests[1].patterns, (QStringList{"*.db;*.sqlite;*.sqlite3;*.db3", "*.*"}));
        QCOMPARE(form.dialogs.requests[1].defaultExtension, "db");
        QVERIFY(form.dialogs.shown.isEmpty());
        QCOMPARE(form.Text_FileName.text(), QString());
        QCOMPARE(form.Text_PathToDB.text(), QString());
        QCOMPARE(scalar(state, "SELECT count(*) FROM tblSettings").toInt(), 0);
        QCOMPARE(settingsFile(), QByteArray("<none>"));
    }

    void chosenWorkbookIsStored()
    {
        AppState state;
        open(state, test::makeDatabase(m_dir.filePath("s.db"), Schema));
        MemoryForm form;
        form.dialogs.files = QStringList{Fixture};
        Command_SelectFile_Click(state, form.ui);
        QCOMPARE(form.Text_FileName.text(), Fixture);
        QCOMPARE(scalar(state, "SELECT LastFileName FROM tblSettings").toString(), Fixture);

        // Without a database the box is filled and nothing is stored or shown.
        AppState none;
        MemoryForm bare;
        bare.dialogs.files = QStringList{Fixture};
        Command_SelectFile_Click(none, bare.ui);
        QCOMPARE(bare.Text_FileName.text(), Fixture);
        QVERIFY(bare.dialogs.shown.isEmpty());
    }

    void analysisReadsLeadingNumber()
    {
        AppState state;
        MemoryForm form;
        form.Text_FileName.setText(Fixture);
        form.Text_StrNumWithCapt.setText("3x");
        form.link("1", 1, "old", "Code", 1);
        Command_Analize_Click(state, form.ui);
        QCOMPARE(form.dialogs.texts(), QStringList{"Анализ входных полей выполнен"});
        QCOMPARE(form.dialogs.shown[0].icon, Dialogs::Icon::Information);
        QCOMPARE(form.lv_Fields.count(), 3);
        QCOMPARE(form.lv_Fields.text(1), "Код");
        QCOMPARE(form.lv.count(), 0); // a successful analysis empties the links
    }

    void analysisRefusals_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("header");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("empty workbook path") << ""
                                             << "3" << QStringList{"Не задано имя эксель файла"};
        QTest::newRow("header row beyond 32 bits") << Fixture << "99999999999" << QStringList{BadNumber};
        QTest::newRow("header row 0 fails in the analysis")
            << Fixture << "abc" << QStringList{"<xls_FieldsName>", "Ошибка при анализе входного файла"};
    }
    void analysisRefusals()
    {
        QFETCH(QString, file);
        QFETCH(QString, header);
        QFETCH(QStringList, messages);
        AppState state;
        MemoryForm form;
        form.Text_FileName.setText(file);
        form.Text_StrNumWithCapt.setText(header);
        form.lv_Fields.add(1, "stale");
        form.link("1", 1, "kept", "Code", 1);
        Command_Analize_Click(state, form.ui);
        QStringList shown = form.dialogs.texts();
        if (messages.value(0) == "<xls_FieldsName>") {
            QCOMPARE(form.dialogs.shown.value(0).title, "xls_FieldsName");
            shown[0] = messages[0];
        }
        QCOMPARE(shown, messages);
        QCOMPARE(form.lv_Fields.count(), 0);
        QCOMPARE(form.lv.count(), 1); // the links stay
        if (file.isEmpty())
            QVERIFY(form.Command_SelectFile.focused());
        if (messages == QStringList{BadNumber}) {
            QVERIFY(form.Text_StrNumWithCapt.focused());
            QCOMPARE(form.Text_StrNumWithCapt.selLength(), header.size());
        }
    }

    void loadRefusals_data()
    {
        QTest::addColumn<bool>("links");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("header");
        QTest::addColumn<QString>("last");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("focus");
        QTest::newRow("no links") << false << Fixture << "3"
                                  << "6"
                                  << "Не определена связь полей в БД и во входном файле"
                                  << "";
        QTest::newRow("empty workbook path") << true << ""
                                             << "3"
                                             << "6"
                                             << "Не задано имя эксель файла"
                                             << "select";
        QTest::newRow("last row empty") << true << Fixture << "3"
                                        << "" << BadNumber << "max";
        QTest::newRow("last row beyond 32 bits") << true << Fixture << "3"
                                                 << "2147483648" << BadNumber << "max";
        QTest::newRow("header row not a number") << true << Fixture << "3x"
                                                 << "6" << BadNumber << "header";
        QTest::newRow("both bad: the last row first") << true << Fixture << "x"
                                                      << "y" << BadNumber << "max";
    }
    void loadRefusals()
    {
        QFETCH(bool, links);
        QFETCH(QString, file);
        QFETCH(QString, header);
        QFETCH(QString, last);
        QFETCH(QString, message);
        QFETCH(QString, focus);
        AppState state;
        open(state, test::makeDatabase(m_dir.filePath(QString("r%1.db").arg(QTest::currentDataTag()).replace(' ', '_')),
                                       Schema));
        MemoryForm form;
        form.Text_FileName.setText(file);
        form.Text_StrNumWithCapt.setText(header);
        form.Text_StrNumMAX.setText(last);
        if (links)
            form.link("1", 1, "Код", "Code", 1);
        Command_Update_Click(state, form.ui);
        QCOMPARE(form.dialogs.texts(), QStringList{message});
        QCOMPARE(scalar(state, "SELECT count(*) FROM tblData").toInt(), 0);
        QCOMPARE(form.Command_SelectFile.focused(), focus == "select");
        QCOMPARE(form.Text_StrNumMAX.focused(), focus == "max");
        QCOMPARE(form.Text_StrNumWithCapt.focused(), focus == "header");
    }

    void loadThroughTheCommand()
    {
        AppState state;
        open(state, test::makeDatabase(m_dir.filePath("l.db"), Schema));
        MemoryForm form;
        form.Text_FileName.setText(Fixture);
        form.Text_StrNumWithCapt.setText(" 3 ");
        form.Text_StrNumMAX.setText("6");
        form.link("1", 1, "Код", "Code", 1);
        form.link("2", 2, "Мин", "MinValue", 2);
        form.link("3", 3, "Макс", "MaxValue", 3);
        Command_Update_Click(state, form.ui);
        QCOMPARE(form.dialogs.texts(), QStringList{"Обработка данных успешно завершена"});
        QCOMPARE(form.Text_DBRecordCountNew.text(), "2");
        QCOMPARE(scalar(state, "SELECT MinValue || '/' || MaxValue FROM tblData WHERE Code = 'K1'").toString(),
                 "0.5/9.0");
    }

    void leavingRowBoxes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("after");
        QTest::addColumn<bool>("message");
        QTest::addColumn<QVariant>("stored");
        QTest::newRow("accepted, normalised, stored") << " 007 "
                                                      << "7" << false << QVariant(7);
        QTest::newRow("negative refused") << "-5"
                                          << "-5" << true << QVariant();
        QTest::newRow("empty: nothing") << ""
                                        << "" << false << QVariant();
    }
    void leavingRowBoxes()
    {
        QFETCH(QString, text);
        QFETCH(QString, after);
        QFETCH(bool, message);
        QFETCH(QVariant, stored);
        AppState state;
        open(state, test::makeDatabase(m_dir.filePath(QString("b%1.db").arg(text.size())), Schema));
        MemoryForm form;
        form.Text_StrNumMAX.setText(text);
        Text_StrNumMAX_LostFocus(state, form.ui);
        form.Text_StrNumWithCapt.setText(text);
        Text_StrNumWithCapt_LostFocus(state, form.ui);
        QCOMPARE(form.Text_StrNumMAX.text(), after);
        QCOMPARE(form.dialogs.shown.size(), message ? 2 : 0);
        QCOMPARE(form.Text_StrNumMAX.focused(), message);
        QCOMPARE(scalar(state, "SELECT StrNumMAX FROM tblSettings").toInt(), stored.toInt());
        QCOMPARE(scalar(state, "SELECT StrNumWithCapt FROM tblSettings").toInt(), stored.toInt());
    }

    void choosingAnotherDatabase()
    {
        AppState state;
        open(state, test::makeDatabase(m_dir.filePath("first.db"), Schema));
        const QString second = test::makeDatabase(m_dir.filePath("second.db"),
                                                  {"CREATE TABLE tblData (Art TEXT, Lo REAL, Hi REAL, Extra TEXT)",
                                                   "INSERT INTO tblData VALUES ('x', 1, 2, '')", test::SettingsTable,
                                                   "INSERT INTO tblSettings VALUES ('/in/book.xls', 4, 5000)"});
        MemoryForm form;
        form.Command_Analize.setEnabled(false);
        form.Command_Update.setEnabled(false);
        form.lv_DB.add(1, "Code");
        form.dialogs.files = QStringList{second};
        Command_SetPathToDB_Click(state, form.ui);
        QVERIFY2(form.dialogs.shown.isEmpty(), qPrintable(form.dialogs.texts().join('|')));
        QCOMPARE(state.connection()->path(), second);
        QCOMPARE(form.Text_PathToDB.text(), second);
        QCOMPARE(settingsFile(), "PathToDB=" + second.toLocal8Bit());
        QCOMPARE(form.Text_FileName.text(), "/in/book.xls");
        QCOMPARE(form.Text_StrNumWithCapt.text(), "4");
        QCOMPARE(form.Text_StrNumMAX.text(), "5000");
        QCOMPARE(form.Text_DBRecordCount.text(), "1");
        QVERIFY(form.Command_Analize.isEnabled() && form.Command_Update.isEnabled());
        QCOMPARE(form.lv_DB.count(), 4);
        QCOMPARE(form.lv_DB.text(1), "Art");
    }

    void dialogFolders_data()
    {
        QTest::addColumn<bool>("database"); // Command_SetPathToDB, else Command_SelectFile
        QTest::addColumn<QString>("box"); // the text of the dialog's box
        QTest::addColumn<QString>("chosenBefore"); // chosen just before in the other dialog
        QTest::addColumn<QString>("opensIn");
        // <a> and <b> are two folders, <app> the application folder (which holds settings.cfg),
        // <none> a missing folder.
        QTest::newRow("workbook: the box's folder") << false << "<a>/book.xls"
                                                    << ""
                                                    << "<a>";
        QTest::newRow("workbook: the box's folder, though another was chosen") << false << "<a>/book.xls"
                                                                               << "<b>/base.db"
                                                                               << "<a>";
        QTest::newRow("workbook: empty box, the folder last chosen") << false << ""
                                                                     << "<b>/base.db"
                                                                     << "<b>";
        QTest::newRow("workbook: missing folder, the folder last chosen") << false << "<none>/book.xls"
                                                                          << "<b>/base.db"
                                                                          << "<b>";
        QTest::newRow("workbook: empty box, nothing chosen") << false << ""
                                                             << ""
                                                             << "<app>";
        QTest::newRow("database: the box's folder") << true << "<a>/base.db"
                                                    << "<b>/book.xls"
                                                    << "<a>";
        QTest::newRow("database: relative to the folder of settings.cfg") << true << "sub/base.db"
                                                                          << ""
                                                                          << "<app>/sub";
        QTest::newRow("database: a name alone, the application folder") << true << "demo.db"
                                                                        << "<b>/book.xls"
                                                                        << "<app>";
        QTest::newRow("database: missing folder, nothing chosen") << true << "<none>/base.db"
                                                                  << ""
                                                                  << "<app>";
        QTest::newRow("database: empty box, the folder last chosen") << true << ""
                                                                     << "<b>/book.xls"
                                                                     << "<b>";
    }

    void dialogFolders()
    {
        QFETCH(bool, database);
        QFETCH(QString, box);
        QFETCH(QString, chosenBefore);
        QFETCH(QString, opensIn);
        QTemporaryDir app, a, b;
        QVERIFY(QDir(app.path()).mkdir("sub"));
        auto expand = [&](QString text) {
            return text.replace("<app>", app.path())
                .replace("<a>", a.path())
                .replace("<b>", b.path())
                .replace("<none>", app.filePath("none"));
        };
        setApplicationFolderForTesting(app.path());
        const auto restore = qScopeGuard([] { setApplicationFolderForTesting(QString()); });
        const QString cwd = QDir::currentPath();

        AppState state;
        MemoryForm form;
        if (!chosenBefore.isEmpty()) {
            // A database that does not open, or a workbook without a database: the choice
            // counts all the same.
            form.dialogs.files = QStringList{expand(chosenBefore)};
            (database ? Command_SelectFile_Click : Command_SetPathToDB_Click)(state, form.ui);
        }
        (database ? form.Text_PathToDB : form.Text_FileName).setText(expand(box));
        (database ? Command_SetPathToDB_Click : Command_SelectFile_Click)(state, form.ui);

        QVERIFY(!form.dialogs.requests.isEmpty());
        QCOMPARE(form.dialogs.requests.last().initialFolder, QDir(expand(opensIn)).absolutePath());
        QCOMPARE(QDir::currentPath(), cwd);
    }

    void databaseThatCannotBeOpened()
    {
        AppState state;
        const QString first = test::makeDatabase(m_dir.filePath("keep.db"), Schema);
        open(state, first);
        const QString text = m_dir.filePath("notes.mdb");
        QFile f(text);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("just text");
        f.close();
        MemoryForm form;
        form.Text_PathToDB.setText(first);
        form.lv_DB.add(1, "Code");
        for (const QString& chosen : {text, m_dir.filePath("missing.mdb")}) {
            form.dialogs.files = QStringList{chosen};
            Command_SetPathToDB_Click(state, form.ui);
        }
        QCOMPARE(form.dialogs.shown.size(), 2);
        QVERIFY(form.dialogs.shown[0].text.endsWith(QStringLiteral("(%1)").arg(err::fromSqlite(26)))); // SQLITE_NOTADB
        QCOMPARE(form.dialogs.shown[0].title, "Kalder");
        QCOMPARE(state.connection()->path(), first); // the working connection stays
        QCOMPARE(form.Text_PathToDB.text(), first);
        QCOMPARE(form.lv_DB.count(), 1);
        QCOMPARE(settingsFile(), QByteArray("<none>"));
        QVERIFY(!QFile::exists(m_dir.filePath("missing.mdb")));
    }
};

QTEST_GUILESS_MAIN(TstCommands)
#include "tst_commands.moc"
