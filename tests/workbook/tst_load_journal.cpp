// The check of a load without writing, the journal of loads and the undo of the last one, on
// real workbooks and real SQLite databases: the preview finds what the load then does and
// leaves the file as it was; the undo gives the table back exactly, refuses when another
// writer changed what the load left, and takes back exactly what a load cut short stored.
#include "db/keyed_merge.h"
#include "db/load_journal.h"
#include "tests/support/load_form.h"
#include "window/commands.h"

#include <QCryptographicHash>
#include <QFile>
#include <QtTest>

using namespace kalder;
using namespace Qt::StringLiterals;
using test::Database;
using test::Form;

namespace {

const QString Fixtures = QStringLiteral(KALDER_FIXTURES "/load/");
const QStringList AllLinks{u"1:1:Key"_s, u"2:3:MinV"_s, u"3:4:MaxV"_s};
const QStringList ThreeColumns{u"1:1:Key"_s, u"2:2:MinV"_s, u"3:3:MaxV"_s};

// Every row of tblData exactly: its row id and each field with its type (quote()).
QStringList exactRows(const Database& db)
{
    QStringList quoted;
    for (const QString& column : db.rows(u"SELECT name FROM pragma_table_info('tblData') ORDER BY cid"_s))
        quoted.append(u"quote(\"%1\")"_s.arg(column));
    return db.rows(u"SELECT rowid, %1 FROM tblData ORDER BY rowid"_s.arg(quoted.join(u", "_s)));
}

QByteArray fileHash(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

// The undo as the window runs it, confirmed; the messages it showed.
QStringList undo(Database& db)
{
    test::MemoryForm form;
    form.dialogs.replies = {true};
    Command_Undo_Click(db.state, form.ui);
    return form.dialogs.texts();
}

} // namespace

class TstLoadJournal : public QObject {
    Q_OBJECT
private slots:
    void previewThenLoadThenUndo_data();
    void previewThenLoadThenUndo();
    void previewListsEveryRowTheLoadCannotTake();
    void undoAcrossBatches();
    void undoRefusedAfterAnotherWriter();
    void undoSeesEveryChangeToAnAddedRecord_data();
    void undoUnderEveryKeyComparison_data();
    void undoUnderEveryKeyComparison();
    void undoSeesEveryChangeToAnAddedRecord();
    void undoOfALoadCutShort();
    void sameWorkbookTwiceIsAsked();
    void databaseWithoutAJournal();
};

void TstLoadJournal::previewThenLoadThenUndo_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("workbook");
    QTest::addColumn<QStringList>("links");
    QTest::addColumn<int>("lastRow");
    const QString plain = u"CREATE TABLE tblData (id INTEGER PRIMARY KEY, Key TEXT, MinV REAL, MaxV REAL, Note TEXT)"_s;
    QTest::newRow("new keys") << plain << u"basic.xls"_s << AllLinks << 12;
    QTest::newRow("half of the keys stored")
        << plain + u";\nINSERT INTO tblData (Key, MinV, MaxV, Note) VALUES ('A-1', 4, 20, 'x'), ('C-3', -1, 1, NULL), "
                   "('Z', 1, 2, 'untouched')"_s
        << u"basic.xls"_s << AllLinks << 12;
    QTest::newRow("key and maximum only") << plain + u";\nINSERT INTO tblData (Key, MaxV) VALUES ('B-2', 1)"_s
                                          << u"basic.xls"_s << QStringList{u"1:1:Key"_s, u"3:4:MaxV"_s} << 12;
    // numbers, Nulls, texts that read as numbers and texts that do not, each kept as it was
    QTest::newRow("stored texts, Nulls and numbers")
        << u"CREATE TABLE tblData (Key TEXT, MinV, MaxV);\n"
           "INSERT INTO tblData VALUES ('W1', 10, 20), ('N1', NULL, NULL), ('T1', '10', '20'), ('T2', 'abc', 'xyz'), "
           "('T3', '10', '20')"_s
        << u"widen.xls"_s << ThreeColumns << 8;
    QTest::newRow("keys in an index")
        << u"CREATE TABLE tblData (Key INTEGER, MinV REAL, MaxV REAL);\nINSERT INTO tblData VALUES (7, 10, 20)"_s
        << u"keys.xls"_s << ThreeColumns << 5;
    QTest::newRow("unique index under NOCASE")
        << u"CREATE TABLE tblData (Key TEXT COLLATE NOCASE, MinV REAL, MaxV REAL);\n"
           "CREATE UNIQUE INDEX ik ON tblData (Key);\nINSERT INTO tblData VALUES ('ABC', 10, 20)"_s
        << u"keys.xls"_s << ThreeColumns << 5;
    QTest::newRow("a table with a trigger: rows written as they come")
        << plain + u";\nCREATE TABLE seen (k TEXT);\n"
                   "CREATE TRIGGER t AFTER UPDATE ON tblData BEGIN INSERT INTO seen VALUES (new.Key); END;\n"
                   "INSERT INTO tblData (Key, MinV, MaxV) VALUES ('A-1', 4, 20)"_s
        << u"basic.xls"_s << AllLinks << 12;
}

