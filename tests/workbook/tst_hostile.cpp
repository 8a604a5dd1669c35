// Hostile and damaged workbooks, made by scripts/fixtures/make_hostile.py: parts whose bytes
// no longer match their checksums, archives that claim or inflate to more than they may, texts
// longer than a cell holds, rows repeated past the sheet.
#include "app/base/failure.h"
#include "workbook/readers/workbook.h"
#include "workbook/readers/zip_archive.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using kalder::Workbook;

namespace {
QString fixture(const QString& name) { return QStringLiteral(KALDER_FIXTURES "/hostile/") + name; }
QByteArray bytesOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A zip archive of stored entries, written here as the format lays it out: each entry's local
// header and bytes, the central directory, its end record. The checksums are left zero: what
// is refused here is refused before an entry is read.
QByteArray storedZip(const QList<std::pair<QByteArray, QByteArray>>& entries)
{
    const auto le = [](QByteArray& out, quint32 v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.append(char((v >> (8 * i)) & 0xFF));
    };
    QByteArray zip, dir;
    for (const auto& [name, data] : entries) {
        const quint32 offset = quint32(zip.size());
        le(zip, 0x04034b50, 4);
        le(zip, 20, 2), le(zip, 0, 2), le(zip, 0, 2), le(zip, 0, 2),
            le(zip, 0, 2); // version, flags, stored, time, date
        le(zip, 0, 4), le(zip, quint32(data.size()), 4), le(zip, quint32(data.size()), 4);
        le(zip, quint32(name.size()), 2), le(zip, 0, 2);
        zip += name + data;
        le(dir, 0x02014b50, 4);
        le(dir, 20, 2), le(dir, 20, 2), le(dir, 0, 2), le(dir, 0, 2), le(dir, 0, 2), le(dir, 0, 2);
        le(dir, 0, 4), le(dir, quint32(data.size()), 4), le(dir, quint32(data.size()), 4);
        le(dir, quint32(name.size()), 2), le(dir, 0, 2), le(dir, 0, 2), le(dir, 0, 2), le(dir, 0, 2);
        le(dir, 0, 4), le(dir, offset, 4);
        dir += name;
    }
    const quint32 dirOffset = quint32(zip.size());
    zip += dir;
    le(zip, 0x06054b50, 4);
    le(zip, 0, 2), le(zip, 0, 2), le(zip, quint32(entries.size()), 2), le(zip, quint32(entries.size()), 2);
    le(zip, quint32(dir.size()), 4), le(zip, dirOffset, 4), le(zip, 0, 2);
    return zip;
}
} // namespace

class TstHostile : public QObject {
    Q_OBJECT
private slots:
    void damagedPart_data();
    void damagedPart();
    void refused_data();
    void refused();
    void keptColumnsOnly_data();
    void keptColumnsOnly();
    void inflatedTotal();
    void directoryRefused();
    void honestRatio();
    void repeatedRows_data();
    void repeatedRows();
};

void TstHostile::damagedPart_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("part");
    QTest::newRow("xlsx sheet, stored") << u"crc_sheet.xlsx"_s << u"xl/worksheets/sheet1.xml"_s;
    QTest::newRow("xlsx shared strings") << u"crc_strings.xlsx"_s << u"xl/strings.xml"_s;
    QTest::newRow("xlsx sheet, deflated") << u"crc_deflated.xlsx"_s << u"xl/worksheets/sheet1.xml"_s;
    QTest::newRow("ods active table") << u"crc_content.ods"_s << u"content.xml"_s;
    QTest::newRow("ods table after the active one") << u"crc_after.ods"_s << u"content.xml"_s;
    QTest::newRow("ods settings after the active table's name") << u"crc_settings.ods"_s << u"settings.xml"_s;
}

// A part whose bytes do not match its checksum fails the workbook, from the file and from its
// bytes, naming the file and the part; it never loads as changed data.
void TstHostile::damagedPart()
{
    QFETCH(QString, file);
    QFETCH(QString, part);
    const QString path = fixture(file);
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    for (bool fromFile : {true, false}) {
        const auto failure = kalder::failureOf([&] {
            if (fromFile)
                Workbook::open(path, QLocale::c());
            else
                Workbook::fromBytes(bytes, path, QLocale::c());
        });
        QVERIFY2(failure, fromFile ? "from the file" : "from the bytes");
        QCOMPARE(failure->number(), kalder::err::BookNotWorkbook);
        const QString text = failure->description();
        QVERIFY2(text.contains(u"книга повреждена") && text.contains(path) && text.contains(part), qPrintable(text));
    }
}

