// The window's procedures on memory controls: the load handling against real SQLite files,
// the unload handling, and the editing of the link list.
#include "app/base/failure.h"
#include "app/base/version.h"
#include "tests/window/window_support.h"
#include "window/form_logic.h"

#include <QtTest>

using namespace kalder;
using namespace kalder::test;

namespace {

const QString BadNumber = QStringLiteral("Введенное значение может содержать только цифры и быть не отрицательным");

const QStringList Settings{
    QStringLiteral("create table tblSettings (LastFileName text, StrNumWithCapt integer, StrNumMAX integer)")};
const QStringList DataTable{QStringLiteral("create table tblData (A text, B real, C real)"),
                            QStringLiteral("insert into tblData values ('k1', 1, 2)"),
                            QStringLiteral("insert into tblData values ('k2', 3, 4)")};

// A list view that refuses its columns, to make the load handling fail half way.
struct RefusingListView : MemoryListView {
    void addColumn(const QString&, int) override
    {
        throw Failure(err::InvalidProperty, QStringLiteral("Колонка отклонена"));
    }
};

QString versioned()
{
    return DesignCaption + QStringLiteral(" (версия %1.%2.%3)")
                               .arg(KALDER_VERSION_MAJOR)
                               .arg(KALDER_VERSION_MINOR)
                               .arg(KALDER_VERSION_REVISION);
}

// Fills lv_Fields as the analysis would: header text and column number.
void fillFields(MemoryForm& f, const QStringList& headers)
{
    for (int i = 0; i < headers.size(); ++i) {
        f.lv_Fields.add(i + 1, headers[i]);
        f.lv_Fields.setSubItem(i + 1, 1, QString::number(i + 1));
    }
}

void fillDB(MemoryForm& f, const QStringList& names)
{
    for (int i = 0; i < names.size(); ++i) {
        f.lv_DB.add(i + 1, names[i]);
        f.lv_DB.setSubItem(i + 1, 1, QString::number(i + 1));
    }
}

// A drag out of lv_Fields of row index, answered with rule.
void linkField(MemoryForm& f, int index, const QString& rule)
{
    f.lv_Fields.select(index);
    f.dialogs.answers = {rule};
    fld_ADD(f.ui, FromFields);
}

} // namespace

class TstFormLogic : public QObject {
    Q_OBJECT
private slots:
    void legendAndPrompt();
    void load_data();
    void load();
    void loadFailureStopsAndReports();
    void unload();
    void ruleInput_data();
    void ruleInput();
    void linkRowLayoutAndDuplicates();
    void databaseField();
    void nothingSelected_data();
    void nothingSelected();
    void otherSourcesDoNothing();
    void doubleClick_data();
    void doubleClick();
};

void TstFormLogic::legendAndPrompt()
{
    const QStringList legend = RulesLegend.split(QStringLiteral("\r\n"));
    QCOMPARE(legend, (QStringList{QStringLiteral("Правила для загрузки данных в БД:"), QString(33, u'-'),
                                  QStringLiteral("  1: проверяется уникальность данных в БД;"),
                                  QStringLiteral("  2: определяется MIN значение;"),
                                  QStringLiteral("  3: определяется MAX значение;")}));
    QVERIFY(!RulesLegend.endsWith(u'\n'));
    QCOMPARE(RulePrompt, QStringLiteral("Введите номер правила:\r\n") + legend.mid(2).join(QStringLiteral("\r\n")));
}

