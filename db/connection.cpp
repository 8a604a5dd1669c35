// The connection and the recordsets over Qt SQL. A recordset reads the first record of
// its statement and addresses it by row id, so AddNew/Update become one INSERT or UPDATE.
#include "db/connection.h"

#include "app/base/failure_catalogue.h"
#include "db/engine.h"
#include "db/sqlite_dialect.h"

#include <QAtomicInt>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QSqlRecord>

namespace kalder {

namespace {
const QString DataSourceKey = QStringLiteral("Data Source=");
QAtomicInt connectionSerial;

QSqlQuery prepared(const Connection& conn, const QString& sql, const QString& what)
{
    QSqlQuery q(conn.database());
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        conn.engine().fail(q.lastError(), what);
    return q;
}

void exec(const Connection& conn, QSqlQuery& q, const QString& what)
{
    if (!q.exec())
        conn.engine().fail(q.lastError(), what);
}
} // namespace

QString connectionStringFor(const QString& path)
{
    return QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;Jet OLEDB:Database Password=;") + DataSourceKey + path;
}

QString dataSourceOf(const QString& connectionString)
{
    // Data Source is the last entry and runs to the end: a path may hold ';' and '='.
    const qsizetype at = connectionString.indexOf(DataSourceKey, 0, Qt::CaseInsensitive);
    return at < 0 ? QString() : connectionString.mid(at + DataSourceKey.size());
}

Connection::Connection()
    : m_name(QStringLiteral("kalder-%1").arg(connectionSerial.fetchAndAddRelaxed(1))),
      m_busyTimeoutMs(sqlite::BusyTimeoutMs)
{
}

void Connection::setBusyTimeout(int ms)
{
    m_busyTimeoutMs = ms;
    if (m_open)
        m_engine->setBusyTimeout(database(), ms);
}

Connection::~Connection() { Close(); }

void Connection::Open(const QString& connectionString, const QString&, const QString&, int)
{
    if (m_open)
        throw Failure(err::AlreadyOpen, QStringLiteral("Соединение с базой данных уже открыто"));
    const QString path = dataSourceOf(connectionString);
    if (path.isEmpty())
        throw Failure(err::FileNotFound, QStringLiteral("В строке соединения не указан файл базы данных"));
    const Engine& engine = engineFor(path);
    engine.open(m_name, path, m_busyTimeoutMs);
    m_engine = &engine;
    m_path = path;
    m_open = true;
}

void Connection::Close()
{
    if (!m_open)
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
    m_open = false;
}

bool Connection::isOpen() const { return m_open; }

const Engine& Connection::engine() const
{
    if (!m_open)
        throw fail::connectionNotOpen();
    return *m_engine;
}

QSqlDatabase Connection::database() const
{
    if (!m_open)
        throw fail::connectionNotOpen();
    return QSqlDatabase::database(m_name, false);
}

void Connection::beginTransaction()
{
    QSqlDatabase db = database();
    if (!db.transaction())
        m_engine->fail(db.lastError(), QStringLiteral("Не удалось начать транзакцию"));
}

void Connection::commit()
{
    QSqlDatabase db = database();
    if (!db.commit())
        m_engine->fail(db.lastError(), QStringLiteral("Не удалось сохранить изменения"));
}

void Connection::rollback()
{
    QSqlDatabase db = database();
    db.rollback();
}

Recordset::~Recordset() { Close(); }

void Recordset::Open(const QString& table, Connection& conn, int, int, int)
{
    openSelect(table, QString(), QVariant(), conn);
}

void Recordset::OpenWhere(const QString& table, const QString& field, const QVariant& value, Connection& conn, int, int,
                          int)
{
    openSelect(table, conn.engine().quoteIdentifier(field) + QStringLiteral(" = ?"), value, conn);
}

void Recordset::openSelect(const QString& table, const QString& where, const QVariant& bound, Connection& conn)
{
    if (m_open)
        throw Failure(err::AlreadyOpen, QStringLiteral("Набор записей уже открыт"));
    const QSqlDatabase db = conn.database();
    const Engine& engine = conn.engine();
    const QString rowId = engine.rowIdColumn();
    const QString from = QStringLiteral(" FROM ") + engine.quoteIdentifier(table) +
                         (where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + where);
    const QString what = QStringLiteral("Запрос к таблице %1").arg(table);

    // The row id comes first; a table without one (a view) still reads, but cannot be updated.
    bool withRowId = true;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    const QString order = where.isEmpty() ? QString() : QStringLiteral(" ORDER BY ") + rowId;
    // Only the first record is read: a server would otherwise send the whole table.
    const QString first = QStringLiteral(" LIMIT 1");
    if (!q.prepare(QStringLiteral("SELECT ") + rowId + QStringLiteral(", *") + from + order + first)) {
        withRowId = false;
        q = prepared(conn, QStringLiteral("SELECT *") + from + first, what);
    }
    if (!where.isEmpty())
        q.addBindValue(bound);
    exec(conn, q, what);

    const QSqlRecord rec = q.record();
    m_fields.clear();
    for (int i = withRowId ? 1 : 0; i < rec.count(); ++i)
        m_fields.append(rec.fieldName(i));
    m_values.clear();
    m_rowid = QVariant();
    m_eof = !q.next();
    if (!m_eof) {
        if (withRowId)
            m_rowid = q.value(0);
        for (int i = withRowId ? 1 : 0; i < rec.count(); ++i)
            m_values.append(q.value(i));
    }
    m_conn = &conn;
    m_table = table;
    m_where = where;
    m_bound = bound;
    m_dirty = QList<bool>(m_fields.size(), false);
    m_adding = false;
    m_open = true;
}

void Recordset::requireOpen() const
{
    if (!m_open || !m_conn || !m_conn->isOpen())
        throw Failure(err::NotOpen, QStringLiteral("Набор записей не открыт"));
}

bool Recordset::Eof() const
{
    requireOpen();
    return m_eof && !m_adding;
}

int Recordset::RecordCount() const
{
    requireOpen();
    QSqlQuery q = prepared(*m_conn,
                           QStringLiteral("SELECT count(*) FROM ") + m_conn->engine().quoteIdentifier(m_table) +
                               (m_where.isEmpty() ? QString() : QStringLiteral(" WHERE ") + m_where),
                           QStringLiteral("Подсчёт записей таблицы %1").arg(m_table));
    if (!m_where.isEmpty())
        q.addBindValue(m_bound);
    exec(*m_conn, q, QStringLiteral("Подсчёт записей таблицы %1").arg(m_table));
    q.next();
    return q.value(0).toInt();
}

int Recordset::fieldCount() const
{
    requireOpen();
    return int(m_fields.size());
}

QString Recordset::fieldName(int i) const
{
    requireOpen();
    if (i < 0 || i >= m_fields.size())
        throw Failure(err::ItemNotFound, QStringLiteral("Нет поля с номером %1 в таблице %2").arg(i).arg(m_table));
    return m_fields[i];
}

int Recordset::indexOf(const QString& field) const
{
    requireOpen();
    // Field names compare as the engine compares identifiers: without regard to ASCII case.
    for (int i = 0; i < m_fields.size(); ++i)
        if (m_fields[i].compare(field, Qt::CaseInsensitive) == 0)
            return i;
    throw fail::fieldNotFound(field, m_table);
}

QVariant Recordset::value(const QString& field) const
{
    const int i = indexOf(field);
    if (m_eof && !m_adding)
        throw fail::noCurrentRecord(m_table);
    return m_values.value(i);
}

void Recordset::setValue(const QString& field, const QVariant& value)
{
    const int i = indexOf(field);
    if (m_eof && !m_adding)
        throw fail::noCurrentRecord(m_table);
    m_values[i] = value;
    m_dirty[i] = true;
}

void Recordset::AddNew()
{
    requireOpen();
    m_adding = true;
    m_rowid = QVariant();
    m_values = QVariantList(m_fields.size());
    m_dirty = QList<bool>(m_fields.size(), false);
}

void Recordset::Update()
{
    requireOpen();
    const Engine& engine = m_conn->engine();
    const QString what = QStringLiteral("Запись в таблицу %1").arg(m_table);
    QStringList names;
    QVariantList values;
    for (int i = 0; i < m_fields.size(); ++i)
        if (m_dirty[i]) {
            names.append(engine.quoteIdentifier(m_fields[i]));
            values.append(m_values[i]);
        }
    const QString table = engine.quoteIdentifier(m_table);
    if (m_adding) {
        QSqlQuery q = prepared(
            *m_conn,
            names.isEmpty() ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(table)
                            : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                      .arg(table, names.join(QLatin1Char(',')),
                                           QStringList(names.size(), QStringLiteral("?")).join(QLatin1Char(','))) +
                                  engine.returningRowId(),
            what);
        for (const QVariant& v : values)
            q.addBindValue(v);
        exec(*m_conn, q, what);
        // An engine without the driver's last insert id returns the row id from the INSERT.
        m_rowid = engine.returningRowId().isEmpty() ? q.lastInsertId() : (q.next() ? q.value(0) : QVariant());
        m_adding = false;
        m_eof = false;
    } else {
        if (names.isEmpty())
            return; // saving an unchanged record is harmless
        if (m_eof)
            throw fail::noCurrentRecord(m_table);
        if (!m_rowid.isValid())
            throw Failure(
                err::BadFormat,
                QStringLiteral("Таблица %1 не имеет идентификатора строк; изменение записи невозможно").arg(m_table));
        QStringList sets;
        for (const QString& n : names)
            sets.append(n + QStringLiteral(" = ?"));
        QSqlQuery q = prepared(*m_conn,
                               QStringLiteral("UPDATE %1 SET %2 WHERE %3 = ?")
                                       .arg(table, sets.join(QLatin1Char(',')), engine.rowIdColumn()) +
                                   engine.returningRowId(),
                               what);
        for (const QVariant& v : values)
            q.addBindValue(v);
        q.addBindValue(m_rowid);
        exec(*m_conn, q, what);
        // A server's row id (its place in the table) moves when the record is written.
        if (!engine.returningRowId().isEmpty() && q.next())
            m_rowid = q.value(0);
    }
    m_dirty = QList<bool>(m_fields.size(), false);
}

void Recordset::Close()
{
    // A record begun with AddNew and not saved is dropped.
    m_open = false;
    m_adding = false;
    m_conn = nullptr;
}

} // namespace kalder
