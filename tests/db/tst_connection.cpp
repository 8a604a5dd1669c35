// The database engine against real SQLite files: opening, the statement forms, records.
#include "app/base/failure.h"
#include "db/connection.h"
#include "db/inspection.h"
#include "tests/support/database.h"
#include "window/controls/memory_controls.h"

#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

using namespace kalder;

namespace {
QString makeDb(const QTemporaryDir& dir, const QString& name, const QStringList& sql)
{
    return test::makeDatabase(dir.filePath(name), sql);
}

QVariant scalar(Connection& c, const QString& sql)
{
    QSqlQuery q(c.database());
    if (!q.exec(sql) || !q.next())
        qFatal("%s", qPrintable(sql));
    return q.value(0);
}
} // namespace

class TstConnection : public QObject {
    Q_OBJECT
private slots:
    void connectionString();
    void openRefuses_data();
    void openRefuses();
    void addUpdateRoundTrip();
    void openOrClosedAsItIs();
    void keyQueryCannotBeBent();
    void inspection();
};

void TstConnection::connectionString()
{
    const QString cs = connectionStringFor("/data/a=b;c.db");
    QCOMPARE(cs, "Provider=Microsoft.Jet.OLEDB.4.0;Jet OLEDB:Database Password=;Data Source=/data/a=b;c.db");
    QCOMPARE(dataSourceOf(cs), "/data/a=b;c.db");
}

void TstConnection::openRefuses_data()
{
    QTest::addColumn<QByteArray>("content"); // "<missing>" and "<folder>" are not written
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("words");
    QTest::newRow("missing file is not created") << QByteArray("<missing>") << err::FileNotFound << "не найден";
    QTest::newRow("folder") << QByteArray("<folder>") << err::PathNotFound << "папку";
    QTest::newRow("empty file") << QByteArray() << err::fromSqlite(26) << "пуст";
    QTest::newRow("text file") << QByteArray("hello, this is text\n") << err::fromSqlite(26)
                               << "не является базой данных SQLite";
    QByteArray jet(2048, '\0');
    jet.replace(4, 15, "Standard Jet DB");
    QTest::newRow("Jet desktop database") << jet << err::BadFormat << "формата Jet";
    QByteArray damaged("SQLite format 3", 16);
    damaged.append(QByteArray(4096, '\xff'));
    QTest::newRow("damaged SQLite header") << damaged << err::fromSqlite(26) << ""; // SQLITE_NOTADB
}

void TstConnection::openRefuses()
{
    QFETCH(QByteArray, content);
    QFETCH(int, number);
    QFETCH(QString, words);
    QTemporaryDir dir;
    const QString path = dir.filePath("base.db");
    if (content == "<folder>")
        QDir(dir.path()).mkdir("base.db");
    else if (content != "<missing>") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }
    Connection c;
    const auto f = failureOf([&] { c.Open(connectionStringFor(path)); });
    QVERIFY(f);
    QCOMPARE(f->number(), number);
    QVERIFY2(f->description().contains(words), qPrintable(f->description()));
    QVERIFY(!c.isOpen());
    if (content == "<missing>")
        QVERIFY(!QFile::exists(path));
    const QByteArray after = content.startsWith('<') ? QByteArray() : content;
    if (!content.startsWith('<')) {
        QFile again(path);
        QVERIFY(again.open(QIODevice::ReadOnly));
        QCOMPARE(again.readAll(), after); // nothing written into a refused file
    }
}

void TstConnection::openOrClosedAsItIs()
{
    // Opening what is open is reported as that, not as its opposite; using what is closed too.
    QTemporaryDir dir;
    const QString path = makeDb(dir, "o.db", {"CREATE TABLE tblData (Code TEXT)"});
    Connection c;
    c.Open(connectionStringFor(path));
    auto f = failureOf([&] { c.Open(connectionStringFor(path)); });
    QVERIFY(f);
    QCOMPARE(f->number(), err::AlreadyOpen);
    QVERIFY2(f->description().contains("уже открыто"), qPrintable(f->description()));
    QVERIFY(c.isOpen());
    Recordset rs;
    f = failureOf([&] { rs.value("Code"); });
    QVERIFY(f);
    QCOMPARE(f->number(), err::NotOpen);
    rs.Open("tblData", c, adOpenStatic, adLockUnspecified);
    f = failureOf([&] { rs.Open("tblData", c, adOpenStatic, adLockUnspecified); });
    QVERIFY(f);
    QCOMPARE(f->number(), err::AlreadyOpen);
    QVERIFY2(f->description().contains("уже открыт"), qPrintable(f->description()));
    rs.Close();
    c.Close();
    f = failureOf([&] { c.database(); });
    QVERIFY(f);
    QCOMPARE(f->number(), err::NotOpen);
}