void TstFormLogic::load_data()
{
    QTest::addColumn<bool>("database");
    QTest::addColumn<QStringList>("sql");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("strNumWithCapt");
    QTest::addColumn<QString>("strNumMAX");
    QTest::addColumn<QString>("recordCount");
    QTest::addColumn<QStringList>("dbRows");

    const QStringList abc{QStringLiteral("A|1"), QStringLiteral("B|2"), QStringLiteral("C|3")};
    QTest::newRow("no database: initial texts, no fields") << false << QStringList() << ""
                                                           << "0"
                                                           << "100"
                                                           << "0" << QStringList();
    QTest::newRow("settings row restores all three values")
        << true
        << (Settings + DataTable +
            QStringList{QStringLiteral("insert into tblSettings values ('D:\\in\\book.xls', 3, 5000)")})
        << "D:\\in\\book.xls"
        << "3"
        << "5000"
        << "2" << abc;
    QTest::newRow("empty tblSettings keeps the boxes") << true << (Settings + DataTable) << ""
                                                       << "0"
                                                       << "100"
                                                       << "2" << abc;
    QTest::newRow("NULL StrNumMAX keeps 100, NULL header row reads 0")
        << true
        << (Settings + DataTable + QStringList{QStringLiteral("insert into tblSettings values ('in.xls', NULL, NULL)")})
        << "in.xls"
        << "0"
        << "100"
        << "2" << abc;
    QTest::newRow("stored 0 as last row is shown")
        << true
        << (Settings + DataTable + QStringList{QStringLiteral("insert into tblSettings values ('in.xls', 1, 0)")})
        << "in.xls"
        << "1"
        << "0"
        << "2" << abc;
    QTest::newRow("only the first record counts")
        << true
        << (Settings + DataTable +
            QStringList{QStringLiteral("insert into tblSettings values ('first.xls', 2, 40)"),
                        QStringLiteral("insert into tblSettings values ('second.xls', 7, 70)")})
        << "first.xls"
        << "2"
        << "40"
        << "2" << abc;
    QTest::newRow("no tblSettings, empty tblData in field order")
        << true << QStringList{QStringLiteral("create table tblData (Code text, Name text, Sum real)")} << ""
        << "0"
        << "100"
        << "0" << QStringList{QStringLiteral("Code|1"), QStringLiteral("Name|2"), QStringLiteral("Sum|3")};
    QTest::newRow("database without tblData") << true << Settings << ""
                                              << "0"
                                              << "100"
                                              << "0" << QStringList();
}

void TstFormLogic::load()
{
    QFETCH(bool, database);
    QFETCH(QStringList, sql);
    QFETCH(QString, fileName);
    QFETCH(QString, strNumWithCapt);
    QFETCH(QString, strNumMAX);
    QFETCH(QString, recordCount);
    QFETCH(QStringList, dbRows);

    QTemporaryDir dir;
    AppState state;
    if (database)
        openSession(state, makeDatabase(dir.filePath(QStringLiteral("data.db")), sql));
    MemoryForm f;
    frmMain_Load(state, f.ui);

    QVERIFY2(f.dialogs.shown.isEmpty(), qPrintable(f.dialogs.texts().join(u'/')));
    QCOMPARE(f.Command_Analize.isEnabled(), database);
    QCOMPARE(f.Command_Update.isEnabled(), database);
    QVERIFY(f.Command_SetPathToDB.isEnabled());
    QCOMPARE(f.Caption.text(), versioned());
    QCOMPARE(f.Text_Rules.text(), RulesLegend);
    QCOMPARE(f.Text_FileName.text(), fileName);
    QCOMPARE(f.Text_StrNumWithCapt.text(), strNumWithCapt);
    QCOMPARE(f.Text_StrNumMAX.text(), strNumMAX);
    QCOMPARE(f.Text_DBRecordCount.text(), recordCount);

    QCOMPARE(f.lv_Fields.columns(), (QStringList{QStringLiteral("Поле в документе"), QStringLiteral("№№")}));
    QCOMPARE(f.lv_Fields.columnWidths(), (QList<int>{3000, 510}));
    QCOMPARE(f.lv.columns(),
             (QStringList{QStringLiteral("ПР"), QStringLiteral("№№"), QStringLiteral("Поле в документе"),
                          QStringLiteral("Поле в БД"), QStringLiteral("№№")}));
    QCOMPARE(f.lv.columnWidths(), (QList<int>{510, 510, 2000, 1450, 510}));
    QCOMPARE(f.lv_DB.columns(), (QStringList{QStringLiteral("Поле в БД"), QStringLiteral("№№")}));
    QCOMPARE(f.lv_DB.columnWidths(), (QList<int>{2000, 510}));
    QVERIFY(f.lv_Fields.reportView() && f.lv.reportView() && f.lv_DB.reportView());
    QCOMPARE(rowsOf(f.lv_DB, 2), dbRows);
}

