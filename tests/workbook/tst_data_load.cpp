// The load on real workbooks and real SQLite databases: what tblData holds afterwards, the
// counters, the bar and the pointer, and the failures in the middle of a load. The merge's
// own cases, the key comparison of each path, are tests/db/tst_keyed_merge.
#include "app/base/failure.h"
#include "app/base/state.h"
#include "db/connection.h"
#include "tests/support/load_form.h"
#include "tests/support/support.h"
#include "workbook/data_load.h"
#include "workbook/readers/workbook.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>

using namespace kalder;
using namespace Qt::StringLiterals;

namespace {

const QString Fixtures = QStringLiteral(KALDER_FIXTURES "/load/");

using test::Database;
using test::Form;

const QString PlainTable =
    u"CREATE TABLE tblData (id INTEGER PRIMARY KEY, Key TEXT, MinV REAL, MaxV REAL, Note TEXT)"_s;
const QString DumpPlain = u"SELECT quote(Key), quote(MinV), quote(MaxV) FROM tblData ORDER BY Key"_s;
const QStringList Basic = {u"'12345'|1.0|2.0"_s, u"'15.03.2023'|1.0|2.0"_s, u"'A-1'|3.0|31.0"_s,    u"'B-2'|7.0|8.0"_s,
                           u"'C-3'|0.0|0.0"_s,   u"'D-4'|1.5|2.25"_s,       u"'O''Brien'|2.0|2.0"_s};

QStringList keysOnly(const QString& min, const QString& max)
{
    QStringList out;
    for (const QString& row : Basic)
        out.append(row.section(QLatin1Char('|'), 0, 0) + u"|"_s +
                   (min.isEmpty() ? row.section(QLatin1Char('|'), 1, 1) : min) + u"|"_s +
                   (max.isEmpty() ? row.section(QLatin1Char('|'), 2, 2) : max));
    return out;
}

} // namespace

class TstDataLoad : public QObject {
    Q_OBJECT
private slots:
    void load_data();
    void load();
    void loadTwiceChangesNothing();
    void widening();
    void keyWarning_data();
    void keyWarning();
    void failureInTheMiddle_data();
    void failureInTheMiddle();
    void failureBeforeAnyRow_data();
    void failureBeforeAnyRow();
    void emptyFileNameLoadsNothing();
    void linksMustMatchTheHeaderRow_data();
    void linksMustMatchTheHeaderRow();
    void failureOfTheFileNamesTheFile_data();
    void failureOfTheFileNamesTheFile();
};

void TstDataLoad::load_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QStringList>("links");
    QTest::addColumn<int>("headerRow");
    QTest::addColumn<int>("lastRow");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("dump");
    QTest::addColumn<QStringList>("expected");
    const QStringList all{u"1:1:Key"_s, u"2:3:MinV"_s, u"3:4:MaxV"_s};
    QTest::newRow("rules 1, 2, 3") << PlainTable << all << 1 << 12 << "C" << DumpPlain << Basic;
    QTest::newRow("rules in any order") << PlainTable << QStringList{u"3:4:MaxV"_s, u"1:1:Key"_s, u"2:3:MinV"_s} << 1
                                        << 12 << "C" << DumpPlain << Basic;
    QTest::newRow("decimal comma (ru_RU)") << PlainTable << all << 1 << 12 << "ru_RU" << DumpPlain << Basic;
    QTest::newRow("only a key") << PlainTable << QStringList{u"1:1:Key"_s} << 1 << 12 << "C" << DumpPlain
                                << keysOnly(u"NULL"_s, u"NULL"_s);
    QTest::newRow("key and maximum only") << PlainTable << QStringList{u"1:1:Key"_s, u"3:4:MaxV"_s} << 1 << 12 << "C"
                                          << DumpPlain << keysOnly(u"NULL"_s, QString());
    QTest::newRow("a rule 5 link is not applied") << PlainTable << QStringList{u"1:1:Key"_s, u"5:3:MinV"_s} << 1 << 12
                                                  << "C" << DumpPlain << keysOnly(u"NULL"_s, u"NULL"_s);
    QTest::newRow("the later of two key links wins") << PlainTable << QStringList{u"1:2:Key"_s, u"1:1:Key"_s} << 1 << 12
                                                     << "C" << DumpPlain << keysOnly(u"NULL"_s, u"NULL"_s);
    QTest::newRow("rows up to the last row only")
        << PlainTable << all << 1 << 6 << "C" << DumpPlain << QStringList{u"'A-1'|3.0|30.0"_s, u"'B-2'|7.0|8.0"_s};
    QTest::newRow("header row equal to last row") << PlainTable << all << 12 << 12 << "C" << DumpPlain << QStringList{};
    QTest::newRow("last row 0") << PlainTable << all << 1 << 0 << "C" << DumpPlain << QStringList{};
    QTest::newRow("last row negative") << PlainTable << all << 1 << -5 << "C" << DumpPlain << QStringList{};
    QTest::newRow("key field named with a space")
        << u"CREATE TABLE tblData (`Код товара` TEXT, `Мин цена` REAL, MaxV REAL)"_s
        << QStringList{u"1:1:Код товара"_s, u"2:3:Мин цена"_s, u"3:4:MaxV"_s} << 1 << 12 << "C"
        << u"SELECT quote(`Код товара`), quote(`Мин цена`), quote(MaxV) FROM tblData ORDER BY 1"_s << Basic;
}