void TstLoadJournal::previewThenLoadThenUndo()
{
    QFETCH(QString, sql);
    QFETCH(QString, workbook);
    QFETCH(QStringList, links);
    QFETCH(int, lastRow);
    Database db(sql);
    const QStringList before = exactRows(db);
    const QByteArray bytes = fileHash(db.path);

    Form preview(links);
    PreviewReport report;
    QCOMPARE(preview.preview(db.state, Fixtures + workbook, 1, lastRow, report, QLocale::c()), false);
    QCOMPARE(preview.dialogs.texts(), QStringList{});
    QCOMPARE(fileHash(db.path), bytes); // the preview wrote nothing
    QCOMPARE(exactRows(db), before);
    QCOMPARE(preview.countNew.text(), u"0"_s); // nor did it touch the counters
    QVERIFY(report.rejections.isEmpty());
    QCOMPARE(report.rowsRead, qint64(lastRow - 1));

    Form load(links);
    QCOMPARE(load.update(db.state, Fixtures + workbook, 1, lastRow, QLocale::c()), false);
    const QStringList after = exactRows(db);
    // what the load did, record by record: added, widened, or found and left as it was
    qint64 added = 0, widened = 0;
    QHash<QString, QString> old;
    for (const QString& row : before)
        old.insert(row.section(QLatin1Char('|'), 0, 0), row);
    for (const QString& row : after) {
        const auto it = old.constFind(row.section(QLatin1Char('|'), 0, 0));
        if (it == old.cend())
            ++added;
        else if (*it != row)
            ++widened;
    }
    QCOMPARE(report.added, added);
    QCOMPARE(report.widened, widened);
    QCOMPARE(load.countNew.text(), QString::number(added));
    QCOMPARE(qint64(report.records.size()), added + widened);
    QCOMPARE(db.rows(u"SELECT records_added, records_widened, finished FROM kalder_load"_s),
             QStringList{u"%1|%2|1"_s.arg(added).arg(widened)});
    // the records found and left as they were: the keys of the workbook stored before it
    const qint64 keysFound = report.added + report.widened + report.unchanged;
    QVERIFY(keysFound >= added + widened);

    const QStringList shown = undo(db);
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].startsWith(u"Загрузка отменена"_s), qPrintable(shown[0]));
    QCOMPARE(exactRows(db), before);
    QVERIFY(!db.rows(u"SELECT undone FROM kalder_load"_s).value(0).isEmpty());
    // nothing is left to take back
    QCOMPARE(undo(db), QStringList{u"В журнале нет загрузки, которую можно отменить"_s});
}

void TstLoadJournal::previewListsEveryRowTheLoadCannotTake()
{
    // K001..K100 with maximum 2i; row 51 holds "abc"; the table refuses a maximum of 150 or
    // more (rows 76 to 101). The load stops at row 51; the preview lists all of them.
    Database db(u"CREATE TABLE tblData (Key TEXT, MinV REAL, MaxV REAL CHECK (MaxV < 150))"_s);
    const QByteArray bytes = fileHash(db.path);
    Form form(ThreeColumns);
    PreviewReport report;
    QCOMPARE(form.preview(db.state, Fixtures + u"fail.xls"_s, 1, 101, report, QLocale::c()), false);
    QCOMPARE(fileHash(db.path), bytes);
    QCOMPARE(report.rejections.size(), 1 + 26);
    const PreviewReport::Rejection& notANumber = report.rejections[0];
    QCOMPARE(notANumber.row, 51);
    QCOMPARE(notANumber.column, 3);
    QCOMPARE(notANumber.text, u"abc"_s);
    QVERIFY2(notANumber.reason.contains(u"не является числом"_s), qPrintable(notANumber.reason));
    for (qsizetype i = 1; i < report.rejections.size(); ++i) {
        QCOMPARE(report.rejections[i].row, 75 + i);
        QCOMPARE(report.rejections[i].text, u"K%1"_s.arg(74 + i, 3, 10, QLatin1Char('0')));
        QVERIFY2(report.rejections[i].reason.contains(u"CHECK"_s), qPrintable(report.rejections[i].reason));
    }
    QCOMPARE(report.added, 100 - 27);
    QCOMPARE(report.rowsRead, 100);
}