void TstConnection::addUpdateRoundTrip()
{
    QTemporaryDir dir;
    const QString path = makeDb(dir, "b.db", {test::SettingsTable});
    Connection c;
    c.Open(connectionStringFor(path));
    Recordset rs;
    rs.Open("tblSettings", c, adOpenKeyset, adLockOptimistic);
    QCOMPARE(rs.State(), 1);
    QVERIFY(rs.Eof());
    QCOMPARE(rs.fieldNames(), QStringList({"LastFileName", "StrNumWithCapt", "StrNumMAX"}));
    rs.AddNew();
    rs.setValue("LastFileName", QString("/in/кни'га.xls"));
    rs.Update();
    rs.Close();
    QCOMPARE(rs.State(), 0);

    rs.Open("tblSettings", c, adOpenKeyset, adLockOptimistic);
    QVERIFY(!rs.Eof());
    QCOMPARE(rs.value("LastFileName").toString(), "/in/кни'га.xls");
    QVERIFY(rs.value("StrNumWithCapt").isNull());
    rs.setValue("strnumwithcapt", QString("12")); // a text converted to the field's type
    rs.Update();
    rs.Close();
    QCOMPARE(scalar(c, "SELECT typeof(StrNumWithCapt) FROM tblSettings").toString(), "integer");
    QCOMPARE(scalar(c, "SELECT count(*) FROM tblSettings").toInt(), 1);

    // A missing field fails on its own; an empty record can still be saved.
    rs.Open("tblSettings", c, adOpenKeyset, adLockOptimistic);
    const auto f = failureOf([&] { rs.setValue("Nope", 1); });
    QVERIFY(f);
    QCOMPARE(f->number(), err::ItemNotFound);
    rs.AddNew();
    rs.Update();
    QCOMPARE(rs.RecordCount(), 2);
    QCOMPARE(scalar(c, "SELECT count(*) FROM tblSettings WHERE LastFileName IS NULL").toInt(), 1);

    // A record begun and not saved is dropped on close.
    rs.Close();
    rs.Open("tblSettings", c, adOpenKeyset, adLockOptimistic);
    rs.AddNew();
    rs.setValue("LastFileName", QString("never"));
    rs.Close();
    QCOMPARE(scalar(c, "SELECT count(*) FROM tblSettings").toInt(), 2);
}

void TstConnection::keyQueryCannotBeBent()
{
    QTemporaryDir dir;
    const QString path =
        makeDb(dir, "k.db",
               {"CREATE TABLE tblData (`Key Code` TEXT COLLATE NOCASE, Mn REAL, Mx REAL)",
                "INSERT INTO tblData VALUES ('O''Brien', 1, 2)", "INSERT INTO tblData VALUES ('abc', 3, 4)",
                "INSERT INTO tblData VALUES ('ABC', 5, 6)"});
    Connection c;
    c.Open(connectionStringFor(path));
    Recordset rs;
    rs.OpenWhere("tblData", "Key Code", QString("O'Brien"), c, adOpenKeyset, adLockOptimistic);
    QVERIFY(!rs.Eof());
    QCOMPARE(rs.value("Mn").toDouble(), 1.0);
    rs.Close();

    // The key field's own collation decides, and the first record is the one updated.
    rs.OpenWhere("tblData", "Key Code", QString("Abc"), c, adOpenKeyset, adLockOptimistic);
    QCOMPARE(rs.RecordCount(), 2);
    QCOMPARE(rs.value("Mn").toDouble(), 3.0);
    rs.setValue("Mn", 0.5);
    rs.Update();
    rs.Close();
    QCOMPARE(scalar(c, "SELECT Mn FROM tblData WHERE `Key Code` = 'ABC' COLLATE BINARY").toDouble(), 5.0);
    QCOMPARE(scalar(c, "SELECT Mn FROM tblData WHERE `Key Code` = 'abc' COLLATE BINARY").toDouble(), 0.5);

    // A key that looks like SQL stays a value.
    rs.OpenWhere("tblData", "Key Code", QString("x' OR '1'='1"), c, adOpenKeyset, adLockOptimistic);
    QVERIFY(rs.Eof());
    rs.Close();

    // A name that is no field, or none, fails with the database's error instead of matching.
    for (const QString& name : {QString("Nope"), QString(), QString("Key Code` OR 1 --")}) {
        const auto f = failureOf([&] { rs.OpenWhere("tblData", name, QString("Nope"), c, 1, 3); });
        QVERIFY2(f, qPrintable(name));
        QCOMPARE(f->number(), err::fromSqlite(1)); // SQLITE_ERROR
        QVERIFY(f->description().contains("no such column"));
    }
}

void TstConnection::inspection()
{
    QTemporaryDir dir;
    const QString path =
        makeDb(dir, "i.db",
               {"CREATE TABLE tblData (Code TEXT, Name TEXT, Sum REAL)", "INSERT INTO tblData VALUES ('a', 'b', 1)",
                "INSERT INTO tblData VALUES ('c', 'd', 2)"});
    AppState state;
    MemoryListView lv;
    QCOMPARE(get_DBRecCount(state), 0); // no connection: 0 and nothing listed
    get_FieldsNameDB(state, lv);
    QCOMPARE(lv.count(), 0);

    state.DBConnection = std::make_unique<Connection>();
    state.DBConnection->Open(connectionStringFor(path));
    QCOMPARE(get_DBRecCount(state), 2);
    get_FieldsNameDB(state, lv);
    get_FieldsNameDB(state, lv); // a second call lists the fields again, above the first
    QCOMPARE(lv.count(), 6);
    for (int i = 1; i <= 6; ++i) {
        QCOMPARE(lv.text(i), QStringList({"Code", "Name", "Sum"})[(i - 1) % 3]);
        QCOMPARE(lv.subItem(i, 1), QString::number((i - 1) % 3 + 1));
    }
}

QTEST_GUILESS_MAIN(TstConnection)
#include "tst_connection.moc"
