// The .xls reader on real files: xlwt fixtures, hand-written BIFF5 records, and damaged
// copies made here from the good ones.
#include "app/base/failure.h"
#include "workbook/readers/workbook.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

using namespace Qt::Literals::StringLiterals;
using kalder::Workbook;

namespace {
QString fixture(const char* name) { return QStringLiteral(KALDER_FIXTURES "/") + QString::fromLatin1(name); }
QByteArray bytesOf(const char* name)
{
    QFile f(fixture(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

class TstXlsReader : public QObject {
    Q_OBJECT
private slots:
    void cells_data();
    void cells();
    void sheetShape();
    void sharedStringsAcrossContinue();
    void mergedArea();
    void refusedCells_data();
    void refusedCells();
    void closed();
    void cyrillicPath();
    void refusedFiles_data();
    void refusedFiles();
    void damagedNeverCrash();
};

void TstXlsReader::cells_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("expected");
    auto add = [](const char* name, const char* file, const char* loc, int r, int c, const QString& exp) {
        QTest::newRow(name) << QString::fromLatin1(file) << QString::fromLatin1(loc) << r << c << exp;
    };
    add("active sheet text", "xls_basic.xls", "C", 1, 1, u"Код"_s);
    add("leading zeros", "xls_basic.xls", "C", 2, 1, u"00042"_s);
    add("trailing zeros ru", "xls_basic.xls", "ru_RU", 2, 2, u"3,50"_s);
    add("date format", "xls_basic.xls", "C", 2, 3, u"09.03.2024"_s);
    add("thousands C", "xls_basic.xls", "C", 2, 4, u"1,234,567.89"_s);
    add("general", "xls_basic.xls", "C", 2, 6, u"123456789"_s);
    add("boolean ru", "xls_basic.xls", "ru_RU", 2, 8, u"ИСТИНА"_s);
    add("negative section", "xls_basic.xls", "C", 2, 10, u"(5)"_s);
    add("empty row", "xls_basic.xls", "C", 3, 1, u""_s);
    add("merged top-left", "xls_basic.xls", "C", 4, 1, u"merged"_s);
    add("merged hidden", "xls_basic.xls", "C", 5, 1, u""_s);
    add("date time", "xls_basic.xls", "C", 4, 3, u"2024-01-02 13:05:09"_s);
    add("last column", "xls_basic.xls", "C", 6, 256, u"last column"_s);
    add("beyond cells", "xls_basic.xls", "C", 60000, 3, u""_s);
    add("1904 dates", "xls_1904.xls", "C", 1, 1, u"1904-01-01"_s);
    add("biff5 cp1251", "xls_biff5.xls", "C", 1, 1, u"Привет"_s);
    add("rk integer", "xls_biff5.xls", "C", 1, 2, u"12345"_s);
    add("rk hundredths", "xls_biff5.xls", "C", 1, 3, u"1.23"_s);
    add("mulrk double", "xls_biff5.xls", "C", 2, 1, u"0.500"_s);
    add("mulrk integer", "xls_biff5.xls", "ru_RU", 2, 2, u"-7,000"_s);
    add("formula string", "xls_biff5.xls", "C", 3, 1, u"итог"_s);
    add("formula number", "xls_biff5.xls", "C", 3, 2, u"2.75"_s);
    add("formula boolean", "xls_biff5.xls", "C", 3, 3, u"TRUE"_s);
    add("formula error", "xls_biff5.xls", "C", 3, 4, u"#N/A"_s);
    add("boolerr false", "xls_biff5.xls", "C", 3, 5, u"FALSE"_s);
    add("builtin short date ru", "xls_biff5.xls", "ru_RU", 4, 1, u"15.03.2023"_s);
    add("mulblank", "xls_biff5.xls", "C", 4, 2, u""_s);
    add("later record wins", "xls_biff5.xls", "C", 5, 1, u"второй"_s);
    add("wrong sst counts", "xls_sst_counts.xls", "C", 3, 1, u"three"_s);
    // 8-bit texts without a CODEPAGE: the font's character set, else the locale's code page
    for (const char* file : {"xls_biff5_nocp.xls", "xls_biff5_stream.xls"}) {
        QTest::addRow("%s: Cyrillic font under en", file)
            << QString::fromLatin1(file) << u"en_US"_s << 1 << 1 << u"Универсальный"_s;
        QTest::addRow("%s: ANSI font under ru", file)
            << QString::fromLatin1(file) << u"ru_RU"_s << 1 << 2 << u"Привет"_s;
        QTest::addRow("%s: ANSI font under en", file)
            << QString::fromLatin1(file) << u"en_US"_s << 1 << 2 << u"Ïðèâåò"_s;
        QTest::addRow("%s: font after the unwritten index 4", file)
            << QString::fromLatin1(file) << u"en_US"_s << 1 << 3 << u"Łódź"_s;
        QTest::addRow("%s: text after one cut in a character", file)
            << QString::fromLatin1(file) << u"en_US"_s << 1 << 5 << u"A"_s;
        QTest::addRow("%s: formula string in its font's", file)
            << QString::fromLatin1(file) << u"en_US"_s << 2 << 1 << u"итог"_s;
    }
    // BIFF2: the cell's FORMAT in its attributes, texts in the locale's code page
    add("biff2 text ru", "xls_biff2.xls", "ru_RU", 1, 1, u"Код"_s);
    add("biff2 text en", "xls_biff2.xls", "en_US", 1, 2, u"Ñóììà"_s);
    add("biff2 integer", "xls_biff2.xls", "C", 2, 1, u"42"_s);
    add("biff2 number format", "xls_biff2.xls", "ru_RU", 2, 2, u"1234,50"_s);
    add("biff2 date ru", "xls_biff2.xls", "ru_RU", 2, 3, u"09.03.2024"_s);
    add("biff2 date en", "xls_biff2.xls", "en_US", 2, 3, u"09/03/2024"_s);
    add("biff2 boolean", "xls_biff2.xls", "ru_RU", 2, 4, u"ИСТИНА"_s);
    add("biff2 error", "xls_biff2.xls", "C", 2, 5, u"#DIV/0!"_s);
    add("biff2 formula string", "xls_biff2.xls", "ru_RU", 3, 1, u"итог"_s);
    add("biff2 formula number", "xls_biff2.xls", "C", 3, 2, u"25%"_s);
    // BIFF3: XF records, CODEPAGE
    add("biff3 codepage under en", "xls_biff3.xls", "en_US", 1, 1, u"Привет"_s);
    add("biff3 rk grouped", "xls_biff3.xls", "ru_RU", 1, 2, u"12\u00A0345"_s);
    add("biff3 number", "xls_biff3.xls", "C", 2, 1, u"2.68"_s);
    add("biff3 second format", "xls_biff3.xls", "C", 2, 2, u"0.500"_s);
    add("biff3 formula string", "xls_biff3.xls", "C", 3, 1, u"итог"_s);
    add("biff3 boolean", "xls_biff3.xls", "C", 3, 2, u"FALSE"_s);
    // BIFF4: formats by their order, the 1904 system, the system's ANSI code page
    add("biff4 1904 date", "xls_biff4.xls", "C", 1, 1, u"1904-01-01"_s);
    add("biff4 ANSI code page ru", "xls_biff4.xls", "ru_RU", 1, 2, u"Ёлка"_s);
    add("biff4 formula number", "xls_biff4.xls", "C", 2, 1, u"7.5"_s);
    add("biff4 rk hundredths", "xls_biff4.xls", "C", 2, 2, u"1.23"_s);
    // a BIFF4 workbook: the active sheet with its own formats
    add("biff4 workbook active sheet", "xls_biff4w.xls", "en_US", 1, 1, u"второй лист"_s);
    add("biff4 workbook sheet format", "xls_biff4w.xls", "ru_RU", 1, 2, u"3,1"_s);
}

void TstXlsReader::cells()
{
    QFETCH(QString, file);
    QFETCH(QString, locale);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, expected);
    auto book = Workbook::open(fixture(file.toLatin1().constData()), QLocale(locale));
    QCOMPARE(book->cellText(row, column), expected);
}

void TstXlsReader::sheetShape()
{
    auto book = Workbook::open(fixture("xls_basic.xls"), QLocale::c());
    QCOMPARE(book->lastRow(), 6); // row 7 holds only an empty text
    QCOMPARE(book->lastColumn(1), 3);
    QCOMPARE(book->lastColumn(3), 0);
    QCOMPARE(book->lastColumn(6), 256);
    QCOMPARE(book->lastColumn(100), 0);
    auto biff5 = Workbook::open(fixture("xls_biff5.xls"), QLocale::c());
    QCOMPARE(biff5->lastColumn(4), 1); // blanks do not count
}

void TstXlsReader::sharedStringsAcrossContinue()
{
    auto book = Workbook::open(fixture("xls_strings.xls"), QLocale::c());
    QCOMPARE(book->lastRow(), 600);
    const QString tail = QString(40, u'ж');
    for (int n = 1; n <= 600; ++n) {
        QCOMPARE(book->cellText(n, 1), u"строка %1 "_s.arg(n) + tail);
        QCOMPARE(book->cellText(n, 2), u"latin %1"_s.arg(n));
    }
}

void TstXlsReader::mergedArea()
{
    // Every cell of A1:F5 holds its name; of the area B3:D4 only B3 shows.
    auto book = Workbook::open(fixture("xls_merged.xls"), QLocale::c());
    for (int row = 1; row <= 5; ++row)
        for (int col = 1; col <= 6; ++col) {
            const bool hidden = row >= 3 && row <= 4 && col >= 2 && col <= 4 && !(row == 3 && col == 2);
            const QString name = QChar(u'A' + col - 1) + QString::number(row);
            QCOMPARE(book->cellText(row, col), hidden ? QString() : name);
        }
}

void TstXlsReader::refusedCells_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::newRow("row 0") << 0 << 1;
    QTest::newRow("column 0") << 1 << 0;
    QTest::newRow("row past limit") << Workbook::MaxRows + 1 << 1;
    QTest::newRow("column past limit") << 1 << Workbook::MaxColumns + 1;
    QTest::newRow("negative") << -1 << -1;
}

void TstXlsReader::refusedCells()
{
    QFETCH(int, row);
    QFETCH(int, column);
    auto book = Workbook::open(fixture("xls_basic.xls"), QLocale::c());
    auto f = kalder::failureOf([&] { book->cellText(row, column); });
    QVERIFY(f);
    QCOMPARE(f->number(), kalder::err::Subscript);
    QVERIFY(kalder::failureOf([&] { book->lastColumn(row < 1 || row > Workbook::MaxRows ? row : 0); }));
}

void TstXlsReader::closed()
{
    auto book = Workbook::open(fixture("xls_basic.xls"), QLocale::c());
    book->close();
    book->close();
    QVERIFY(kalder::failureOf([&] { book->cellText(1, 1); }));
    QCOMPARE(book->lastRow(), 0);
}

void TstXlsReader::cyrillicPath()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"Отчёт за март.xls"_s);
    QVERIFY(QFile::copy(fixture("xls_basic.xls"), path));
    auto book = Workbook::open(path, QLocale::c());
    QCOMPARE(book->cellText(1, 1), u"Код"_s);
}

