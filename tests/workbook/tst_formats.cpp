// The .xlsx, .ods and .csv readers on real files made by scripts/fixtures/make_formats.py:
// the displayed texts of the .xls reader's table from the same cells in the other formats,
// what other writers put in their files, the limits, and damaged or refused files.
#include "app/base/failure.h"
#include "workbook/readers/workbook.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <span>
#include <string>

using namespace Qt::Literals::StringLiterals;
using kalder::Workbook;

namespace {
QString fixture(const QString& name) { return QStringLiteral(KALDER_FIXTURES "/formats/") + name; }

// A data table of one column "file", a row for each of the fixtures named.
void fileRows(std::initializer_list<const char*> files)
{
    QTest::addColumn<QString>("file");
    for (const char* f : files)
        QTest::newRow(f) << QString::fromLatin1(f);
}
QByteArray bytesOf(const QString& name)
{
    QFile f(fixture(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

class TstFormats : public QObject {
    Q_OBJECT
private slots:
    void cells_data();
    void cells();
    void csvText_data();
    void csvText();
    void sheetShape_data();
    void sheetShape();
    void keptColumns_data();
    void keptColumns();
    void refusedCells_data();
    void refusedCells();
    void refusedFiles_data();
    void refusedFiles();
    void damagedNeverCrash_data();
    void damagedNeverCrash();
};

void TstFormats::cells_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("expected");
    auto add = [](const QString& file, const char* what, const char* loc, int r, int c, const QString& exp) {
        QTest::addRow("%s %s", qPrintable(file), what) << file << QString::fromLatin1(loc) << r << c << exp;
    };
    // the cells of xls_basic.xls, written by the other formats' writers
    for (const QString& book : {u"basic.xlsx"_s, u"basic.ods"_s}) {
        add(book, "active sheet text", "C", 1, 1, u"Код"_s);
        add(book, "leading zeros", "C", 2, 1, u"00042"_s);
        add(book, "trailing zeros ru", "ru_RU", 2, 2, u"3,50"_s);
        add(book, "date format", "C", 2, 3, u"09.03.2024"_s);
        add(book, "thousands C", "C", 2, 4, u"1,234,567.89"_s);
        add(book, "thousands ru", "ru_RU", 2, 4, u"1\u00A0234\u00A0567,89"_s);
        add(book, "percent", "C", 2, 5, u"25%"_s);
        add(book, "general", "C", 2, 6, u"123456789"_s);
        add(book, "general sum", "ru_RU", 2, 7, u"0,3"_s);
        add(book, "boolean ru", "ru_RU", 2, 8, u"ИСТИНА"_s);
        add(book, "formula error ru", "ru_RU", 2, 9, u"#ДЕЛ/0!"_s);
        add(book, "negative section", "C", 2, 10, u"(5)"_s);
        add(book, "empty row", "C", 3, 1, u""_s);
        add(book, "merged top-left", "C", 4, 1, u"merged"_s);
        add(book, "merged hidden", "C", 5, 1, u""_s);
        add(book, "merged hidden right", "C", 4, 2, u""_s);
        add(book, "date time", "C", 4, 3, u"2024-01-02 13:05:09"_s);
        add(book, "last xls column", "C", 6, 256, u"last column"_s);
        add(book, "beyond cells", "C", 60000, 3, u""_s);
    }
    add(u"basic.xlsx"_s, "time am/pm", "C", 5, 3, u"8:00 AM"_s);
    add(u"basic.ods"_s, "time am/pm", "C", 5, 3, u"8:00 AM"_s);
    for (const QString& book : {u"1904.xlsx"_s, u"1904.ods"_s}) {
        add(book, "1904 serial 0", "C", 1, 1, u"1904-01-01"_s);
        add(book, "1904 plain", "C", 2, 1, u"1.5"_s);
    }
    add(u"1904.xlsx"_s, "1904 date", "C", 3, 1, u"09.03.2024"_s);

    // other writers: odd prefixes, no positions, rich and inline strings, cached results
    const QString hx = u"handmade.xlsx"_s;
    add(hx, "active sheet third", "C", 1, 1, u"plain"_s);
    add(hx, "shared rich runs, phonetic left out", "C", 1, 2, u"rich text"_s);
    add(hx, "escapes and references", "C", 1, 3, u"line\rbreak & Ж"_s);
    add(hx, "inline string", "C", 2, 1, u"inline"_s);
    add(hx, "inline runs with spaces", "C", 2, 2, u"  two runs"_s);
    add(hx, "custom format", "C", 2, 3, u"2.500"_s);
    add(hx, "formula cached string", "C", 4, 1, u"abc"_s);
    add(hx, "boolean", "C", 4, 2, u"TRUE"_s);
    add(hx, "error", "C", 4, 3, u"#N/A"_s);
    add(hx, "ISO date", "C", 4, 4, u"2024-03-09"_s);
    add(hx, "builtin short date ru", "ru_RU", 4, 5, u"15.03.2023"_s);
    add(hx, "styled empty cell", "C", 5, 2, u""_s);
    add(hx, "formula cached number", "C", 5, 4, u"2"_s);
    add(hx, "last cell of the sheet", "C", 1048576, 16384, u"corner"_s);

    // the cells a spreadsheet shows by the locale: Russian, English
    struct Shown {
        const char* what;
        int row, column;
        QString ru, en;
    };
    const QString nbsp = QString(QChar(0x00A0));
    const Shown celltextXlsx[] = {
        {"rounding from 15 digits, four places", 1, 1, u"1,2681"_s, u"1.2681"_s},
        {"rounding from 15 digits, two places", 1, 2, u"2,68"_s, u"2.68"_s},
        {"rounding one place", 1, 3, u"0,2"_s, u"0.2"_s},
        {"built-in grouping", 1, 4, u"123"_s + nbsp + u"456"_s, u"123,456"_s},
        {"date separator", 1, 5, u"2014.01.16 16:00"_s, u"2014/01/16 16:00"_s},
        {"date separator day first", 1, 6, u"21.10.2009"_s, u"21/10/2009"_s},
        {"tag 409", 1, 7, u"August 10, 2016"_s, u"August 10, 2016"_s},
        {"system long date", 1, 8, u"10 августа 2016 г."_s, u"Wednesday, August 10, 2016"_s},
        {"system long time", 1, 9, u"16:00:00"_s, u"4:00:00 PM"_s},
        {"built-in 14", 1, 10, u"10.08.2016"_s, u"8/10/2016"_s},
        {"built-in 15", 1, 11, u"10.авг.16"_s, u"10-Aug-16"_s},
        {"built-in 22", 1, 12, u"10.08.2016 13:30"_s, u"8/10/2016 13:30"_s},
        {"condition only negatives meet", 1, 13, u"30"_s, u"30"_s},
        {"General in the text section", 1, 14, u"foo "_s, u"foo "_s},
        {"currency tag", 1, 15, u"€ 1"_s + nbsp + u"000,00"_s, u"€ 1,000.00"_s},
        {"date1904 true", 1, 16, u"1904-01-01"_s, u"1904-01-01"_s},
        {"built-in 14 redefined by the file", 1, 17, u"10.08.2016"_s, u"8/10/2016"_s},
        {"shared CR LF", 2, 1, u"abc\ndef"_s, u"abc\ndef"_s},
        {"shared lone CR", 2, 2, u"lone\ncr"_s, u"lone\ncr"_s},
        {"escaped CR", 2, 3, u"esc\raped"_s, u"esc\raped"_s},
        {"referenced CR", 2, 4, u"ref\rcr"_s, u"ref\rcr"_s},
        {"inline CR LF", 2, 5, u"in\nline"_s, u"in\nline"_s},
        {"formula string CR LF", 2, 6, u"s\nt"_s, u"s\nt"_s},
    };
    const Shown celltextOds[] = {
        {"writer's General: its shown text", 1, 1, u"12345.6789"_s, u"12345.6789"_s},
        {"embedded text: its shown text", 1, 2, u"12x34"_s, u"12x34"_s},
        {"writer's General without a text", 1, 3, u"3,25"_s, u"3.25"_s},
        {"paragraph CR LF", 2, 1, u"abc\ndef"_s, u"abc\ndef"_s},
        {"string-value line end by reference", 2, 2, u"x\ny"_s, u"x\ny"_s},
        {"paragraph lone CR", 2, 3, u"lone\ncr"_s, u"lone\ncr"_s},
        {"string-value raw line end: a space", 2, 4, u"p q"_s, u"p q"_s},
    };
    for (const auto& [book, cases] : {std::pair{u"celltext.xlsx"_s, std::span<const Shown>(celltextXlsx)},
                                      std::pair{u"celltext.ods"_s, std::span<const Shown>(celltextOds)}})
        for (const Shown& c : cases) {
            add(book, (std::string(c.what) + " ru").c_str(), "ru_RU", c.row, c.column, c.ru);
            add(book, (std::string(c.what) + " en").c_str(), "en_US", c.row, c.column, c.en);
        }

    const QString ho = u"handmade.ods"_s;
    add(ho, "string-value attribute", "C", 1, 1, u"from the attribute"_s);
    add(ho, "spaces, spans, tabs, paragraphs", "C", 1, 2, u"a   bc\td\nsecond"_s);
    add(ho, "annotation not shown", "C", 1, 3, u"with note"_s);
    add(ho, "percentage", "ru_RU", 2, 1, u"12,5 %"_s);
    add(ho, "currency", "C", 2, 2, u"1,234.50 руб."_s);
    add(ho, "elapsed hours", "C", 2, 3, u"26:30"_s);
    add(ho, "untranslatable style: shown text", "C", 2, 4, u"н.э. 24"_s);
    add(ho, "date without style: shown text", "C", 2, 5, u"2024-03-09"_s);
    add(ho, "repeated row and column", "C", 5, 2, u"7"_s);
    add(ho, "boolean false", "ru_RU", 6, 1, u"ЛОЖЬ"_s);
    add(ho, "cell without a type", "C", 6, 2, u"no type"_s);
    add(u"nosettings.ods"_s, "named table missing: the first", "C", 1, 1, u"first table"_s);

    // CSV: the field as written
    for (const char* sep : {"comma", "semicolon", "tab"}) {
        const QString file = QString::fromLatin1(sep) + u".csv"_s;
        const QString joined = QString::fromLatin1(sep) == u"semicolon" ? u"Smith; John"_s : u"Smith, John"_s;
        add(file, "header", "C", 1, 1, u"Код"_s);
        add(file, "leading zeros kept", "C", 2, 1, u"007"_s);
        add(file, "quoted separator", "C", 2, 2, joined);
        add(file, "decimal as written", "ru_RU", 2, 3, QString::fromLatin1(sep) == u"comma" ? u"1.5"_s : u"1,5"_s);
        add(file, "line break inside quotes", "C", 3, 1, u"multi\nline"_s);
        add(file, "doubled quotes", "C", 3, 2, u"say \"hi\""_s);
        add(file, "empty field", "C", 3, 3, u""_s);
        add(file, "after empty fields", "C", 4, 3, u"last"_s);
    }
    add(u"cp1251.csv"_s, "windows code page", "ru_RU", 2, 2, u"Иванов Пётр"_s);
    add(u"cp1251.csv"_s, "code page leading zeros", "ru_RU", 2, 1, u"001"_s);
    add(u"bom.csv"_s, "byte-order mark dropped", "C", 1, 1, u"Код"_s);
    add(u"bom.csv"_s, "UTF-8", "C", 2, 2, u"Ёж"_s);
    add(u"sep.csv"_s, "sep= line", "C", 1, 2, u"Имя,с запятой"_s);
    add(u"sep.csv"_s, "sep= line data", "C", 2, 1, u"003"_s);
}

void TstFormats::cells()
{
    QFETCH(QString, file);
    QFETCH(QString, locale);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, expected);
    auto book = Workbook::open(fixture(file), QLocale(locale));
    QCOMPARE(book->cellText(row, column), expected);
}

// Delimited text in memory, through the same choice of reader as a file.
void TstFormats::csvText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QStringList>("rows"); // each row's cells joined by "|"
    QTest::newRow("decimal commas: the semicolon separates")
        << QByteArray("1,5;2,5\n3,25;4\n") << u"C"_s << QStringList{u"1,5|2,5"_s, u"3,25|4"_s};
    QTest::newRow("ragged commas, the semicolon in every line")
        << QByteArray("a,b;c\nd;e,f,g\n") << u"C"_s << QStringList{u"a,b|c"_s, u"d|e,f,g"_s};
    QTest::newRow("tab before semicolon")
        << QByteArray("a;b\tc\nd;e\tf\n") << u"C"_s << QStringList{u"a;b|c"_s, u"d;e|f"_s};
    QTest::newRow("one column") << QByteArray("first\nsecond") << u"C"_s << QStringList{u"first"_s, u"second"_s};
    QTest::newRow("CR line ends") << QByteArray("a,b\rc,d\r") << u"C"_s << QStringList{u"a|b"_s, u"c|d"_s};
    QTest::newRow("blank line kept as an empty row")
        << QByteArray("a,b\n\nc,d\n") << u"C"_s << QStringList{u"a|b"_s, QString(), u"c|d"_s};
    QTest::newRow("quote inside an unquoted field is text")
        << QByteArray("5\" pipe,x\n1,2\n") << u"C"_s << QStringList{u"5\" pipe|x"_s, u"1|2"_s};
    QTest::newRow("text after a closing quote")
        << QByteArray("\"ab\"cd,e\n1,2\n") << u"C"_s << QStringList{u"abcd|e"_s, u"1|2"_s};
    QTest::newRow("spaces kept") << QByteArray(" a , b \n") << u"C"_s << QStringList{u" a | b "_s};
    QTest::newRow("UTF-16 with a byte-order mark") << QByteArray("\xFF\xFE"
                                                                 "K\0o\0d\0\t\0\x16\x04\n\0",
                                                                 14)
                                                   << u"C"_s << QStringList{u"Kod|Ж"_s};
    QTest::newRow("not UTF-8: the locale's code page")
        << QByteArray("\xC0\xC1;\xE0\n") << u"ru_RU"_s << QStringList{u"АБ|а"_s};
    QTest::newRow("no byte-order mark, UTF-8") << QByteArray("\xD0\x81,2\n") << u"ru_RU"_s << QStringList{u"Ё|2"_s};
}

void TstFormats::csvText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, locale);
    QFETCH(QStringList, rows);
    auto book = Workbook::fromBytes(bytes, u"text.csv"_s, QLocale(locale));
    QCOMPARE(book->lastRow(), int(rows.size()));
    for (int r = 1; r <= book->lastRow(); ++r) {
        QStringList cells;
        for (int c = 1; c <= book->lastColumn(r); ++c)
            cells.append(book->cellText(r, c));
        QCOMPARE(cells.join(u'|'), rows[r - 1]);
    }
}