void TstLoadJournal::undoAcrossBatches()
{
    // Batches of three: records added in one batch are widened in later ones, so the undo takes
    // the widenings back first and then removes the records.
    Database db(u"CREATE TABLE tblData (Key TEXT, MinV REAL, MaxV REAL);\nINSERT INTO tblData VALUES ('s', 10, 20)"_s);
    const QStringList before = exactRows(db);
    {
        JournaledLoad load;
        load.table = u"tblData"_s;
        load.workbook = u"книга.xls"_s;
        load.fields = {u"tblData"_s, u"Key"_s, u"MinV"_s, u"MaxV"_s};
        QString why;
        const auto journal = LoadJournal::start(*db.state.DBConnection, load, &why);
        QVERIFY2(journal, qPrintable(why));
        MergeOptions options;
        options.batchRows = 3;
        options.observer = journal.get();
        const auto merge = KeyedMerge::open(*db.state.DBConnection, load.fields, options);
        int row = 2;
        for (const auto& [key, lo, hi] : {std::tuple{"a", 5.0, 6.0},
                                          {"s", 9.0, 20.0},
                                          {"b", 1.0, 1.0},
                                          {"a", 4.0, 7.0},
                                          {"c", 0.0, 0.0},
                                          {"s", 8.0, 25.0},
                                          {"b", 0.5, 1.5},
                                          {"a", 3.0, 3.0}})
            merge->merge(QString::fromLatin1(key), lo, hi, row++);
        journal->finishing();
        merge->commit();
    }
    QCOMPARE(db.rows(u"SELECT Key, MinV, MaxV FROM tblData ORDER BY rowid"_s),
             (QStringList{u"s|8|25"_s, u"a|3|7"_s, u"b|0.5|1.5"_s, u"c|0|0"_s}));
    QCOMPARE(db.rows(u"SELECT records_added, records_widened FROM kalder_load"_s), QStringList{u"3|3"_s});
    QCOMPARE(undo(db).value(0).left(17), u"Загрузка отменена"_s);
    QCOMPARE(exactRows(db), before);
}

void TstLoadJournal::undoRefusedAfterAnotherWriter()
{
    Database db(u"CREATE TABLE tblData (id INTEGER PRIMARY KEY, Key TEXT, MinV REAL, MaxV REAL);\n"
                "INSERT INTO tblData (Key, MinV, MaxV) VALUES ('A-1', 4, 20)"_s);
    Form load(AllLinks);
    QCOMPARE(load.update(db.state, Fixtures + u"basic.xls"_s, 1, 12, QLocale::c()), false);
    // another program changes one record the load widened and one it added
    QSqlQuery other(db.state.DBConnection->database());
    QVERIFY(other.exec(u"UPDATE tblData SET MaxV = 99 WHERE Key = 'A-1'"_s));
    QVERIFY(other.exec(u"UPDATE tblData SET MinV = -5 WHERE Key = 'D-4'"_s));
    const QStringList changed = exactRows(db);
    const QStringList shown = undo(db);
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].startsWith(u"Загрузку нельзя отменить"_s) && shown[0].contains(u"A-1"_s) &&
                 shown[0].contains(u"D-4"_s) && !shown[0].contains(u"B-2"_s),
             qPrintable(shown[0]));
    QCOMPARE(exactRows(db), changed); // nothing was taken back
    QVERIFY(db.rows(u"SELECT undone FROM kalder_load"_s).value(0).isEmpty());
}