void TstDataLoad::load()
{
    QFETCH(QString, table);
    QFETCH(QStringList, links);
    QFETCH(int, headerRow);
    QFETCH(int, lastRow);
    QFETCH(QString, locale);
    QFETCH(QString, dump);
    QFETCH(QStringList, expected);
    Database db(table);
    Form form(links);
    form.count.setText(u"0"_s);

    QCOMPARE(form.update(db.state, Fixtures + u"basic.xls"_s, headerRow, lastRow, QLocale(locale)), false);
    QCOMPARE(form.dialogs.texts(), QStringList{});
    QCOMPARE(db.rows(dump), expected);
    QCOMPARE(form.countNew.text(), QString::number(expected.size()));
    QCOMPARE(form.count.text(), QString::number(expected.size()));
    QCOMPARE(form.pb.value(), 0.f);
    QCOMPARE(form.pb.highest(), float(std::max(0, lastRow - headerRow))); // every row counted, skipped or not
    QVERIFY(form.pb.max() > form.pb.min());
    QCOMPARE(form.pointer.shape(), Pointer::Default);
    QVERIFY(form.pointer.wasBusy());
}

void TstDataLoad::loadTwiceChangesNothing()
{
    Database db(PlainTable);
    const QStringList links{u"1:1:Key"_s, u"2:3:MinV"_s, u"3:4:MaxV"_s};
    Form first(links), second(links);
    second.count.setText(u"7"_s);
    second.dialogs.replies = {true}; // yes, the same workbook again
    QCOMPARE(first.update(db.state, Fixtures + u"basic.xls"_s, 1, 12, QLocale::c()), false);
    QCOMPARE(second.update(db.state, Fixtures + u"basic.xls"_s, 1, 12, QLocale::c()), false);
    QCOMPARE(db.rows(DumpPlain), Basic);
    QCOMPARE(second.countNew.text(), u"0"_s);
    QCOMPARE(second.count.text(), u"7"_s);
}

void TstDataLoad::widening()
{
    // Untyped min / max columns keep what was stored as it was stored: numbers, Null, texts.
    Database db(u"CREATE TABLE tblData (Key TEXT, MinV, MaxV);\n"
                "INSERT INTO tblData VALUES ('W1', 10, 20), ('N1', NULL, NULL), ('T1', '10', '20'),"
                " ('T2', 'abc', 'xyz'), ('T3', '10', '20')"_s);
    Form form({u"1:1:Key"_s, u"2:2:MinV"_s, u"3:3:MaxV"_s});
    form.count.setText(u"5"_s);
    QCOMPARE(form.update(db.state, Fixtures + u"widen.xls"_s, 1, 8, QLocale::c()), false);
    QCOMPARE(db.rows(u"SELECT quote(Key), quote(MinV), quote(MaxV) FROM tblData ORDER BY Key"_s),
             (QStringList{u"'N1'|NULL|NULL"_s, // Null keeps Null
                          u"'T1'|5.0|30.0"_s, // texts that read as numbers compare as numbers
                          u"'T2'|'abc'|'xyz'"_s, // texts that do not are left as they are
                          u"'T3'|'10'|'20'"_s, // 15/15 lies inside: nothing rewritten
                          u"'W1'|5.0|30.0"_s})); // 5/30 widens 10/20; 15/15 and empty cells leave it
    QCOMPARE(form.countNew.text(), u"0"_s);
    QCOMPARE(form.count.text(), u"5"_s);
}

void TstDataLoad::keyWarning_data()
{
    QTest::addColumn<QStringList>("links");
    QTest::newRow("rules 2, 3 and 4") << QStringList{u"2:1:Key"_s, u"3:2:MinV"_s, u"4:3:MaxV"_s};
    QTest::newRow("rule typed as 01") << QStringList{u"01:1:Key"_s};
    QTest::newRow("rule with a blank") << QStringList{u" 1:1:Key"_s};
}

