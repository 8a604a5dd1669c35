// Hostile and damaged workbooks, made by scripts/fixtures/make_hostile.py: parts whose bytes
// no longer match their checksums.
#include "app/failure.h"
#include "workbook/workbook.h"

#include <QFile>
#include <QTest>

using namespace Qt::Literals::StringLiterals;
using kalder::Workbook;

namespace {
QString fixture(const QString& name) { return QStringLiteral(KALDER_FIXTURES "/hostile/") + name; }
} // namespace

class TstHostile : public QObject {
    Q_OBJECT
private slots:
    void damagedPart_data();
    void damagedPart();
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
            if (fromFile) Workbook::open(path, QLocale::c());
            else Workbook::fromBytes(bytes, path, QLocale::c());
        });
        QVERIFY2(failure, fromFile ? "from the file" : "from the bytes");
        QCOMPARE(failure->number(), kalder::err::BookNotWorkbook);
        const QString text = failure->description();
        QVERIFY2(text.contains(u"книга повреждена") && text.contains(path) && text.contains(part), qPrintable(text));
    }
}

QTEST_GUILESS_MAIN(TstHostile)
#include "tst_hostile.moc"
