// A sheet read from its top down (Workbook::openRows) against the same sheet opened whole, on
// every fixture of every format: the same texts and numbers for the same part, and the same
// failures. Then the files made for the reading as it goes (scripts/fixtures/make_rows.py):
// a .csv whose 64 KB steps cut every kind of place a text can be cut, and .xlsx sheets of
// several batches of rows, one hiding a cell it gave under a merged area listed after the
// cells, one writing a row after later ones.
#include "app/base/failure.h"
#include "workbook/readers/workbook.h"

#include <QDir>
#include <QTest>

#include <optional>

using namespace Qt::Literals::StringLiterals;
using kalder::Failure;
using kalder::RowCursor;
using kalder::Workbook;

namespace {

QString fixture(const QString& name) { return QStringLiteral(KALDER_FIXTURES "/") + name; }

// Every cell of the part, row by row, as "row,col=text|number" lines, read through get (with
// the rows in order); the failure's text where one comes first.
template <typename Text, typename Number>
QStringList cellsOf(int lastRow, const std::vector<int>& columns, Text text, Number number)
{
    QStringList out;
    try {
        QString buffer;
        for (int row = 1; row <= lastRow; ++row)
            for (int col : columns) {
                double v = 0;
                const bool plain = number(row, col, v);
                text(row, col, buffer);
                out.append(
                    u"%1,%2=%3|%4"_s.arg(row).arg(col).arg(buffer, plain ? QString::number(v, 'g', 17) : u"-"_s));
            }
    } catch (const Failure& f) {
        out.append(f.text());
    }
    return out;
}

} // namespace

class TstRowCursor : public QObject {
    Q_OBJECT
private slots:
    void sameAsWhole_data();
    void sameAsWhole();
    void csvCutAnywhere_data();
    void csvCutAnywhere();
    void lateFacts_data();
    void lateFacts();
    void rowsAskedBack();
};

void TstRowCursor::sameAsWhole_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<std::vector<int>>("columns");
    QStringList files;
    for (const QString& folder : {u"formats"_s, u"load"_s, u""_s})
        for (const QString& name :
             QDir(fixture(folder))
                 .entryList({u"*.xls"_s, u"*.xlsx"_s, u"*.ods"_s, u"*.csv"_s, u"*.zip"_s, u"*.odt"_s}, QDir::Files,
                            QDir::Name))
            files.append(folder.isEmpty() ? name : folder + u'/' + name);
    QVERIFY(files.size() > 30);
    for (const QString& f : files)
        for (const char* loc : {"C", "ru_RU"})
            for (const std::vector<int>& cols : {std::vector<int>{1, 2, 3}, std::vector<int>{2, 4}})
                QTest::addRow("%s %s %d..%d", qPrintable(f), loc, cols.front(), cols.back())
                    << f << QString::fromLatin1(loc) << cols;
}

// The load's part: some columns, every row up to a bound.
void TstRowCursor::sameAsWhole()
{
    QFETCH(QString, file);
    QFETCH(QString, locale);
    QFETCH(std::vector<int>, columns);
    const QLocale loc(locale);
    const Workbook::Part part{columns, 20000};
    std::unique_ptr<Workbook> whole;
    const std::optional<Failure> refused = kalder::failureOf([&] { whole = Workbook::open(fixture(file), loc, part); });
    std::unique_ptr<RowCursor> rows;
    QStringList streamed;
    try {
        rows = Workbook::openRows(fixture(file), loc, part);
    } catch (const Failure& f) {
        streamed.append(f.text());
    }
    if (refused) {
        // a file refused whole is refused as it is read, at the latest at its end
        if (rows) {
            streamed = cellsOf(
                2, columns, [&](int r, int c, QString& out) { rows->cellText(r, c, out); },
                [&](int r, int c, double& v) { return rows->plainNumber(r, c, v); });
            if (const auto f = kalder::failureOf([&] { (void)rows->finish(); }))
                streamed.append(f->text());
        }
        QVERIFY2(!streamed.isEmpty(), qPrintable(refused->text()));
        QCOMPARE(streamed.last(), refused->text());
        return;
    }
    const int last = std::min(whole->lastRow() + 2, part.rows);
    const QStringList expected = cellsOf(
        last, columns, [&](int r, int c, QString& out) { whole->cellText(r, c, out); },
        [&](int r, int c, double& v) { return whole->plainNumber(r, c, v); });
    QVERIFY(rows);
    streamed = cellsOf(
        last, columns, [&](int r, int c, QString& out) { rows->cellText(r, c, out); },
        [&](int r, int c, double& v) { return rows->plainNumber(r, c, v); });
    const bool stand = rows->finish();
    if (stand)
        QCOMPARE(streamed, expected);
    else // the fixtures made to be read again
        QVERIFY2(file == u"formats/hidden.xlsx" || file == u"formats/disorder.xlsx", qPrintable(file));
}