void TstDataLoad::keyWarning()
{
    QFETCH(QStringList, links);
    Database db(PlainTable);
    Form form(links);
    form.count.setText(u"5"_s);
    form.countNew.setText(u"12"_s);
    // A path that fails to open proves the workbook is never opened.
    QCOMPARE(form.update(db.state, Fixtures + u"нет такого.xls"_s, 1, 12, QLocale::c()), true);
    QCOMPARE(form.dialogs.shown.size(), 1);
    QCOMPARE(form.dialogs.shown[0].text, u"Не определено поле, по которому проверяется уникальность записи"_s);
    QCOMPARE(form.dialogs.shown[0].title, u"Kalder"_s);
    QCOMPARE(form.dialogs.shown[0].icon, Dialogs::Icon::Exclamation);
    QCOMPARE(form.count.text(), u"5"_s);
    QCOMPARE(form.countNew.text(), u"0"_s);
    QCOMPARE(form.pb.value(), 0.f);
    QCOMPARE(form.pointer.shape(), Pointer::Default);
    QCOMPARE(db.rows(u"SELECT count(*) FROM tblData"_s), QStringList{u"0"_s});
}

void TstDataLoad::failureInTheMiddle_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("failingRow");
    QTest::addColumn<int>("stored");
    QTest::addColumn<QString>("countBefore");
    QTest::addColumn<QString>("countAfter");
    QTest::addColumn<QString>("countNew");
    QTest::newRow("maximum that is no number at row 51") << PlainTable << int(err::TypeMismatch) << 51 << 49 << "0"
                                                         << "49"
                                                         << "49";
    // K001..K048 stored; K049 (row 50) would be a new record without its required name.
    QString notNull = u"CREATE TABLE tblData (Key TEXT, Name TEXT NOT NULL, MinV REAL, MaxV REAL)"_s;
    for (int i = 1; i <= 48; ++i)
        notNull += u";\nINSERT INTO tblData VALUES ('K%1', 'x', 1000, -1000)"_s.arg(i, 3, 10, QLatin1Char('0'));
    // 1299: SQLITE_CONSTRAINT_NOTNULL, the engine's extended code as the driver reports it
    QTest::newRow("record refused by a NOT NULL field at row 50")
        << notNull << err::fromSqlite(1299) << 50 << 48 << "48"
        << "48"
        << "0";
}

void TstDataLoad::failureInTheMiddle()
{
    QFETCH(QString, sql);
    QFETCH(int, number);
    QFETCH(int, failingRow);
    QFETCH(int, stored);
    QFETCH(QString, countBefore);
    QFETCH(QString, countAfter);
    QFETCH(QString, countNew);
    Database db(sql);
    Form form({u"1:1:Key"_s, u"2:2:MinV"_s, u"3:3:MaxV"_s});
    form.count.setText(countBefore);
    QCOMPARE(form.update(db.state, Fixtures + u"fail.xls"_s, 1, 101, QLocale::c()), true);
    QCOMPARE(form.dialogs.shown.size(), 1);
    const auto& shown = form.dialogs.shown[0];
    QCOMPARE(shown.title, u"xls_DataUpdate"_s);
    QCOMPARE(shown.icon, Dialogs::Icon::Exclamation);
    QVERIFY2(shown.text.endsWith(u" (%1)"_s.arg(number)), qPrintable(shown.text));
    QVERIFY2(shown.text.contains(QString::number(failingRow)), qPrintable(shown.text));

    // Every row before the failing one is stored, with its own values; none after it.
    QStringList expected;
    for (int i = 1; i <= stored; ++i)
        expected.append(u"K%1|%2|%3"_s.arg(i, 3, 10, QLatin1Char('0')).arg(i).arg(2 * i));
    QCOMPARE(db.rows(u"SELECT Key, MinV, MaxV FROM tblData ORDER BY Key"_s), expected);
    // The counters agree with the table.
    QCOMPARE(form.count.text(), countAfter);
    QCOMPARE(form.countNew.text(), countNew);
    QCOMPARE(form.pb.value(), 0.f);
    QCOMPARE(form.pointer.shape(), Pointer::Default);
}