void TstLoadJournal::undoSeesEveryChangeToAnAddedRecord_data()
{
    // Tables that keep a record as written are journaled by digests; the others by keys and
    // values. Either way a change to a record the load added stops the undo, and a write that
    // leaves it as it was does not.
    QTest::addColumn<QString>("columns");
    QTest::addColumn<bool>("digests");
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("refused");
    const std::tuple<const char*, QString, bool> shapes[] = {
        {"text key, real values", u"Key TEXT, MinV REAL, MaxV REAL"_s, true},
        {"no types", u"Key, MinV, MaxV"_s, true},
        {"whole-number values", u"Key VARCHAR(20), MinV INTEGER, MaxV NUMERIC"_s, true},
        {"text minimum", u"Key TEXT, MinV TEXT, MaxV REAL"_s, false},
        {"whole-number key", u"Key INTEGER, MinV REAL, MaxV REAL"_s, false},
    };
    const std::tuple<const char*, QString, bool> changes[] = {
        {"key", u"UPDATE tblData SET Key = 'D-5' WHERE Key = 'D-4'"_s, true},
        {"key as a blob", u"UPDATE tblData SET Key = CAST(Key AS BLOB) WHERE Key = 'D-4'"_s, true},
        {"minimum", u"UPDATE tblData SET MinV = MinV - 1 WHERE Key = 'D-4'"_s, true},
        {"maximum", u"UPDATE tblData SET MaxV = MaxV + 0.5 WHERE Key = 'D-4'"_s, true},
        {"maximum emptied", u"UPDATE tblData SET MaxV = NULL WHERE Key = 'D-4'"_s, true},
        {"deleted", u"DELETE FROM tblData WHERE Key = 'D-4'"_s, true},
        {"written as it was", u"UPDATE tblData SET Key = Key, MinV = MinV, MaxV = MaxV WHERE Key = 'D-4'"_s, false},
    };
    for (const auto& [shape, columns, digests] : shapes)
        for (const auto& [what, change, refused] : changes)
            QTest::addRow("%s, %s", shape, what) << columns << digests << change << refused;
}

void TstLoadJournal::undoSeesEveryChangeToAnAddedRecord()
{
    QFETCH(QString, columns);
    QFETCH(bool, digests);
    QFETCH(QString, change);
    QFETCH(bool, refused);
    Database db(u"CREATE TABLE tblData (%1);\nINSERT INTO tblData VALUES ('A-1', 4, 20)"_s.arg(columns));
    const QStringList before = exactRows(db);
    Form load(AllLinks);
    QCOMPARE(load.update(db.state, Fixtures + u"basic.xls"_s, 1, 12, QLocale::c()), false);
    QCOMPARE(db.rows(u"SELECT DISTINCT hex(substr(data, 1, 4)) = 'FFFFFFFF' FROM kalder_load_change "
                     "WHERE kind = 'added'"_s),
             QStringList{digests ? u"1"_s : u"0"_s});
    QSqlQuery other(db.state.DBConnection->database());
    QVERIFY2(other.exec(change), qPrintable(other.lastError().text()));
    const QStringList changed = exactRows(db);
    const QStringList shown = undo(db);
    QCOMPARE(shown.size(), 1);
    if (refused) {
        QVERIFY2(shown[0].startsWith(u"Загрузку нельзя отменить"_s), qPrintable(shown[0]));
        QCOMPARE(exactRows(db), changed);
    } else {
        QVERIFY2(shown[0].startsWith(u"Загрузка отменена"_s), qPrintable(shown[0]));
        QCOMPARE(exactRows(db), before);
    }
}

void TstLoadJournal::undoUnderEveryKeyComparison_data()
{
    // Keys that the table compares otherwise than by their bytes ("abc" meets a stored "ABC"
    // under NOCASE), on each path of the merge (a trigger makes it write row by row; a key
    // field without a type of its own keeps the keys in a temporary index).
    QTest::addColumn<QString>("table");
    for (const char* collation : {"BINARY", "NOCASE", "RTRIM"}) {
        const QString c = QString::fromLatin1(collation);
        QTest::addRow("%s, in memory", collation) << u"Key TEXT COLLATE %1, MinV REAL, MaxV REAL"_s.arg(c);
        QTest::addRow("%s, row by row", collation)
            << u"Key TEXT COLLATE %1, MinV REAL, MaxV REAL);\nCREATE TABLE seen (k TEXT);\n"
               u"CREATE TRIGGER t AFTER INSERT ON tblData BEGIN INSERT INTO seen VALUES (new.Key); END;\n"
               u"CREATE TABLE unused (x"_s.arg(c);
        QTest::addRow("%s, in an index", collation) << u"Key COLLATE %1, MinV REAL, MaxV REAL"_s.arg(c);
    }
    QTest::addRow("INTEGER key") << u"Key INTEGER, MinV REAL, MaxV REAL"_s;
}