void TstRowCursor::csvCutAnywhere_data()
{
    QTest::addColumn<bool>("streamed");
    QTest::newRow("read as it goes") << true;
    QTest::newRow("opened whole") << false;
}

// Each data row i holds K<i>, a quoted text with a doubled quote, a Cyrillic letter and a
// line break, and <i>.5; the padding rows between them are "P" and a run of "a".
void TstRowCursor::csvCutAnywhere()
{
    QFETCH(bool, streamed);
    const QString path = fixture(u"formats/chunks.csv"_s);
    std::unique_ptr<Workbook> whole;
    std::unique_ptr<RowCursor> rows;
    if (streamed)
        rows = Workbook::openRows(path, QLocale::c(), {{1, 2, 3, 4}, 0});
    else
        whole = Workbook::open(path, QLocale::c(), {{1, 2, 3, 4}, 0});
    const auto text = [&](int r, int c) { return streamed ? rows->cellText(r, c) : whole->cellText(r, c); };
    int next = 1, padding = 0;
    for (int row = 1; next <= 20000; ++row) {
        QVERIFY2(row < 20100, "rows missing");
        const QString key = text(row, 1);
        if (key == u"P") {
            QVERIFY(text(row, 2).isEmpty());
            QVERIFY(text(row, 4).size() > 0 && text(row, 4).count(u'a') == text(row, 4).size());
            ++padding;
            continue;
        }
        QCOMPARE(key, u"K%1"_s.arg(next, 5, 10, QLatin1Char('0')));
        QCOMPARE(text(row, 2), u"q \"%1\" Ж\r\nx"_s.arg(next));
        QCOMPARE(text(row, 3), u"%1.5"_s.arg(next));
        ++next;
    }
    QCOMPARE(padding, 8);
    if (rows)
        QVERIFY(rows->finish());
}

void TstRowCursor::lateFacts_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("stand");
    QTest::newRow("several batches") << u"rows.xlsx"_s << true;
    QTest::newRow("merged area hides a cell given") << u"hidden.xlsx"_s << false;
    QTest::newRow("row after later ones") << u"disorder.xlsx"_s << false;
}

// What a file tells only after the rows: whether the rows given stand is known at its end.
void TstRowCursor::lateFacts()
{
    QFETCH(QString, file);
    QFETCH(bool, stand);
    const auto rows = Workbook::openRows(fixture(u"formats/"_s + file), QLocale::c(), {{1, 2}, 0});
    QCOMPARE(rows->rowsStand(), std::nullopt);
    QCOMPARE(rows->cellText(2, 1), u"K00002"_s);
    QCOMPARE(rows->cellText(10001, 2), u"2500.25"_s);
    QCOMPARE(rows->finish(), stand);
    // the whole sheet shows the hidden cell empty, and the late row in its place
    const auto whole = Workbook::open(fixture(u"formats/"_s + file), QLocale::c(), {{1, 2}, 0});
    QCOMPARE(whole->cellText(3001, 2), file == u"hidden.xlsx" ? QString() : u"750.25"_s);
    QCOMPARE(whole->cellText(5001, 2), u"1250.25"_s);
    // a .csv knows at once
    QCOMPARE(Workbook::openRows(fixture(u"formats/chunks.csv"_s), QLocale::c(), {{1}, 0})->rowsStand(),
             std::optional(true));
}

// A row before one read is gone; beyond the format's rows and columns fails as the whole sheet does.
void TstRowCursor::rowsAskedBack()
{
    const auto rows = Workbook::openRows(fixture(u"formats/rows.xlsx"_s), QLocale::c(), {{1}, 0});
    QCOMPARE(rows->cellText(9000, 1), QString());
    QCOMPARE(rows->cellText(9001, 1), u"K00001"_s);
    QCOMPARE(rows->cellText(9001, 1), u"K00001"_s);
    const auto back = kalder::failureOf([&] { rows->cellText(2, 1); });
    QVERIFY(back);
    QCOMPARE(back->number(), kalder::err::Subscript);
    const auto whole = Workbook::open(fixture(u"formats/rows.xlsx"_s), QLocale::c(), {{1}, 0});
    for (const auto& [r, c] : {std::pair{Workbook::MaxRows * 16 + 1, 1}, std::pair{9001, 16385}, std::pair{9001, 0}}) {
        const auto a = kalder::failureOf([&] { rows->cellText(r, c); });
        const auto b = kalder::failureOf([&] { whole->cellText(r, c); });
        QVERIFY(a && b);
        QCOMPARE(a->text(), b->text());
    }
}

QTEST_GUILESS_MAIN(TstRowCursor)
#include "tst_row_cursor.moc"