void TstHostile::refused_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content"); // empty: the fixture of that name
    QTest::addColumn<QString>("words");
    const QString tooLong = u"текст длиннее 32767 знаков"_s;
    QTest::newRow("shared string of 40 million characters")
        << u"string_bomb.xlsx"_s << QByteArray() << u"Ячейка (2, 1) книги %1: "_s + tooLong;
    QTest::newRow("xlsx inline string") << u"long_inline.xlsx"_s << QByteArray()
                                        << u"Ячейка (3, 2) книги %1: "_s + tooLong;
    QTest::newRow("ods cell") << u"long_cell.ods"_s << QByteArray() << u"Ячейка (2, 3) книги %1: "_s + tooLong;
    QTest::newRow("xls shared string") << u"long_sst.xls"_s << QByteArray() << u"Ячейка (2, 1) книги %1: "_s + tooLong;
    QTest::newRow("csv field") << u"long.csv"_s
                               << QByteArray("Код,Имя\nA-1,x\n\"B-2\",\"" + QByteArray(40000, 'y') + "\"\n")
                               << u"Ячейка (3, 2) книги %1: "_s + tooLong;
    QTest::newRow("1 GB of texts from spaces")
        << u"spaces.ods"_s << QByteArray()
        << u"Лист книги %1 больше допустимого: тексты его ячеек занимают более 512 МБ"_s;
    QTest::newRow("size beyond what the compressed bytes give")
        << u"lying_size.xlsx"_s << QByteArray() << u"больше, чем дают её 347 сжатых байт"_s;
    QTest::newRow("styles of 70 MB") << u"big_styles.xlsx"_s << QByteArray() << u"часть xl/styles.xml больше 64 МБ"_s;
    QTest::newRow("tag of 17 MB") << u"long_tag.xlsx"_s << QByteArray() << u"элемент XML длиннее 16 МБ"_s;
}

// Each is refused, from the file and from its bytes, with a failure naming the file and what
// is wrong: the cell whose text is too long, the part, the limit.
void TstHostile::refused()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, words);
    QTemporaryDir dir;
    QString path = fixture(name);
    if (!content.isEmpty()) {
        path = dir.filePath(name);
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    const QByteArray bytes = bytesOf(path);
    QVERIFY(!bytes.isEmpty());
    for (bool fromFile : {true, false}) {
        const auto failure = kalder::failureOf([&] {
            if (fromFile)
                Workbook::open(path, QLocale::c());
            else
                Workbook::fromBytes(bytes, path, QLocale::c());
        });
        QVERIFY2(failure, fromFile ? "from the file" : "from the bytes");
        QCOMPARE(failure->number(), kalder::err::BookNotWorkbook);
        const QString text = failure->description();
        QVERIFY2(text.contains(words.arg(path)) && text.contains(path), qPrintable(text));
    }
}

void TstHostile::keptColumnsOnly_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("minimum"); // the text of C2
    QTest::newRow("xlsx shared string") << u"string_bomb.xlsx"_s << u"5"_s;
    QTest::newRow("xls shared string") << u"long_sst.xls"_s << u"5"_s;
    QTest::newRow("ods cell") << u"long_cell.ods"_s << QString();
}

// A text too long for a cell fails only a reader that keeps its cell: a load of other columns
// reads as from any workbook.
void TstHostile::keptColumnsOnly()
{
    QFETCH(QString, file);
    QFETCH(QString, minimum);
    const Workbook::Part part{{2, 3}, 2};
    if (file.endsWith(u".ods")) {
        const auto failure = kalder::failureOf([&] { Workbook::open(fixture(file), QLocale::c(), part); });
        QVERIFY(failure); // its long cell is in column 3
        QVERIFY(failure->description().contains(u"Ячейка (2, 3)"));
        const auto book = Workbook::open(fixture(file), QLocale::c(), Workbook::Part{{1, 2}, 2});
        QCOMPARE(book->cellText(1, 2), u"Имя"_s);
        return;
    }
    const auto book = Workbook::open(fixture(file), QLocale::c(), part);
    QCOMPARE(book->cellText(1, 3), u"Мин"_s);
    QCOMPARE(book->cellText(2, 3), minimum);
    QCOMPARE(book->cellText(2, 1), QString());
}