void TstLoadJournal::undoUnderEveryKeyComparison()
{
    QFETCH(QString, table);
    Database db(u"CREATE TABLE tblData (%1);\nINSERT INTO tblData VALUES ('ABC', 10, 20), ('7 ', 50, 60)"_s.arg(table));
    const QStringList before = exactRows(db);
    Form load(ThreeColumns);
    QCOMPARE(load.update(db.state, Fixtures + u"keys.xls"_s, 1, 5, QLocale::c()), false);
    QVERIFY(exactRows(db) != before);
    const QStringList shown = undo(db);
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown[0].startsWith(u"Загрузка отменена"_s), qPrintable(shown[0]));
    QCOMPARE(exactRows(db), before);
}

void TstLoadJournal::undoOfALoadCutShort()
{
    // The load stops at row 51 (a maximum that is no number); rows 2 to 50 are stored.
    Database db(
        u"CREATE TABLE tblData (Key TEXT, MinV REAL, MaxV REAL);\nINSERT INTO tblData VALUES ('K010', 0, 1000)"_s);
    const QStringList before = exactRows(db);
    Form load(ThreeColumns);
    QCOMPARE(load.update(db.state, Fixtures + u"fail.xls"_s, 1, 101, QLocale::c()), true);
    QCOMPARE(db.rows(u"SELECT count(*) FROM tblData"_s), QStringList{u"49"_s});
    QCOMPARE(db.rows(u"SELECT records_added, finished FROM kalder_load"_s), QStringList{u"48|0"_s});
    test::MemoryForm form;
    form.dialogs.replies = {true};
    Command_Undo_Click(db.state, form.ui);
    QVERIFY2(form.dialogs.questions.value(0).contains(u"прервана"_s), qPrintable(form.dialogs.questions.value(0)));
    QCOMPARE(exactRows(db), before);
    QCOMPARE(form.Text_DBRecordCount.text(), u"1"_s);
}

void TstLoadJournal::sameWorkbookTwiceIsAsked()
{
    Database db(u"CREATE TABLE tblData (Key TEXT, MinV REAL, MaxV REAL)"_s);
    Form first(AllLinks);
    QCOMPARE(first.update(db.state, Fixtures + u"basic.xls"_s, 1, 12, QLocale::c()), false);
    QVERIFY(first.dialogs.questions.isEmpty());
    Form declined(AllLinks); // answers No
    QCOMPARE(declined.update(db.state, Fixtures + u"basic.xls"_s, 1, 12, QLocale::c()), true);
    QCOMPARE(declined.dialogs.questions.size(), 1);
    QVERIFY2(declined.dialogs.questions[0].contains(u"уже загружена"_s), qPrintable(declined.dialogs.questions[0]));
    QCOMPARE(declined.dialogs.texts(), QStringList{});
    QCOMPARE(db.rows(u"SELECT count(*) FROM kalder_load"_s), QStringList{u"1"_s});
    Form again(AllLinks);
    again.dialogs.replies = {true};
    QCOMPARE(again.update(db.state, Fixtures + u"basic.xls"_s, 1, 12, QLocale::c()), false);
    QCOMPARE(db.rows(u"SELECT count(*) FROM kalder_load"_s), QStringList{u"2"_s});
    // another workbook is not asked about
    Form other(ThreeColumns);
    QCOMPARE(other.update(db.state, Fixtures + u"keys.xls"_s, 1, 5, QLocale::c()), false);
    QVERIFY(other.dialogs.questions.isEmpty());
}

void TstLoadJournal::databaseWithoutAJournal()
{
    // A table of that name made by someone else: the loads go on without a journal, and the
    // operator is told once.
    Database db(u"CREATE TABLE tblData (Key TEXT, MinV REAL, MaxV REAL);\nCREATE TABLE kalder_load (x);\n"
                "CREATE TABLE kalder_load_change (y)"_s);
    Form first(AllLinks), second(ThreeColumns);
    QCOMPARE(first.update(db.state, Fixtures + u"basic.xls"_s, 1, 12, QLocale::c()), false);
    QCOMPARE(first.dialogs.texts().size(), 1);
    QVERIFY2(first.dialogs.texts()[0].startsWith(u"Журнал загрузок не ведётся"_s),
             qPrintable(first.dialogs.texts()[0]));
    QCOMPARE(db.rows(u"SELECT count(*) FROM tblData"_s), QStringList{u"7"_s});
    QCOMPARE(second.update(db.state, Fixtures + u"keys.xls"_s, 1, 5, QLocale::c()), false);
    QCOMPARE(second.dialogs.texts(), QStringList{});
}

QTEST_GUILESS_MAIN(TstLoadJournal)
#include "tst_load_journal.moc"
