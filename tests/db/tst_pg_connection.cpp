// The server engine against a real PostgreSQL server of the test's own: where the database is
// (the connection URI read, a password refused), opening, the recordsets of every statement
// form, and a server that goes away under an open connection.
#include "app/base/failure.h"
#include "db/connection.h"
#include "db/engine.h"
#include "db/inspection.h"
#include "db/pg_dialect.h"
#include "tests/support/pg_server.h"

#include <QtTest>

using namespace kalder;
using namespace Qt::StringLiterals;
using test::pgServer;

class TstPgConnection : public QObject {
    Q_OBJECT
private slots:
    void cleanupTestCase() { pgServer().stop(); }
    void serverLocation_data();
    void serverLocation();
    void uriOptions_data();
    void uriOptions();
    void uriRefused_data();
    void uriRefused();
    void openRefuses_data();
    void openRefuses();
    void recordsets();
    void namesWithQuotes();
    void serverGoneUnderAnOpenConnection();
};

void TstPgConnection::serverLocation_data()
{
    QTest::addColumn<QString>("location");
    QTest::addColumn<bool>("server");
    QTest::newRow("postgresql URI") << u"postgresql://u@h:5432/db"_s << true;
    QTest::newRow("postgres URI, any case") << u"PostgreS://h/db"_s << true;
    QTest::newRow("file path") << u"/data/base.db"_s << false;
    QTest::newRow("relative file named like a scheme") << u"postgresql/base.db"_s << false;
    QTest::newRow("empty") << QString() << false;
}

void TstPgConnection::serverLocation()
{
    QFETCH(QString, location);
    QFETCH(bool, server);
    QCOMPARE(isServerLocation(location), server);
    QCOMPARE(engineFor(location).kind() == Engine::Kind::Postgres, server);
}

void TstPgConnection::uriOptions_data()
{
    QTest::addColumn<QString>("uri");
    QTest::addColumn<QStringList>("expected"); // key=value, sorted, with ours added
    QTest::newRow("user, host, port, database")
        << u"postgresql://ivan@db.example:5433/sales"_s
        << QStringList{u"user=ivan"_s, u"dbname=sales"_s,       u"host=db.example"_s,
                       u"port=5433"_s, u"connect_timeout=10"_s, u"application_name=kalder"_s};
    QTest::newRow("socket folder as a parameter") << u"postgresql://kalder@/base?host=/run/pg"_s
                                                  << QStringList{u"user=kalder"_s, u"dbname=base"_s, u"host=/run/pg"_s,
                                                                 u"connect_timeout=10"_s, u"application_name=kalder"_s};
    QTest::newRow("a timeout given is kept")
        << u"postgresql:///base?connect_timeout=3&application_name=x"_s
        << QStringList{u"dbname=base"_s, u"connect_timeout=3"_s, u"application_name=x"_s};
}

void TstPgConnection::uriOptions()
{
    QFETCH(QString, uri);
    QFETCH(QStringList, expected);
    QStringList got;
    for (const auto& [key, value] : pg::connectionOptions(uri))
        got.append(QString::fromUtf8(key + "=" + value));
    got.sort();
    expected.sort();
    QCOMPARE(got, expected);
}

void TstPgConnection::uriRefused_data()
{
    QTest::addColumn<QString>("uri");
    QTest::addColumn<QString>("words");
    QTest::newRow("password in the URI") << u"postgresql://ivan:secret@db/sales"_s << u"PGPASSWORD"_s;
    QTest::newRow("password as a parameter") << u"postgresql://db/sales?password=secret"_s << u"~/.pgpass"_s;
    QTest::newRow("unknown parameter") << u"postgresql://db/sales?colour=red"_s << u"не читается"_s;
    QTest::newRow("unclosed address") << u"postgresql://[::1/sales"_s << u"не читается"_s;
}

void TstPgConnection::uriRefused()
{
    QFETCH(QString, uri);
    QFETCH(QString, words);
    const auto f = failureOf([&] { pg::connectionOptions(uri); });
    QVERIFY(f);
    QCOMPARE(f->number(), err::ServerUnreachable);
    QVERIFY2(f->description().contains(words), qPrintable(f->description()));
    QVERIFY2(!f->description().contains(u"secret"_s), qPrintable(f->description())); // never shown
    Connection c;
    QVERIFY(failureOf([&] { c.Open(connectionStringFor(uri)); }));
    QVERIFY(!c.isOpen());
}

void TstPgConnection::openRefuses_data()
{
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("words");
    QTest::newRow("database that does not exist") << u"none"_s << test::PgServer::user() << u"none"_s;
    QTest::newRow("role that does not exist") << u"postgres"_s << u"nobody_here"_s << u"nobody_here"_s;
}

void TstPgConnection::openRefuses()
{
    KALDER_REQUIRE_PG_SERVER();
    QFETCH(QString, database);
    QFETCH(QString, user);
    QFETCH(QString, words);
    const QString uri = u"postgresql://%1@/%2?host=%3"_s.arg(user, database, pgServer().socketDir());
    Connection c;
    const auto f = failureOf([&] { c.Open(connectionStringFor(uri)); });
    QVERIFY(f);
    QCOMPARE(f->number(), err::ServerUnreachable);
    QVERIFY2(f->description().contains(words), qPrintable(f->description()));
    QVERIFY2(f->description().contains(uri), qPrintable(f->description()));
    QVERIFY(!c.isOpen());
}