void TstDataLoad::failureBeforeAnyRow_data()
{
    QTest::addColumn<QString>("workbook");
    QTest::addColumn<QStringList>("links");
    QTest::addColumn<int>("number"); // 0: the reader's or the engine's own
    const QStringList all{u"1:1:Key"_s, u"2:3:MinV"_s, u"3:4:MaxV"_s};
    QTest::newRow("missing workbook") << u"нет такого.xls"_s << all << 0;
    QTest::newRow("column number that is no number")
        << u"basic.xls"_s << QStringList{u"1:x:Key"_s} << int(err::TypeMismatch);
    QTest::newRow("column number beyond 16 bits")
        << u"basic.xls"_s << QStringList{u"1:70000:Key"_s} << int(err::Overflow);
    QTest::newRow("field that tblData does not have")
        << u"basic.xls"_s << QStringList{u"1:1:Нет"_s} << int(err::ItemNotFound);
    QTest::newRow("key link without a field") << u"basic.xls"_s << QStringList{u"1:1:"_s} << int(err::ItemNotFound);
}

void TstDataLoad::failureBeforeAnyRow()
{
    QFETCH(QString, workbook);
    QFETCH(QStringList, links);
    QFETCH(int, number);
    Database db(PlainTable);
    Form form(links);
    form.count.setText(u"3"_s);
    QCOMPARE(form.update(db.state, Fixtures + workbook, 1, 12, QLocale::c()), true);
    QCOMPARE(form.dialogs.shown.size(), 1);
    QCOMPARE(form.dialogs.shown[0].title, u"xls_DataUpdate"_s);
    QVERIFY2(QRegularExpression(u"^.+ \\(-?\\d+\\)$"_s).match(form.dialogs.shown[0].text).hasMatch(),
             qPrintable(form.dialogs.shown[0].text));
    if (number)
        QVERIFY2(form.dialogs.shown[0].text.endsWith(u" (%1)"_s.arg(number)), qPrintable(form.dialogs.shown[0].text));
    QCOMPARE(db.rows(u"SELECT count(*) FROM tblData"_s), QStringList{u"0"_s});
    QCOMPARE(form.count.text(), u"3"_s);
    QCOMPARE(form.countNew.text(), u"0"_s);
    QCOMPARE(form.pb.value(), 0.f);
    QCOMPARE(form.pointer.shape(), Pointer::Default);
}

void TstDataLoad::emptyFileNameLoadsNothing()
{
    Database db(PlainTable);
    Form form({u"1:1:Key"_s});
    form.countNew.setText(u"4"_s);
    QCOMPARE(form.update(db.state, QString(), 1, 12, QLocale::c()), true); // never a success
    QVERIFY(form.dialogs.shown.isEmpty());
    QCOMPARE(form.countNew.text(), u"4"_s);
    QVERIFY(!form.pointer.wasBusy());
}

void TstDataLoad::linksMustMatchTheHeaderRow_data()
{
    // The links are made from the header row of basic.xls (Код | Имя | Мин | Макс, row 1).
    QTest::addColumn<QString>("workbook");
    QTest::addColumn<int>("headerRow");
    QTest::addColumn<QStringList>("links"); // rule:column:header text:field
    QTest::addColumn<QString>("mismatch"); // what the message names, "" for a load
    const QStringList all{u"1:1:Код:Key"_s, u"2:3:Мин:MinV"_s, u"3:4:Макс:MaxV"_s};
    QTest::newRow("the same workbook loads") << u"basic.xls"_s << 1 << all << QString();
    QTest::newRow("columns in another order") << u"reordered.xls"_s << 1 << all << u"поле «Код», а там «Макс»"_s;
    QTest::newRow("another header row") << u"basic.xls"_s << 2 << all << u"«Код», а там «A-1»"_s;
    QTest::newRow("header row 0") << u"basic.xls"_s << 0 << all << u"«Код», а там «»"_s;
    QTest::newRow("a link the load does not apply is checked too")
        << u"reordered.xls"_s << 1 << QStringList{u"1:2:Код:Key"_s, u"5:1:Код:Note"_s}
        << u"Связь 2 ожидает в колонке 1"_s;
    QTest::newRow("an empty field matches an empty header cell")
        << u"basic.xls"_s << 1 << QStringList{u"1:1:Код:Key"_s, u"3:7::MaxV"_s} << QString();
    QTest::newRow("an empty field against a header")
        << u"basic.xls"_s << 1 << QStringList{u"1:1::Key"_s} << u"поле «», а там «Код»"_s;
}