void TstXlsReader::refusedFiles_data()
{
    QTest::addColumn<QByteArray>("content"); // empty: the file does not exist
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("words");
    QTest::newRow("missing") << QByteArray() << kalder::err::FileNotFound << u"не найден"_s;
    QTest::newRow("binary renamed") << QByteArray("\x01\x02 binary data") << kalder::err::BookNotWorkbook
                                    << u"не является"_s;
    QTest::newRow("password") << bytesOf("xls_password.xls") << kalder::err::BookNotWorkbook << u"паролем"_s;
    QTest::newRow("truncated") << bytesOf("xls_basic.xls").left(1000) << kalder::err::BookNotWorkbook << u"xls"_s;
    QTest::newRow("xlsx") << QByteArray("PK\x03\x04 rest of a zip") << kalder::err::BookNotWorkbook << u"xlsx"_s;
    QTest::newRow("biff4 workbook without sheets")
        << QByteArray("\x09\x04\x06\x00\x00\x00\x00\x01\x00\x00\x0a\x00\x00\x00", 14) << kalder::err::BookNotWorkbook
        << u"нет листов"_s;
}

void TstXlsReader::refusedFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(int, number);
    QFETCH(QString, words);
    QTemporaryDir dir;
    const QString path = dir.filePath(u"book.xls"_s);
    if (!content.isEmpty()) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    auto f = kalder::failureOf([&] { Workbook::open(path, QLocale::c()); });
    QVERIFY(f);
    QCOMPARE(f->number(), number);
    QVERIFY2(f->description().contains(words), qPrintable(f->text()));
}

