// The catalogue of failures: the numbers the configuration file's messages are chosen by stay
// where they are, the engine's codes never meet ours, and the sources and the catalogue agree:
// every constant thrown is catalogued, every catalogued one is thrown or tested for somewhere,
// no number is thrown as a bare literal, and no failure's words are written twice.
#include "app/base/failure_catalogue.h"

#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QtTest>

using namespace kalder;
using namespace Qt::StringLiterals;

namespace {

// The sources of the program, each file's path relative to the source folder with its text.
QMap<QString, QString> programSources()
{
    QMap<QString, QString> out;
    const QDir root(QStringLiteral(KALDER_SOURCE));
    for (const char* folder : {"app", "config", "db", "window", "workbook"}) {
        QDirIterator it(root.filePath(QString::fromLatin1(folder)), {u"*.cpp"_s, u"*.h"_s}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile f(path);
            if (!f.open(QIODevice::ReadOnly))
                qFatal("cannot read %s", qPrintable(path));
            out.insert(root.relativeFilePath(path), QString::fromUtf8(f.readAll()));
        }
    }
    return out;
}

bool isCatalogueFile(const QString& path) { return path.startsWith(u"app/base/failure"_s); }

// What each "Failure(" of a text is made of, up to the end of its statement.
QStringList failureStatements(const QString& text)
{
    QStringList out;
    static const QRegularExpression start(u"\\bFailure\\("_s);
    for (auto m = start.globalMatch(text); m.hasNext();) {
        const auto hit = m.next();
        const qsizetype end = text.indexOf(u';', hit.capturedEnd());
        out.append(text.mid(hit.capturedStart(), (end < 0 ? text.size() : end) - hit.capturedStart()));
    }
    return out;
}

} // namespace

class TstFailure : public QObject {
    Q_OBJECT
private slots:
    void fixedNumbers_data();
    void fixedNumbers();
    void everyEntry();
    void engineCodesHaveARangeOfTheirOwn_data();
    void engineCodesHaveARangeOfTheirOwn();
    void sourcesUseTheCatalogue();
    void noNumberThrownBare();
    void noWordsWrittenTwice();
    void text();
};

void TstFailure::fixedNumbers_data()
{
    // The numbers the messages of settings.cfg and the load's link checks are chosen by.
    QTest::addColumn<int>("constant");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("name");
    QTest::newRow("overflow") << err::Overflow << 6 << "Overflow";
    QTest::newRow("subscript") << err::Subscript << 9 << "Subscript";
    QTest::newRow("type mismatch") << err::TypeMismatch << 13 << "TypeMismatch";
    QTest::newRow("file not found") << err::FileNotFound << 53 << "FileNotFound";
    QTest::newRow("file already open") << err::FileAlreadyOpen << 55 << "FileAlreadyOpen";
    QTest::newRow("input past end") << err::InputPastEnd << 62 << "InputPastEnd";
    QTest::newRow("device unavailable") << err::DeviceUnavailable << 68 << "DeviceUnavailable";
    QTest::newRow("not open") << err::NotOpen << 3704 << "NotOpen";
    QTest::newRow("already open is not 'not open'") << err::AlreadyOpen << 3705 << "AlreadyOpen";
}

void TstFailure::fixedNumbers()
{
    QFETCH(int, constant);
    QFETCH(int, number);
    QFETCH(QString, name);
    QCOMPARE(constant, number);
    const FailureEntry* e = catalogueEntry(number);
    QVERIFY(e);
    QCOMPARE(QString::fromLatin1(e->name), name);
}

void TstFailure::everyEntry()
{
    QSet<int> numbers;
    QSet<QString> names;
    for (const FailureEntry& e : failureCatalogue()) {
        const QString name = QString::fromLatin1(e.name);
        QVERIFY2(e.number > 0, e.name);
        QVERIFY2(!numbers.contains(e.number), e.name);
        QVERIFY2(!names.contains(name), e.name);
        numbers.insert(e.number);
        names.insert(name);
        QVERIFY2(!QString::fromUtf8(e.meaning).trimmed().isEmpty(), e.name);
        QVERIFY2(!err::isSqlite(e.number), e.name);
        QCOMPARE(catalogueEntry(e.number), &e);
    }
    QVERIFY(failureCatalogue().size() >= 18);
    QCOMPARE(catalogueEntry(0), nullptr);
    QCOMPARE(catalogueEntry(7), nullptr);
}