void TstDataLoad::linksMustMatchTheHeaderRow()
{
    QFETCH(QString, workbook);
    QFETCH(int, headerRow);
    QFETCH(QStringList, links);
    QFETCH(QString, mismatch);
    Database db(PlainTable);
    Form form;
    for (const QString& link : links) {
        const QStringList p = link.split(QLatin1Char(':'));
        const int row = form.lv.count() + 1;
        form.lv.add(row, p[0]);
        form.lv.setSubItem(row, 1, p[1]);
        form.lv.setSubItem(row, 2, p[2]);
        form.lv.setSubItem(row, 3, p[3]);
    }
    const bool failed = xls_DataUpdate(db.state, form.ui, Fixtures + workbook, headerRow, 12, QLocale::c());
    if (mismatch.isEmpty()) {
        QCOMPARE(failed, false);
        QCOMPARE(form.dialogs.texts(), QStringList{});
        QVERIFY(db.rows(u"SELECT count(*) FROM tblData"_s) != QStringList{u"0"_s});
        return;
    }
    QCOMPARE(failed, true);
    QCOMPARE(form.dialogs.shown.size(), 1);
    const auto& shown = form.dialogs.shown[0];
    QCOMPARE(shown.title, u"xls_DataUpdate"_s);
    QCOMPARE(shown.icon, Dialogs::Icon::Exclamation);
    QVERIFY2(shown.text.contains(mismatch), qPrintable(shown.text));
    QVERIFY2(shown.text.contains(u"анализ входного файла"_s), qPrintable(shown.text));
    QVERIFY2(shown.text.endsWith(u" (%1)"_s.arg(err::LinksOutOfDate)), qPrintable(shown.text));
    QCOMPARE(db.rows(u"SELECT count(*) FROM tblData"_s), QStringList{u"0"_s}); // nothing loaded
    QCOMPARE(form.countNew.text(), u"0"_s);
}

void TstDataLoad::failureOfTheFileNamesTheFile_data()
{
    // What fails is the file or the machine, not a row: the message says what failed and names
    // the file, never a row or a key; nothing of the failed batch is kept.
    QTest::addColumn<QString>("setup"); // run on the load's own connection first
    QTest::addColumn<bool>("locked"); // another connection holds the write lock
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("number");
    QTest::newRow("a lock another connection keeps")
        << QString() << true << u"занята другой программой"_s << err::fromSqlite(5);
    QTest::newRow("a database that may only be read")
        << u"PRAGMA query_only = 1"_s << false << u"доступна только для чтения"_s << err::fromSqlite(8);
    QTest::newRow("a full disk") << u"PRAGMA max_page_count = 3"_s << false << u"Нет места для записи"_s
                                 << err::fromSqlite(13);
}

void TstDataLoad::failureOfTheFileNamesTheFile()
{
    QFETCH(QString, setup);
    QFETCH(bool, locked);
    QFETCH(QString, expected);
    QFETCH(int, number);
    // every record takes pages of its own, so that a bound on the pages is met
    Database db(u"CREATE TABLE tblData (Key TEXT, MinV REAL, MaxV REAL, Pad TEXT DEFAULT (hex(randomblob(3000))))"_s);
    db.state.DBConnection->setBusyTimeout(200);
    if (!setup.isEmpty())
        QVERIFY(QSqlQuery(db.state.DBConnection->database()).exec(setup));
    QSqlDatabase other = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"locker"_s);
    other.setDatabaseName(db.path);
    QVERIFY(other.open());
    if (locked)
        QVERIFY(QSqlQuery(other).exec(u"BEGIN IMMEDIATE"_s));
    Form form({u"1:1:Key"_s, u"2:2:MinV"_s, u"3:3:MaxV"_s});
    QCOMPARE(form.update(db.state, Fixtures + u"fail.xls"_s, 1, 49, QLocale::c()), true);
    if (locked)
        QVERIFY(QSqlQuery(other).exec(u"ROLLBACK"_s));
    other.close();
    other = QSqlDatabase();
    QSqlDatabase::removeDatabase(u"locker"_s);
    QCOMPARE(form.dialogs.shown.size(), 1);
    const QString text = form.dialogs.shown[0].text;
    QCOMPARE(form.dialogs.shown[0].title, u"xls_DataUpdate"_s);
    QVERIFY2(text.contains(expected) && text.contains(db.path), qPrintable(text));
    QVERIFY2(!text.contains(u"Строка"_s) && !text.contains(u"K0"_s), qPrintable(text));
    QVERIFY2(text.endsWith(u" (%1)"_s.arg(number)), qPrintable(text));
    QVERIFY2(text.contains(u" — SQLite: "_s), qPrintable(text)); // the engine's own words
    QSqlQuery(db.state.DBConnection->database()).exec(u"PRAGMA query_only = 0"_s);
    QCOMPARE(db.rows(u"SELECT count(*) FROM tblData"_s), QStringList{u"0"_s});
    QCOMPARE(form.countNew.text(), u"0"_s);
}

QTEST_GUILESS_MAIN(TstDataLoad)
#include "tst_data_load.moc"