// The parts of one archive inflate to no more than its total, counted over every read.
void TstHostile::inflatedTotal()
{
    const QByteArray bytes = bytesOf(QStringLiteral(KALDER_FIXTURES "/formats/load.xlsx"));
    const QStringList parts{u"xl/workbook.xml"_s, u"xl/styles.xml"_s, u"xl/worksheets/sheet1.xml"_s};
    qint64 total = 0;
    {
        const kalder::ZipArchive zip(bytes, u"load.xlsx"_s);
        for (const QString& p : parts) {
            auto s = zip.open(p);
            char buf[4096];
            for (qsizetype n; (n = s->read(buf, sizeof buf)) > 0;)
                total += n;
        }
    }
    for (const qint64 budget : {total, total - 1}) {
        const kalder::ZipArchive zip(bytes, u"load.xlsx"_s, budget);
        const auto failure = kalder::failureOf([&] {
            for (const QString& p : parts)
                zip.open(p)->finish();
        });
        QCOMPARE(bool(failure), budget < total);
        if (failure)
            QVERIFY2(failure->description().contains(u"распаковываются более чем"), qPrintable(failure->text()));
    }
}

// An archive whose directory is refused after the library has opened it fails as damaged,
// naming the file and the part.
void TstHostile::directoryRefused()
{
    const QByteArray zip = storedZip({{"a.xml", "<a/>"}, {"a.xml", "<b/>"}});
    const auto failure = kalder::failureOf([&] { kalder::ZipArchive archive(zip, u"twice.xlsx"_s); });
    QVERIFY(failure);
    QCOMPARE(failure->number(), kalder::err::BookNotWorkbook);
    QVERIFY2(failure->description().contains(u"twice.xlsx") &&
                 failure->description().contains(u"две части с именем a.xml"),
             qPrintable(failure->text()));
    // the same archive with the names apart opens
    const QByteArray twoNames = storedZip({{"a.xml", "<a/>"}, {"b.xml", "<b/>"}});
    const kalder::ZipArchive apart(twoNames, u"apart.xlsx"_s);
    QVERIFY(apart.has(u"b.xml"_s));
}

// A part inflating a thousand times, as deflate can, reads like any other: 100 MB of blanks
// in the sheet of formats/bomb.xlsx.
void TstHostile::honestRatio()
{
    const auto book = Workbook::open(QStringLiteral(KALDER_FIXTURES "/formats/bomb.xlsx"), QLocale::c());
    QVERIFY(book->lastRow() > 0);
}

void TstHostile::repeatedRows_data()
{
    QTest::addColumn<int>("rows"); // the last row kept
    QTest::addColumn<QString>("refusal"); // empty: read
    QTest::newRow("to the sheet's last row") << 1048576 << u"заполнены строки после 1048576-й"_s;
    QTest::newRow("the first rows") << 1500 << QString();
    QTest::newRow("rows of many copies") << 1040000 << QString();
}

// Filled rows of repeated.ods run past the sheet's last row: a read to that row is refused, as
// a cell past it is in an .xlsx. A read of fewer rows keeps only its columns of them, so it
// reads quickly although the whole sheet holds more cells than a workbook may (the refusal
// of such a sheet read whole is tst_formats' "repeated cells past the bound").
void TstHostile::repeatedRows()
{
    QFETCH(int, rows);
    QFETCH(QString, refusal);
    const QString path = fixture(u"repeated.ods"_s);
    const Workbook::Part part{{1, 3}, rows};
    if (!refusal.isEmpty()) {
        const auto failure = kalder::failureOf([&] { Workbook::open(path, QLocale::c(), part); });
        QVERIFY(failure);
        QVERIFY2(failure->description().contains(refusal), qPrintable(failure->text()));
        return;
    }
    const auto book = Workbook::open(path, QLocale::c(), part);
    QCOMPARE(book->lastRow(), rows);
    const int last = (rows - 2) / 1000; // the key of the last row
    const QList<std::tuple<int, int, QString>> cells{{1, 1, u"Код"_s},
                                                     {2, 1, u"key 0"_s},
                                                     {1001, 1, u"key 0"_s},
                                                     {1002, 1, u"key 1"_s},
                                                     {1002, 3, u"2.5"_s},
                                                     {1002, 2, QString()},
                                                     {1002, 4, QString()},
                                                     {rows, 1, u"key %1"_s.arg(last)},
                                                     {rows, 3, QString::number(2 * last + 0.5)}};
    for (const auto& [r, c, text] : cells)
        QCOMPARE(book->cellText(r, c), text);
}

QTEST_GUILESS_MAIN(TstHostile)
#include "tst_hostile.moc"