void TstFormLogic::loadFailureStopsAndReports()
{
    AppState state;
    MemoryForm f;
    RefusingListView refusing;
    f.ui.lv = &refusing;
    f.lv_Fields.add(1, QStringLiteral("old"));
    frmMain_Load(state, f.ui);

    QCOMPARE(f.dialogs.shown.size(), 1);
    QCOMPARE(f.dialogs.shown[0].text, QStringLiteral("Колонка отклонена (380)"));
    QCOMPARE(f.dialogs.shown[0].title, QStringLiteral("Kalder"));
    QCOMPARE(f.dialogs.shown[0].icon, Dialogs::Icon::Exclamation);
    // The steps before the failure stay done, the ones after it are skipped.
    QCOMPARE(f.Caption.text(), versioned());
    QCOMPARE(f.lv_Fields.count(), 0);
    QCOMPARE(f.lv_Fields.columns().size(), 2);
    QVERIFY(f.lv_DB.columns().isEmpty());
}

void TstFormLogic::unload()
{
    AppState never;
    frmMain_Unload(never); // no connection object at all
    never.DBConnection = std::make_unique<Connection>();
    frmMain_Unload(never); // a connection object never opened

    QTemporaryDir dir;
    AppState state;
    openSession(state, makeDatabase(dir.filePath(QStringLiteral("data.db")), DataTable));
    frmMain_Unload(state);
    QVERIFY(!state.DBConnection->isOpen());
    frmMain_Unload(state); // closing twice is harmless
}

void TstFormLogic::ruleInput_data()
{
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QStringList>("initials"); // the default text of each input box shown
    QTest::addColumn<int>("refusals");
    QTest::addColumn<QString>("rule"); // "": no row made

    QTest::newRow("accepted at once") << QStringList{"2"} << QStringList{""} << 0 << "2";
    QTest::newRow("cancel") << QStringList{} << QStringList{""} << 0 << "";
    QTest::newRow("letters, -1, then 2: refused text shown again")
        << QStringList{"abc", "-1", "2"} << QStringList{"", "abc", "-1"} << 2 << "2";
    QTest::newRow("refused, then cancelled") << QStringList{"x"} << QStringList{"", "x"} << 1 << "";
    QTest::newRow("0 kept") << QStringList{"0"} << QStringList{""} << 0 << "0";
    QTest::newRow("stored as typed") << QStringList{"01"} << QStringList{""} << 0 << "01";
}

void TstFormLogic::ruleInput()
{
    QFETCH(QStringList, answers);
    QFETCH(QStringList, initials);
    QFETCH(int, refusals);
    QFETCH(QString, rule);

    QLocale::setDefault(QLocale::c());
    MemoryForm f;
    fillFields(f, {QStringLiteral("Код")});
    f.lv_Fields.select(1);
    f.dialogs.answers = answers;
    fld_ADD(f.ui, FromFields);

    QCOMPARE(f.dialogs.inputInitials, initials);
    QCOMPARE(f.dialogs.texts(), QStringList(refusals, BadNumber));
    if (rule.isEmpty()) {
        QCOMPARE(f.lv.count(), 0);
    } else {
        QCOMPARE(rowsOf(f.lv, 5), QStringList{rule + QStringLiteral("|1|Код||")});
        QCOMPARE(f.lv.selectedIndex(), 1);
    }
}

void TstFormLogic::linkRowLayoutAndDuplicates()
{
    MemoryForm f;
    fillFields(f, {QStringLiteral("Код"), QStringLiteral("Сумма"), QStringLiteral("код")});
    linkField(f, 2, QStringLiteral("2"));
    linkField(f, 1, QStringLiteral("1"));
    QCOMPARE(f.lv.selectedIndex(), 2); // the new row, appended at the end

    // The same workbook field again: no prompt, nothing changes.
    f.lv.select(1);
    linkField(f, 1, QStringLiteral("3"));
    QCOMPARE(f.dialogs.inputInitials.size(), 2);
    QCOMPARE(f.lv.selectedIndex(), 1);

    // Differing only in letter case is another field.
    linkField(f, 3, QStringLiteral("3"));
    QCOMPARE(rowsOf(f.lv, 5),
             (QStringList{QStringLiteral("2|2|Сумма||"), QStringLiteral("1|1|Код||"), QStringLiteral("3|3|код||")}));
    QVERIFY(f.dialogs.shown.isEmpty());
}

