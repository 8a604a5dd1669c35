// tblSettings on real SQLite files: the first record only, NULL as 0, halves to even,
// and every failure swallowed.
#include "app/base/failure.h"
#include "config/db_settings.h"
#include "db/connection.h"
#include "tests/support/support.h"

#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace kalder;

namespace {
const QString Create = QStringLiteral(
    "CREATE TABLE tblSettings (LastFileName TEXT, StrNumWithCapt INTEGER, StrNumMAX INTEGER, Other TEXT)");
} // namespace

class TstDbSettings : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    AppState m_state;

    void open(const QStringList& sql)
    {
        const QString path = m_dir->filePath(QStringLiteral("s.db"));
        test::openSession(m_state, test::makeDatabase(path, sql));
    }
    // Every record as "a|b|c|d", NULL as "~", in row-id order.
    QStringList records() const
    {
        QSqlQuery q(m_state.DBConnection->database());
        q.exec(QStringLiteral("SELECT LastFileName, StrNumWithCapt, StrNumMAX, Other FROM tblSettings ORDER BY rowid"));
        QStringList out;
        while (q.next()) {
            QStringList cells;
            for (int i = 0; i < 4; ++i)
                cells.append(q.value(i).isNull() ? QStringLiteral("~") : q.value(i).toString());
            out.append(cells.join(u'|'));
        }
        return out;
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void cleanup()
    {
        m_state.DBConnection.reset();
        m_state.DBIsOpen = false;
        m_dir.reset();
    }

    void read_data()
    {
        QTest::addColumn<QString>("insert"); // the values of the first record, or "" for none
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("header");
        QTest::addColumn<int>("last");
        QTest::newRow("no record") << "" << true << "keep" << -5 << -6;
        QTest::newRow("all values") << "'D:\\in\\b.xls', 2, 500, 'x'" << false << "D:\\in\\b.xls" << 2 << 500;
        QTest::newRow("NULL numbers read 0") << "'f', NULL, NULL, NULL" << false << "f" << 0 << 0;
        QTest::newRow("NULL file keeps the output") << "NULL, 3, 4, NULL" << false << "keep" << 3 << 4;
        QTest::newRow("halves to even") << "'f', 12.5, 13.5, NULL" << false << "f" << 12 << 14;
        QTest::newRow("negative half") << "'f', -2.5, 0.4, NULL" << false << "f" << -2 << 0;
        QTest::newRow("text that is no number keeps") << "'f', 'abc', '7', NULL" << false << "f" << -5 << 7;
        QTest::newRow("beyond 32 bits keeps") << "'f', 2147483648, 2147483647.5, NULL" << false << "f" << -5 << -6;
        QTest::newRow("number as file name") << "12, 1, 1, NULL" << false << "12" << 1 << 1;
    }
    void read()
    {
        QFETCH(QString, insert);
        QFETCH(bool, result);
        QFETCH(QString, file);
        QFETCH(int, header);
        QFETCH(int, last);
        QStringList sql{Create};
        if (!insert.isEmpty()) {
            sql.append(QStringLiteral("INSERT INTO tblSettings VALUES (%1)").arg(insert));
            sql.append(QStringLiteral("INSERT INTO tblSettings VALUES ('second', 98, 99, NULL)"));
        }
        open(sql);
        QString f = QStringLiteral("keep");
        qint32 h = -5, l = -6;
        QCOMPARE(get_Settings(m_state, f, h, l), result);
        QCOMPARE(f, file);
        QCOMPARE(h, header);
        QCOMPARE(l, last);
    }

    void missingFieldsKeepOutputs()
    {
        open({QStringLiteral("CREATE TABLE tblSettings (StrNumMAX INTEGER)"),
              QStringLiteral("INSERT INTO tblSettings VALUES (40)")});
        QString f = QStringLiteral("keep");
        qint32 h = -5, l = -6;
        QCOMPARE(get_Settings(m_state, f, h, l), false);
        QCOMPARE(f, "keep");
        QCOMPARE(h, -5);
        QCOMPARE(l, 40);
    }

    void write_data()
    {
        QTest::addColumn<QStringList>("before"); // INSERT value lists
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QStringList>("after");
        QTest::newRow("empty table: one record") << QStringList() << "LastFileName"
                                                 << "D:\\in\\book.xls" << QStringList{"D:\\in\\book.xls|~|~|~"};
        QTest::newRow("first of two records only")
            << QStringList{"'a', 1, 2, 'o'", "'b', 3, 4, NULL"} << "StrNumWithCapt"
            << "7" << QStringList{"a|7|2|o", "b|3|4|~"};
        QTest::newRow("missing field, empty table: an all-NULL record") << QStringList() << "Nope"
                                                                        << "1" << QStringList{"~|~|~|~"};
        QTest::newRow("missing field, a record: nothing changes") << QStringList{"'a', 1, 2, NULL"} << "Nope"
                                                                  << "1" << QStringList{"a|1|2|~"};
        QTest::newRow("field name in other case") << QStringList{"'a', 1, 2, NULL"} << "strnummax"
                                                  << "300" << QStringList{"a|1|300|~"};
    }
    void write()
    {
        QFETCH(QStringList, before);
        QFETCH(QString, field);
        QFETCH(QString, value);
        QFETCH(QStringList, after);
        QStringList sql{Create};
        for (const QString& v : before)
            sql.append(QStringLiteral("INSERT INTO tblSettings VALUES (%1)").arg(v));
        open(sql);
        set_SettingValue(m_state, field, value);
        QCOMPARE(records(), after);
    }

    void writeTwiceThenRead()
    {
        open({Create});
        set_SettingValue(m_state, QStringLiteral("StrNumWithCapt"), QStringLiteral("3"));
        set_SettingValue(m_state, QStringLiteral("StrNumWithCapt"), QStringLiteral("4"));
        QCOMPARE(records(), QStringList{"~|4|~|~"});
        QString f = QStringLiteral("keep");
        qint32 h = -5, l = -6;
        QCOMPARE(get_Settings(m_state, f, h, l), false);
        QCOMPARE(f, "keep");
        QCOMPARE(h, 4);
        QCOMPARE(l, 0);
    }

    void noTableNoConnection()
    {
        QString f = QStringLiteral("keep");
        qint32 h = -5, l = -6;
        QCOMPARE(get_Settings(m_state, f, h, l), true); // never connected
        set_SettingValue(m_state, QStringLiteral("StrNumMAX"), QStringLiteral("1"));

        open({QStringLiteral("CREATE TABLE other (x)")});
        QCOMPARE(get_Settings(m_state, f, h, l), true);
        set_SettingValue(m_state, QStringLiteral("StrNumMAX"), QStringLiteral("1"));
        QSqlQuery q(m_state.DBConnection->database());
        QVERIFY(q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE name = 'tblSettings'")) && q.next());
        QCOMPARE(q.value(0).toInt(), 0);

        m_state.DBConnection->Close(); // closed since: nothing is read or written
        QCOMPARE(get_Settings(m_state, f, h, l), true);
        set_SettingValue(m_state, QStringLiteral("StrNumMAX"), QStringLiteral("1"));
        QCOMPARE(f, "keep");
        QCOMPARE(h, -5);
    }
};

QTEST_GUILESS_MAIN(TstDbSettings)
#include "tst_db_settings.moc"