void TstPgConnection::recordsets()
{
    KALDER_REQUIRE_PG_SERVER();
    const QString uri = pgServer().createDatabase(u"recordsets"_s);
    pgServer().exec(
        u"recordsets"_s,
        u"CREATE TABLE \"tblSettings\" (\"LastFileName\" text, \"StrNumWithCapt\" integer, \"StrNumMAX\" integer);\n"
        "CREATE TABLE \"tblData\" (\"Key\" text, \"MinV\" double precision, \"MaxV\" double precision);\n"
        "INSERT INTO \"tblData\" VALUES ('a', 1, 2), ('b', NULL, NULL), ('a', 5, 6)"_s);
    Connection c;
    c.Open(connectionStringFor(uri));
    QVERIFY(c.isOpen());
    QCOMPARE(c.path(), uri);

    // The first record of an empty table is added, then changed in place.
    {
        Recordset rs;
        rs.Open(u"tblSettings"_s, c, adOpenKeyset, adLockOptimistic);
        QVERIFY(rs.Eof());
        rs.AddNew();
        rs.setValue(u"LastFileName"_s, u"C:\\книги\\a.xls"_s);
        rs.setValue(u"StrNumWithCapt"_s, u"3"_s); // a text, converted to the field's type
        rs.Update();
        rs.setValue(u"StrNumMAX"_s, 250.0);
        rs.Update();
    }
    QCOMPARE(pgServer().rows(u"recordsets"_s, u"SELECT * FROM \"tblSettings\""_s),
             QStringList{u"C:\\книги\\a.xls|3|250"_s});

    // The statement of a key: the first matching record, its Null as a null value.
    {
        Recordset rs;
        rs.OpenWhere(u"tblData"_s, u"Key"_s, u"a"_s, c, adOpenKeyset, adLockOptimistic);
        QVERIFY(!rs.Eof());
        QCOMPARE(rs.value(u"MinV"_s).toDouble(), 1.0);
        QCOMPARE(rs.RecordCount(), 2);
        rs.setValue(u"MaxV"_s, 9.0);
        rs.Update();
        Recordset none;
        none.OpenWhere(u"tblData"_s, u"Key"_s, u"a' OR '1'='1"_s, c, adOpenKeyset, adLockOptimistic);
        QVERIFY(none.Eof());
        Recordset nulls;
        nulls.OpenWhere(u"tblData"_s, u"Key"_s, u"b"_s, c, adOpenKeyset, adLockOptimistic);
        QVERIFY(nulls.value(u"MinV"_s).isNull());
    }
    QCOMPARE(pgServer().rows(u"recordsets"_s, u"SELECT * FROM \"tblData\" ORDER BY \"Key\", \"MinV\""_s),
             (QStringList{u"a|1|9"_s, u"a|5|6"_s, u"b|NULL|NULL"_s}));

    // The window's inspection of tblData.
    AppState state;
    state.DBConnection = std::make_unique<Connection>();
    state.DBConnection->Open(connectionStringFor(uri));
    state.DBIsOpen = true;
    QCOMPARE(get_DBRecCount(state), 3);
}

void TstPgConnection::namesWithQuotes()
{
    KALDER_REQUIRE_PG_SERVER();
    const QString uri = pgServer().createDatabase(u"quotes"_s);
    pgServer().exec(u"quotes"_s, u"CREATE TABLE \"tblData\" (\"Код \"\"товара\"\"\" text, \"Цена\" numeric)"_s);
    Connection c;
    c.Open(connectionStringFor(uri));
    Recordset rs;
    rs.Open(u"tblData"_s, c, adOpenKeyset, adLockOptimistic);
    QCOMPARE(rs.fieldNames(), (QStringList{u"Код \"товара\""_s, u"Цена"_s}));
    rs.AddNew();
    rs.setValue(u"Код \"товара\""_s, u"O'Brien"_s);
    rs.setValue(u"Цена"_s, 1.5);
    rs.Update();
    QCOMPARE(pgServer().rows(u"quotes"_s, u"SELECT * FROM \"tblData\""_s), QStringList{u"O'Brien|1.5"_s});
    const auto f = failureOf([&] {
        Recordset bad;
        bad.OpenWhere(u"tblData"_s, u"Нет"_s, 1, c, adOpenKeyset, adLockOptimistic);
    });
    QVERIFY(f);
    QCOMPARE(f->number(), err::ServerRefused);
    QVERIFY2(f->description().contains(u"42703"_s), qPrintable(f->description())); // undefined column
}

void TstPgConnection::serverGoneUnderAnOpenConnection()
{
    KALDER_REQUIRE_PG_SERVER();
    const QString uri = pgServer().createDatabase(u"gone"_s);
    pgServer().exec(u"gone"_s, u"CREATE TABLE \"tblData\" (\"Key\" text)"_s);
    Connection c;
    c.Open(connectionStringFor(uri));
    QVERIFY(pgServer().stop());
    const auto f = failureOf([&] {
        Recordset rs;
        rs.Open(u"tblData"_s, c, adOpenStatic, adLockUnspecified);
    });
    QVERIFY(pgServer().start());
    QVERIFY(f);
    QCOMPARE(f->number(), err::ServerGone);
    QVERIFY2(f->description().contains(u"соединение с сервером базы данных потеряно"_s), qPrintable(f->description()));
    c.Close(); // harmless on a lost connection
}

QTEST_GUILESS_MAIN(TstPgConnection)
#include "tst_pg_connection.moc"
