// The header analysis and the load, end to end, on an .xlsx workbook: the same procedures as
// for .xls files, chosen by nothing but the file's content.
#include "app/base/state.h"
#include "db/connection.h"
#include "tests/support/support.h"
#include "window/controls/memory_controls.h"
#include "workbook/data_load.h"
#include "workbook/header_analysis.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>

using namespace kalder;
using namespace Qt::StringLiterals;

class TstFormatsLoad : public QObject {
    Q_OBJECT
private slots:
    void analysisAndLoad();
    void sheetThatTellsLate_data();
    void sheetThatTellsLate();
};

void TstFormatsLoad::analysisAndLoad()
{
    const QString book = QStringLiteral(KALDER_FIXTURES "/formats/load.xlsx");
    test::MemoryForm form;
    QCOMPARE(xls_FieldsName(form.lv_Fields, form.pb, form.pointer, form.dialogs, book, 1, 5), false);
    QStringList fields;
    for (int i = 1; i <= form.lv_Fields.count(); ++i)
        fields.append(form.lv_Fields.text(i) + u'|' + form.lv_Fields.subItem(i, 1));
    QCOMPARE(fields, (QStringList{u"Код|1"_s, u"Имя|2"_s, u"Мин|3"_s, u"Макс|4"_s}));

    test::Database db(test::KeyMinMaxTable);
    AppState& state = db.state;
    for (const auto& [rule, col, field] : {std::tuple{"1", "1", "Key"}, {"2", "3", "MinV"}, {"3", "4", "MaxV"}}) {
        const int row = form.lv.count() + 1;
        form.lv.add(row, QString::fromLatin1(rule));
        form.lv.setSubItem(row, 1, QString::fromLatin1(col));
        form.lv.setSubItem(row, 2, form.lv_Fields.text(QString::fromLatin1(col).toInt())); // as the analysis listed it
        form.lv.setSubItem(row, 3, QString::fromLatin1(field));
        form.lv.setSubItem(row, 4, QString());
    }
    // "1.50" of a "0.00" cell converts under the locale whose decimals the format writes
    QCOMPARE(xls_DataUpdate(state, form.ui, book, 1, 5, QLocale(u"ru_RU"_s)), false);
    QCOMPARE(form.dialogs.texts(), QStringList{});
    QSqlQuery q(state.DBConnection->database());
    QVERIFY(q.exec(u"SELECT Key, MinV, MaxV FROM tblData ORDER BY Key"_s));
    QStringList rows;
    while (q.next())
        rows.append(q.value(0).toString() + u'|' + q.value(1).toString() + u'|' + q.value(2).toString());
    QCOMPARE(rows, (QStringList{u"A-1|3|30"_s, u"B-2|7|8"_s, u"C-3|1.5|2.25"_s}));
    QCOMPARE(form.Text_DBRecordCountNew.text(), u"3"_s);
}

void TstFormatsLoad::sheetThatTellsLate_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("keyColumn");
    QTest::addColumn<QStringList>("expected"); // of the first rows of tblData, in row id order
    QTest::addColumn<int>("records");
    // the first row of K00001 is 3001, whose minimum a merged area hides: the record starts at 0
    QTest::newRow("merged area hides a minimum")
        << u"hidden.xlsx"_s << 1 << QStringList{u"K00002|0.5|1125.25"_s} << 2700;
    // each row a record of its own: row 5001, written after 9001, is loaded in its place; the
    // maximum as its "0.00" shows it
    QStringList names;
    const auto shown = [](double v) {
        return QString::number(std::floor(v * 100 + 0.5) / 100, 'g', QLocale::FloatingPointShortest);
    };
    for (int n = 2; n <= 10001; ++n)
        if (n % 10)
            names.append(u"имя %1|%2|%3"_s.arg(n).arg(n * 0.25).arg(shown(n / 8.0)));
    QTest::newRow("row after later ones") << u"disorder.xlsx"_s << 3 << names << int(names.size());
}

// An .xlsx whose rows are read as they are decoded and that tells, after them, that the rows
// given were not all as the sheet shows them: the load reads them again, and the table is
// that of the sheet.
void TstFormatsLoad::sheetThatTellsLate()
{
    QFETCH(QString, file);
    QFETCH(int, keyColumn);
    QFETCH(QStringList, expected);
    QFETCH(int, records);
    const QString book = QStringLiteral(KALDER_FIXTURES "/formats/") + file;
    QTemporaryDir dir;
    const QString path = dir.filePath(u"data.db"_s);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"setup"_s);
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QVERIFY(QSqlQuery(db).exec(u"CREATE TABLE tblData (Key TEXT, MinV REAL, MaxV REAL)"_s));
        db.close();
    }
    QSqlDatabase::removeDatabase(u"setup"_s);
    AppState state;
    state.DBConnection = std::make_unique<Connection>();
    state.DBConnection->Open(connectionStringFor(path));
    state.DBIsOpen = true;
    test::MemoryForm form;
    const QStringList header{u"Код"_s, u"Мин"_s, u"Имя"_s, u"Макс"_s};
    for (const auto& [rule, col, field] : {std::tuple{"1", keyColumn, "Key"}, {"2", 2, "MinV"}, {"3", 4, "MaxV"}}) {
        const int row = form.lv.count() + 1;
        form.lv.add(row, QString::fromLatin1(rule));
        form.lv.setSubItem(row, 1, QString::number(col));
        form.lv.setSubItem(row, 2, header.value(col - 1));
        form.lv.setSubItem(row, 3, QString::fromLatin1(field));
        form.lv.setSubItem(row, 4, QString());
    }
    QCOMPARE(xls_DataUpdate(state, form.ui, book, 1, 10001, QLocale::c()), false);
    QCOMPARE(form.dialogs.texts(), QStringList{});
    QSqlQuery q(state.DBConnection->database());
    QVERIFY(q.exec(u"SELECT Key, MinV, MaxV FROM tblData ORDER BY rowid"_s));
    QStringList rows;
    while (q.next())
        rows.append(q.value(0).toString() + u'|' + q.value(1).toString() + u'|' + q.value(2).toString());
    QCOMPARE(rows.size(), records);
    QCOMPARE(rows.mid(0, expected.size()), expected);
    QVERIFY(q.exec(u"SELECT MinV FROM tblData WHERE Key = 'K00001'"_s));
    if (file == u"hidden.xlsx") {
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toDouble(), 0.0);
    }
}

QTEST_GUILESS_MAIN(TstFormatsLoad)
#include "tst_formats_load.moc"