void TstFormLogic::databaseField()
{
    MemoryForm f;
    fillDB(f, {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")});
    f.lv_DB.select(2);
    fld_ADD(f.ui, FromDB); // lv empty: nothing, no message
    QCOMPARE(f.lv.count(), 0);
    QVERIFY(f.dialogs.shown.isEmpty());

    fillFields(f, {QStringLiteral("Код"), QStringLiteral("Сумма")});
    linkField(f, 1, QStringLiteral("1"));
    linkField(f, 2, QStringLiteral("2"));
    f.lv.select(1);
    fld_ADD(f.ui, FromDB);
    f.lv_DB.select(3);
    fld_ADD(f.ui, FromDB); // a second drag onto the same row replaces its field
    f.lv.select(2);
    fld_ADD(f.ui, FromDB); // the same database field in another row
    QCOMPARE(rowsOf(f.lv, 5), (QStringList{QStringLiteral("1|1|Код|C|3"), QStringLiteral("2|2|Сумма|C|3")}));
    QVERIFY(f.dialogs.shown.isEmpty());
}

void TstFormLogic::nothingSelected_data()
{
    QTest::addColumn<int>("source");
    QTest::addColumn<bool>("linkSelected");
    QTest::addColumn<QString>("list");

    QTest::newRow("drag from lv_DB, no link row selected") << int(FromDB) << false << "lv";
    QTest::newRow("drag from lv_DB, no database field selected") << int(FromDB) << true << "lv_DB";
    QTest::newRow("drag from lv_Fields, no workbook field selected") << int(FromFields) << true << "lv_Fields";
}

void TstFormLogic::nothingSelected()
{
    QFETCH(int, source);
    QFETCH(bool, linkSelected);
    QFETCH(QString, list);

    MemoryForm f;
    f.lv.add(1, QStringLiteral("1"));
    f.lv.setSubItem(1, 1, QStringLiteral("1"));
    f.lv.setSubItem(1, 2, QStringLiteral("Код"));
    if (linkSelected)
        f.lv.select(1);
    fillFields(f, {QStringLiteral("Сумма")});
    if (list != QStringLiteral("lv_Fields"))
        f.lv_Fields.select(1);
    fillDB(f, {QStringLiteral("A")});
    if (list != QStringLiteral("lv_DB"))
        f.lv_DB.select(1);
    const QStringList before = rowsOf(f.lv, 5);
    f.dialogs.answers = {QStringLiteral("2")};
    const int prompts = int(f.dialogs.inputInitials.size());

    fld_ADD(f.ui, source);

    QCOMPARE(f.dialogs.shown.size(), 1);
    QCOMPARE(f.dialogs.shown[0].title, QStringLiteral("fld_ADD"));
    QCOMPARE(f.dialogs.shown[0].icon, Dialogs::Icon::Exclamation);
    QVERIFY2(f.dialogs.shown[0].text.contains(list + QStringLiteral(" (91)")), qPrintable(f.dialogs.shown[0].text));
    QCOMPARE(rowsOf(f.lv, 5), before); // nothing half made
    QCOMPARE(f.dialogs.inputInitials.size(), prompts); // and no prompt
}

void TstFormLogic::otherSourcesDoNothing()
{
    MemoryForm f;
    fillFields(f, {QStringLiteral("Код")});
    f.lv_Fields.select(1);
    fillDB(f, {QStringLiteral("A")});
    f.lv_DB.select(1);
    f.dialogs.answers = {QStringLiteral("1")};
    for (int source : {0, 3, 255})
        fld_ADD(f.ui, source);
    QCOMPARE(f.lv.count(), 0);
    QVERIFY(f.dialogs.inputInitials.isEmpty());
    QVERIFY(f.dialogs.shown.isEmpty());
}

void TstFormLogic::doubleClick_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("selected"); // 0: none
    QTest::addColumn<QStringList>("left");

    QTest::newRow("middle row removed, order kept") << 3 << 2 << QStringList{"r1", "r3"};
    QTest::newRow("last row removed") << 3 << 3 << QStringList{"r1", "r2"};
    QTest::newRow("rows but none selected") << 2 << 0 << QStringList{"r1", "r2"};
    QTest::newRow("empty list") << 0 << 0 << QStringList{};
}

void TstFormLogic::doubleClick()
{
    QFETCH(int, rows);
    QFETCH(int, selected);
    QFETCH(QStringList, left);

    MemoryForm f;
    for (int i = 1; i <= rows; ++i)
        f.lv.add(i, QStringLiteral("r%1").arg(i));
    if (selected)
        f.lv.select(selected);
    lv_DblClick(f.ui);
    QCOMPARE(rowsOf(f.lv, 1), left);
    QVERIFY(f.dialogs.shown.isEmpty());
}

QTEST_GUILESS_MAIN(TstFormLogic)
#include "tst_form_logic.moc"