void TstFormats::sheetShape_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("lastRow");
    QTest::addColumn<QList<int>>("lastColumns"); // of rows 1, 2, ...
    QTest::newRow("xlsx") << u"basic.xlsx"_s << 6 << QList<int>{3, 10, 0, 3, 3, 256};
    QTest::newRow("ods, trailing repeated empties") << u"basic.ods"_s << 6 << QList<int>{3, 10, 0, 3, 3, 256};
    QTest::newRow("xlsx corner") << u"handmade.xlsx"_s << 1048576 << QList<int>{3, 3, 0, 5, 4};
    QTest::newRow("csv") << u"comma.csv"_s << 4 << QList<int>{3, 3, 2, 3};
}

void TstFormats::sheetShape()
{
    QFETCH(QString, file);
    QFETCH(int, lastRow);
    QFETCH(QList<int>, lastColumns);
    auto book = Workbook::open(fixture(file), QLocale::c());
    QCOMPARE(book->lastRow(), lastRow);
    for (int r = 0; r < lastColumns.size(); ++r)
        QCOMPARE(book->lastColumn(r + 1), lastColumns[r]);
}

void TstFormats::keptColumns_data()
{
    fileRows({"basic.xlsx", "basic.ods", "comma.csv", "../xls_basic.xls", "../xls_biff5.xls"});
}

