// kalder-cells against the reader it prints: every row of the active sheet as CSV, the same
// text whether the rows are rendered by one thread (a small sheet) or by several (a large
// one, in blocks written in order); failures and bad usage with their exit statuses.
#include "workbook/readers/workbook.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;
using kalder::Workbook;

namespace {

const QString Tool = QStringLiteral(KALDER_BINARY "/kalder-cells");

QString fixture(const QString& name) { return QStringLiteral(KALDER_SOURCE "/tests/fixtures/") + name; }

// The CSV the reader's texts make, quoted where a field needs it.
QByteArray expectedCsv(const QString& path)
{
    const auto book = Workbook::open(path, QLocale::c());
    QString out;
    for (int row = 1; row <= book->lastRow(); ++row) {
        for (int col = 1; col <= book->lastColumn(row); ++col) {
            QString text = book->cellText(row, col);
            if (col > 1)
                out += u',';
            if (text.contains(u',') || text.contains(u'"') || text.contains(u'\n') || text.contains(u'\r'))
                text = u'"' + text.replace(u"\""_s, u"\"\""_s) + u'"';
            out += text;
        }
        out += u"\r\n"_s;
    }
    return out.toUtf8();
}

struct Run {
    int status;
    QByteArray out, err;
};

Run run(const QStringList& args)
{
    QProcess p;
    p.start(Tool, args);
    if (!p.waitForFinished(-1))
        qFatal("kalder-cells did not finish");
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

} // namespace

class TstKalderCells : public QObject {
    Q_OBJECT
private slots:
    void sameTextAsTheReader_data();
    void sameTextAsTheReader();
    void localeAsTheSpreadsheetShows_data();
    void localeAsTheSpreadsheetShows();
    void failuresAndUsage();

private:
    QTemporaryDir m_dir;
};

void TstKalderCells::sameTextAsTheReader_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("strings") << fixture(u"xls_strings.xls"_s);
    QTest::newRow("formats") << fixture(u"formats/basic.xlsx"_s);
    // 20,000 rows: twenty blocks shared among the threads
    const QString big = m_dir.filePath(u"big.xls"_s);
    QProcess make;
    make.start(u"/usr/bin/python3"_s,
               {QStringLiteral(KALDER_SOURCE "/scripts/fixtures/make_load_big.py"), big, u"20000"_s});
    if (make.waitForFinished(-1) && make.exitCode() == 0)
        QTest::newRow("20,000 rows") << big;
}

void TstKalderCells::sameTextAsTheReader()
{
    QFETCH(QString, file);
    QVERIFY(QFileInfo(Tool).isExecutable());
    const Run r = run({u"--locale"_s, u"C"_s, file});
    QCOMPARE(r.status, 0);
    QVERIFY(r.err.isEmpty());
    const QByteArray expected = expectedCsv(file);
    QVERIFY(expected.count('\n') > 3);
    QCOMPARE(r.out.size(), expected.size());
    QVERIFY(r.out == expected);
}

void TstKalderCells::localeAsTheSpreadsheetShows_data()
{
    // the rows of celltext.xlsx (see make_formats.py) as a spreadsheet under each locale shows them
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("csv");
    const QString texts = u"\"abc\ndef\",\"lone\ncr\",\"esc\raped\",\"ref\rcr\",\"in\nline\",\"s\nt\"\r\n"_s;
    QTest::newRow("Russian")
        << u"ru_RU"_s
        << u"\"1,2681\",\"2,68\",\"0,2\",123\u00A0456,2014.01.16 16:00,21.10.2009,\"August 10, 2016\","
           "10 августа 2016 г.,16:00:00,10.08.2016,10.авг.16,10.08.2016 13:30,30,foo ,\"€ 1\u00A0000,00\","
           "1904-01-01,10.08.2016\r\n"_s +
               texts;
    QTest::newRow("English") << u"en_US"_s
                             << u"1.2681,2.68,0.2,\"123,456\",2014/01/16 16:00,21/10/2009,\"August 10, 2016\","
                                "\"Wednesday, August 10, 2016\",4:00:00 PM,8/10/2016,10-Aug-16,8/10/2016 13:30,30,foo ,"
                                "\"€ 1,000.00\",1904-01-01,8/10/2016\r\n"_s +
                                    texts;
}

void TstKalderCells::localeAsTheSpreadsheetShows()
{
    QFETCH(QString, locale);
    QFETCH(QString, csv);
    const Run r = run({u"--locale"_s, locale, fixture(u"formats/celltext.xlsx"_s)});
    QCOMPARE(r.status, 0);
    QCOMPARE(QString::fromUtf8(r.out), csv);
}

void TstKalderCells::failuresAndUsage()
{
    const Run missing = run({m_dir.filePath(u"none.xls"_s)});
    QCOMPARE(missing.status, 1);
    QVERIFY(missing.out.isEmpty());
    QVERIFY2(QString::fromUtf8(missing.err).trimmed().endsWith(u"(53)"_s), missing.err.constData());
    QCOMPARE(run({}).status, 2);
    QCOMPARE(run({u"--locale"_s}).status, 2);
    QCOMPARE(run({u"a.xls"_s, u"b.xls"_s}).status, 2);
}

QTEST_GUILESS_MAIN(TstKalderCells)
#include "tst_kalder_cells.moc"