// Truncated and byte-flipped copies either open and read, or fail with a Failure; read from
// memory or from the file, they give the same cells or the same failure.
void TstXlsReader::damagedNeverCrash()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"copy.xls"_s);
    const auto allText = [](const std::function<std::unique_ptr<Workbook>()>& open) {
        size_t hash = 0, cells = 0; // of every text read, in order
        try {
            auto book = open();
            const int rows = std::min(book->lastRow(), Workbook::MaxRows);
            for (int r = 1; r <= rows; ++r)
                for (int c = 1; c <= book->lastColumn(r); ++c, ++cells)
                    hash = qHash(book->cellText(r, c), hash * 31 + cells);
        } catch (const kalder::Failure& f) {
            if (f.description().isEmpty())
                return u"empty failure"_s;
            return u"failure %1"_s.arg(f.number());
        }
        return u"%1 cells, %2"_s.arg(cells).arg(hash);
    };
    for (const char* name : {"xls_basic.xls", "xls_strings.xls", "xls_biff5.xls", "xls_biff2.xls", "xls_biff3.xls",
                             "xls_biff4w.xls", "xls_biff5_stream.xls"}) {
        const QByteArray good = bytesOf(name);
        QVERIFY(!good.isEmpty());
        std::vector<QByteArray> copies;
        // a plain stream of a few hundred bytes is cut and flipped at every byte
        const bool small = good.size() < 4096;
        for (qsizetype cut : {qsizetype(512), qsizetype(1536), good.size() / 2, good.size() - 700, good.size() - 1})
            if (!small)
                copies.push_back(good.left(std::max<qsizetype>(cut, 0)));
        for (qsizetype cut = 1; small && cut < good.size(); ++cut)
            copies.push_back(good.left(cut));
        for (qsizetype at = small ? 0 : 512; at < good.size(); at += small ? 1 : 97) {
            QByteArray flipped = good;
            flipped[at] = char(~flipped[at]);
            copies.push_back(flipped);
        }
        for (const QByteArray& copy : copies) {
            const QString fromMemory =
                allText([&] { return Workbook::fromBytes(copy, QString::fromLatin1(name), QLocale::c()); });
            QVERIFY(fromMemory != u"empty failure");
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(copy);
            f.close();
            QCOMPARE(allText([&] { return Workbook::open(path, QLocale::c()); }), fromMemory);
        }
    }
}

QTEST_GUILESS_MAIN(TstXlsReader)
#include "tst_xls_reader.moc"