void TstFormats::keptColumns()
{
    // A reader asked for some columns, or for the rows up to one, gives their texts as the
    // whole sheet has them, and every other cell empty.
    QFETCH(QString, file);
    auto all = Workbook::open(fixture(file), QLocale::c());
    auto kept = Workbook::open(fixture(file), QLocale::c(), {{2, 3}});
    auto top = Workbook::open(fixture(file), QLocale::c(), {{}, 2});
    QVERIFY(all->lastRow() > 2);
    QCOMPARE(top->lastRow(), 2);
    int shown = 0;
    for (int row = 1; row <= all->lastRow(); ++row)
        for (int col = 1; col <= std::max(all->lastColumn(row), 4); ++col) {
            const QString text = col == 2 || col == 3 ? all->cellText(row, col) : QString();
            QCOMPARE(kept->cellText(row, col), text);
            QCOMPARE(top->cellText(row, col), row <= 2 ? all->cellText(row, col) : QString());
            shown += text.isEmpty() ? 0 : 1;
        }
    QVERIFY(shown > 0);
}

void TstFormats::refusedCells_data() { fileRows({"basic.xlsx", "basic.ods", "comma.csv"}); }

void TstFormats::refusedCells()
{
    QFETCH(QString, file);
    auto book = Workbook::open(fixture(file), QLocale::c());
    QCOMPARE(book->maxRows(), 1048576);
    QCOMPARE(book->maxColumns(), 16384);
    QCOMPARE(book->cellText(1048576, 16384), QString());
    for (const auto& cell : {std::pair{1048577, 1}, std::pair{1, 16385}, std::pair{0, 1}, std::pair{1, 0}}) {
        // plain names, not a structured binding: the lambda captures them on every compiler
        const int row = cell.first, column = cell.second;
        const auto f = kalder::failureOf([&] { book->cellText(row, column); });
        QVERIFY(f);
        QCOMPARE(f->number(), kalder::err::Subscript);
    }
}

