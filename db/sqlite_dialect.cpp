#include "db/sqlite_dialect.h"

#include "app/base/failure.h"

#include <QFile>
#include <QSqlDriver>
#include <sqlite3.h>

#include <QFileInfo>
#include <QUrl>
#include <cstring>

namespace kalder::sqlite {

void checkDatabaseFile(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        throw Failure(err::FileNotFound, QStringLiteral("Файл базы данных не найден: %1").arg(path));
    if (info.isDir())
        throw Failure(err::PathNotFound, QStringLiteral("Путь к базе данных указывает на папку: %1").arg(path));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(
            err::PathFileAccess,
            QStringLiteral("Файл базы данных не открывается для чтения: %1 (%2)").arg(path, file.errorString()));
    const QByteArray head = file.read(32);
    if (head.isEmpty())
        throw Failure(err::fromSqlite(SQLITE_NOTADB),
                      QStringLiteral("Файл %1 пуст и не является базой данных SQLite").arg(path));
    // A Jet (Access) file carries "Standard Jet DB" or "Standard ACE DB" from byte 4.
    if (head.mid(4, 15) == "Standard Jet DB" || head.mid(4, 15) == "Standard ACE DB")
        throw Failure(err::BadFormat,
                      QStringLiteral("Файл %1 является базой данных формата Jet (.mdb/.accdb); этот формат "
                                     "не читается, база данных должна быть файлом SQLite")
                          .arg(path));
    if (!head.startsWith(QByteArray("SQLite format 3\0", 16)))
        throw Failure(err::fromSqlite(SQLITE_NOTADB),
                      QStringLiteral("Файл %1 не является базой данных SQLite").arg(path));
}

QString driverDatabaseName(const QString& path)
{
    // mode=rw opens an existing file for reading and writing and never creates one.
    QUrl url = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    url.setQuery(QStringLiteral("mode=rw"));
    return url.toString(QUrl::FullyEncoded);
}

QString connectOptions(int busyTimeoutMs)
{
    return QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs);
}

sqlite3* handleOf(const QSqlDatabase& db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || std::strcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(handle.constData());
}

void setBusyTimeout(const QSqlDatabase& db, int ms)
{
    if (sqlite3* h = handleOf(db))
        sqlite3_busy_timeout(h, ms);
}

QString affinityType(const char* declared)
{
    const QByteArray t = QByteArray(declared ? declared : "").toUpper();
    if (t.contains("INT"))
        return QStringLiteral("INTEGER");
    if (t.contains("CHAR") || t.contains("CLOB") || t.contains("TEXT"))
        return QStringLiteral("TEXT");
    if (t.isEmpty() || t.contains("BLOB"))
        return QString();
    if (t.contains("REAL") || t.contains("FLOA") || t.contains("DOUB"))
        return QStringLiteral("REAL");
    return QStringLiteral("NUMERIC");
}

QString quoteIdentifier(const QString& name)
{
    QString quoted = name;
    quoted.replace(QLatin1Char('`'), QStringLiteral("``"));
    return QLatin1Char('`') + quoted + QLatin1Char('`');
}

void fail(const QSqlError& error, const QString& what)
{
    bool ok = false;
    int number = error.nativeErrorCode().toInt(&ok);
    if (!ok || number == 0)
        number = SQLITE_ERROR; // the driver gave no code of its own
    QString text = error.databaseText();
    if (text.isEmpty())
        text = error.driverText();
    throw Failure(err::fromSqlite(number), what + QStringLiteral(": ") + text);
}

} // namespace kalder::sqlite
