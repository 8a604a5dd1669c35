// The header analysis on real workbooks: what lv_Fields holds afterwards, the report of a
// failure, and the state of the bar and the pointer on every path.
#include "app/base/failure.h"
#include "db/connection.h"
#include "tests/support/support.h"
#include "window/controls/memory_controls.h"
#include "workbook/header_analysis.h"

#include <QtTest>

using namespace kalder;
using namespace Qt::StringLiterals;

namespace {
const QString Headers = QStringLiteral(KALDER_FIXTURES "/load/headers.xls");

QStringList rows(const MemoryListView& lv)
{
    QStringList out;
    for (int i = 1; i <= lv.count(); ++i)
        out.append(lv.text(i) + QLatin1Char('|') + lv.subItem(i, 1));
    return out;
}
} // namespace

class TstHeaderAnalysis : public QObject {
    Q_OBJECT
private slots:
    void init() { QLocale::setDefault(QLocale::c()); }
    void headers_data();
    void headers();
    void failures_data();
    void failures();
    void emptyFileName();
};

void TstHeaderAnalysis::headers_data()
{
    QTest::addColumn<int>("headerRow");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("gaps between headers keep column numbers") << 1 << QStringList{u"Код|1"_s, u"Имя|2"_s, u"Цена|5"_s};
    QTest::newRow("column 255 listed, 256 not") << 2 << QStringList{u"Последний|255"_s};
    QTest::newRow("blanks kept, numbers and dates as shown, duplicates kept")
        << 3 << QStringList{u"   |1"_s, u"42.50|2"_s, u"15.03.2023|3"_s, u"Код|4"_s, u"Код|6"_s};
    QTest::newRow("empty header row") << 4 << QStringList{};
}

void TstHeaderAnalysis::headers()
{
    QFETCH(int, headerRow);
    QFETCH(QStringList, expected);
    MemoryListView lv;
    lv.add(1, u"старое"_s); // a list left from an earlier analysis
    MemoryProgressBar pb;
    MemoryPointer pointer;
    test::RecordingDialogs dialogs;

    QCOMPARE(xls_FieldsName(lv, pb, pointer, dialogs, Headers, headerRow, 100), false);
    QCOMPARE(rows(lv), expected);
    QVERIFY(dialogs.shown.isEmpty());
    QCOMPARE(lv.selectedIndex(), expected.isEmpty() ? 0 : 1);
    QCOMPARE(lv.visibleIndex(), expected.isEmpty() ? 0 : 1);
    QCOMPARE(pb.value(), 0.f);
    QCOMPARE(pb.max(), 256.f);
    QCOMPARE(pb.highest(), 255.f); // one step per scanned column
    QVERIFY(pointer.wasBusy());
    QCOMPARE(pointer.shape(), Pointer::Default);
}

void TstHeaderAnalysis::failures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("headerRow");
    QTest::addColumn<int>("number");
    QTest::newRow("header row 0") << Headers << 0 << int(err::Subscript);
    QTest::newRow("missing workbook") << QStringLiteral(KALDER_FIXTURES "/load/нет такого.xls") << 1 << 0;
}

void TstHeaderAnalysis::failures()
{
    QFETCH(QString, path);
    QFETCH(int, headerRow);
    QFETCH(int, number);
    MemoryListView lv;
    lv.add(1, u"старое"_s);
    MemoryProgressBar pb;
    MemoryPointer pointer;
    test::RecordingDialogs dialogs;

    QCOMPARE(xls_FieldsName(lv, pb, pointer, dialogs, path, headerRow, 100), true);
    QCOMPARE(lv.count(), 0);
    QCOMPARE(dialogs.shown.size(), 1);
    const auto& shown = dialogs.shown.first();
    QCOMPARE(shown.title, u"xls_FieldsName"_s);
    QCOMPARE(shown.icon, Dialogs::Icon::Exclamation);
    // "description (number)"
    QVERIFY2(QRegularExpression(u"^.+ \\(-?\\d+\\)$"_s).match(shown.text).hasMatch(), qPrintable(shown.text));
    if (number)
        QVERIFY2(shown.text.endsWith(u" (%1)"_s.arg(number)), qPrintable(shown.text));
    QCOMPARE(pb.value(), 0.f);
    QCOMPARE(pointer.shape(), Pointer::Default);
}

void TstHeaderAnalysis::emptyFileName()
{
    MemoryListView lv;
    lv.add(1, u"старое"_s);
    MemoryProgressBar pb;
    pb.setValue(7);
    MemoryPointer pointer;
    test::RecordingDialogs dialogs;

    QCOMPARE(xls_FieldsName(lv, pb, pointer, dialogs, QString(), 1, 100), false);
    QCOMPARE(lv.count(), 0);
    QVERIFY(dialogs.shown.isEmpty());
    QCOMPARE(pb.value(), 7.f);
    QVERIFY(!pointer.wasBusy());
}

QTEST_GUILESS_MAIN(TstHeaderAnalysis)
#include "tst_header_analysis.moc"