void TstFormats::refusedFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("words");
    QTest::newRow("beyond the last row") << bytesOf(u"beyond.xlsx"_s) << u"больше допустимого"_s;
    QTest::newRow("password-protected xlsx") << bytesOf(u"password.xlsx"_s) << u"защищена паролем"_s;
    QTest::newRow("repeated cells past the bound") << bytesOf(u"repeated.ods"_s) << u"больше допустимого"_s;
    QTest::newRow("zip of no workbook") << bytesOf(u"notbook.zip"_s) << u"не книга .xlsx или .ods"_s;
    QTest::newRow("OpenDocument text") << bytesOf(u"text.odt"_s) << u"не электронная таблица"_s;
    QTest::newRow("truncated xlsx") << bytesOf(u"basic.xlsx"_s).left(3000) << u"повреждена"_s;
    QTest::newRow("truncated ods") << bytesOf(u"basic.ods"_s).left(1500) << u"повреждена"_s;
    QTest::newRow("binary") << QByteArray("\x01\x02\x03\x00\xff binary", 12) << u"не является книгой"_s;
    QTest::newRow("empty") << QByteArray() << u"пуст"_s;
    QTest::newRow("csv quote open at the end")
        << QByteArray("Код,Имя\nA-1,\"Smith\nB-2,x\nC-3,y\n") << u"кавычка, открытая в строке 2, не закрыта"_s;
    QTest::newRow("csv quote open after a quoted line break")
        << QByteArray("a,\"x\r\ny\"\r\nb,\"\"\"open\r\nc\r") << u"кавычка, открытая в строке 3,"_s;
    QTest::newRow("csv quote open after a sep= line") << QByteArray("sep=;\nk;\"v\n") << u"открытая в строке 2,"_s;
    QTest::newRow("HTML table under a workbook's name")
        << QByteArray("\n<html><body><table><tr><td>1</td></tr></table>") << u"HTML или XML"_s;
}

