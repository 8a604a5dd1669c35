// The .xls reader on real files: xlwt fixtures, hand-written BIFF5 records, and damaged
// copies made here from the good ones.
#include "app/failure.h"
#include "workbook/workbook.h"

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
    QTest::newRow("binary renamed") << QByteArray("\x01\x02 binary data") << kalder::err::BookNotWorkbook << u"не является"_s;
    QTest::newRow("password") << bytesOf("xls_password.xls") << kalder::err::BookNotWorkbook << u"паролем"_s;
    QTest::newRow("truncated") << bytesOf("xls_basic.xls").left(1000) << kalder::err::BookNotWorkbook << u"xls"_s;
    QTest::newRow("xlsx") << QByteArray("PK\x03\x04 rest of a zip") << kalder::err::BookNotWorkbook << u"xlsx"_s;
    QTest::newRow("biff4") << QByteArray("\x09\x04\x06\x00\x00\x00\x10\x00\x00\x00", 10) << kalder::err::BookNotWorkbook
                           << u"BIFF2"_s;
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
                for (int c = 1; c <= book->lastColumn(r); ++c, ++cells) hash = qHash(book->cellText(r, c), hash * 31 + cells);
        } catch (const kalder::Failure& f) {
            if (f.description().isEmpty()) return u"empty failure"_s;
            return u"failure %1"_s.arg(f.number());
        }
        return u"%1 cells, %2"_s.arg(cells).arg(hash);
    };
    for (const char* name : {"xls_basic.xls", "xls_strings.xls", "xls_biff5.xls"}) {
        const QByteArray good = bytesOf(name);
        QVERIFY(!good.isEmpty());
        std::vector<QByteArray> copies;
        for (qsizetype cut : {qsizetype(512), qsizetype(1536), good.size() / 2, good.size() - 700, good.size() - 1})
            copies.push_back(good.left(std::max<qsizetype>(cut, 0)));
        for (qsizetype at = 512; at < good.size(); at += 97) {
            QByteArray flipped = good;
            flipped[at] = char(~flipped[at]);
            copies.push_back(flipped);
        }
        for (const QByteArray& copy : copies) {
            const QString fromMemory = allText([&] { return Workbook::fromBytes(copy, QString::fromLatin1(name), QLocale::c()); });
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