void TstFailure::engineCodesHaveARangeOfTheirOwn_data()
{
    QTest::addColumn<int>("code");
    QTest::newRow("SQLITE_ERROR") << 1;
    QTest::newRow("SQLITE_BUSY") << 5;
    QTest::newRow("SQLITE_READONLY") << 8;
    QTest::newRow("SQLITE_FULL, not a type mismatch") << 13;
    QTest::newRow("SQLITE_NOTADB") << 26;
    QTest::newRow("SQLITE_CONSTRAINT_CHECK") << 275;
    QTest::newRow("SQLITE_CONSTRAINT_NOTNULL") << 1299;
    QTest::newRow("SQLITE_READONLY_DIRECTORY") << 1544;
    QTest::newRow("SQLITE_IOERR_CORRUPTFS") << 8458;
    QTest::newRow("the largest extended code there can be") << 0xffff;
}

void TstFailure::engineCodesHaveARangeOfTheirOwn()
{
    QFETCH(int, code);
    const int number = err::fromSqlite(code);
    QVERIFY(err::isSqlite(number));
    QCOMPARE(err::sqliteCode(number), code);
    QCOMPARE(catalogueEntry(number), nullptr);
    QVERIFY(!err::isSqlite(code));
    QCOMPARE(err::sqliteCode(code), 0); // our own numbers name no engine code
}

void TstFailure::sourcesUseTheCatalogue()
{
    // The helpers of the engine's range are not failures of their own.
    const QSet<QString> helpers{u"SqliteBase"_s, u"SqliteSpan"_s, u"fromSqlite"_s, u"isSqlite"_s, u"sqliteCode"_s};
    QSet<QString> catalogued;
    for (const FailureEntry& e : failureCatalogue())
        catalogued.insert(QString::fromLatin1(e.name));
    static const QRegularExpression use(u"\\berr::(\\w+)"_s);
    QSet<QString> used;
    const auto sources = programSources();
    QVERIFY(sources.contains(u"app/base/failure.h"_s));
    for (auto it = sources.cbegin(); it != sources.cend(); ++it) {
        if (isCatalogueFile(it.key()))
            continue;
        for (auto m = use.globalMatch(it.value()); m.hasNext();) {
            const QString name = m.next().captured(1);
            if (helpers.contains(name))
                continue;
            QVERIFY2(catalogued.contains(name),
                     qPrintable(u"%1 uses err::%2, which the catalogue lacks"_s.arg(it.key(), name)));
            used.insert(name);
        }
    }
    for (const QString& name : std::as_const(catalogued))
        QVERIFY2(used.contains(name), qPrintable(u"err::%1 is catalogued but never used"_s.arg(name)));
}

void TstFailure::noNumberThrownBare()
{
    // A number written as a literal, or a raw engine code, could be any failure's.
    static const QRegularExpression bare(u"^Failure\\(\\s*(-?\\d|code\\b|number\\b)"_s);
    for (const auto& [path, text] : programSources().asKeyValueRange())
        for (const QString& statement : failureStatements(text))
            QVERIFY2(!bare.match(statement).hasMatch() || isCatalogueFile(path),
                     qPrintable(u"%1: %2"_s.arg(path, statement.simplified())));
}

void TstFailure::noWordsWrittenTwice()
{
    // The words of a failure, its first string, are written in one place; a second place
    // that needs them calls the catalogue's maker.
    static const QRegularExpression literal(u"(?:QStringLiteral\\(|\\bu)\"((?:[^\"\\\\]|\\\\.)*)\""_s);
    QMap<QString, QString> seen; // words -> where first
    QStringList twice;
    for (const auto& [path, text] : programSources().asKeyValueRange())
        for (const QString& statement : failureStatements(text)) {
            const auto m = literal.match(statement);
            if (!m.hasMatch() || m.captured(1).size() < 12)
                continue; // no words, or a fragment such as ": "
            const QString words = m.captured(1);
            if (seen.contains(words))
                twice.append(u"«%1» in %2 and %3"_s.arg(words, seen.value(words), path));
            seen.insert(words, path);
        }
    QVERIFY2(twice.isEmpty(), qPrintable(twice.join(u'\n')));
    QVERIFY(seen.size() > 40); // the scan found the failures
}

void TstFailure::text()
{
    const Failure f(err::fromSqlite(13), u"Нет места"_s);
    QCOMPARE(f.text(), u"Нет места (100013)"_s);
    QCOMPARE(QString::fromUtf8(f.what()), f.text());
    QCOMPARE(fail::bookNoAccess(u"a.xls"_s).number(), err::PathFileAccess);
    QCOMPARE(fail::connectionNotOpen().number(), err::NotOpen);
    QCOMPARE(fail::listRowOutside(3, 2).number(), err::InvalidProperty);
}

QTEST_GUILESS_MAIN(TstFailure)
#include "tst_failure.moc"