void TstFormats::refusedFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, words);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"book.xlsx"_s);
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    for (bool fromFile : {true, false}) {
        auto f = kalder::failureOf([&] {
            if (fromFile)
                Workbook::open(path, QLocale::c());
            else
                Workbook::fromBytes(content, path, QLocale::c());
        });
        QVERIFY2(f, fromFile ? "from the file" : "from the bytes");
        QCOMPARE(f->number(), kalder::err::BookNotWorkbook);
        QVERIFY2(f->description().contains(words), qPrintable(f->text()));
    }
}

void TstFormats::damagedNeverCrash_data()
{
    fileRows({"basic.xlsx", "handmade.xlsx", "basic.ods", "handmade.ods", "comma.csv"});
}

// Truncated and byte-flipped copies either open and read, or fail with a Failure.
void TstFormats::damagedNeverCrash()
{
    QFETCH(QString, file);
    const QByteArray good = bytesOf(file);
    QVERIFY(!good.isEmpty());
    std::vector<QByteArray> copies;
    for (qsizetype cut = 1; cut < good.size(); cut += std::max<qsizetype>(good.size() / 40, 1))
        copies.push_back(good.left(cut));
    for (qsizetype at = 0; at < good.size(); at += 37) {
        QByteArray flipped = good;
        flipped[at] = char(~flipped[at]);
        copies.push_back(flipped);
    }
    for (const QByteArray& copy : copies) {
        try {
            auto book = Workbook::fromBytes(copy, file, QLocale::c());
            const int rows = std::min(book->lastRow(), 100);
            for (int r = 1; r <= rows; ++r)
                for (int c = 1; c <= book->lastColumn(r); ++c)
                    book->cellText(r, c);
        } catch (const kalder::Failure& f) {
            QVERIFY(!f.description().isEmpty());
        }
    }
}

QTEST_GUILESS_MAIN(TstFormats)
#include "tst_formats.moc"
