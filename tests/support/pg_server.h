// Test support: a real PostgreSQL server of the test's own, in a temporary folder, listening on
// a Unix socket in that folder only (no TCP port), stopped and removed when the test ends. The
// server refuses to run as root, so a test started as root runs it as the user "postgres"
// (with setpriv, which also stops it when the test's process ends), in a folder that user owns. Where the server's programs are missing, or it
// does not start, reason() says why and the tests skip themselves with it.
#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

#include <csignal>
#include <pwd.h>
#include <unistd.h>

namespace kalder::test {

class PgServer {
public:
    // The folder of the server's programs: KALDER_PG_BIN, else Debian's PostgreSQL 15.
    static QString binaries()
    {
        const QString given = qEnvironmentVariable("KALDER_PG_BIN");
        return given.isEmpty() ? QStringLiteral("/usr/lib/postgresql/15/bin") : given;
    }

    PgServer()
    {
        const QString bin = binaries();
        if (!QFile::exists(bin + QStringLiteral("/initdb")) || !QFile::exists(bin + QStringLiteral("/pg_ctl"))) {
            m_reason = QStringLiteral("PostgreSQL server programs not found in %1 (install postgresql-15)").arg(bin);
            return;
        }
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
            m_reason = QStringLiteral("Qt's PostgreSQL driver is not installed (libqt6sql6-psql)");
            return;
        }
        // A short path: a socket's path is limited to about a hundred bytes.
        m_dir = std::make_unique<QTemporaryDir>(QStringLiteral("/tmp/kpg-XXXXXX"));
        if (!m_dir->isValid()) {
            m_reason = QStringLiteral("no temporary folder for the server");
            return;
        }
        if (::geteuid() == 0) {
            const passwd* pw = ::getpwnam("postgres");
            if (!pw) {
                m_reason = QStringLiteral("running as root and there is no user \"postgres\" to run the server as");
                return;
            }
            if (::chown(QFile::encodeName(m_dir->path()).constData(), pw->pw_uid, pw->pw_gid) != 0) {
                m_reason = QStringLiteral("cannot give the server's folder to the user \"postgres\"");
                return;
            }
            m_asPostgres = true;
        }
        QString out;
        if (!run(QStringLiteral("initdb"),
                 {QStringLiteral("-D"), dataDir(), QStringLiteral("-U"), user(), QStringLiteral("-A"),
                  QStringLiteral("trust"), QStringLiteral("-E"), QStringLiteral("UTF8"),
                  QStringLiteral("--locale=C.UTF-8"), QStringLiteral("-N")},
                 &out)) {
            m_reason = QStringLiteral("initdb failed: ") + out;
            return;
        }
        if (!start()) {
            m_reason = QStringLiteral("the server did not start: ") + m_lastOutput + readLog();
            return;
        }
        m_running = true;
    }

    ~PgServer()
    {
        if (m_running)
            stop(QStringLiteral("immediate"));
    }
    PgServer(const PgServer&) = delete;
    PgServer& operator=(const PgServer&) = delete;

    bool running() const { return m_running; }
    const QString& reason() const { return m_reason; }
    QString socketDir() const { return m_dir ? m_dir->path() : QString(); }
    static QString user() { return QStringLiteral("kalder"); }

    // The connection URI of one of the server's databases, as settings.cfg would hold it.
    QString uri(const QString& database) const
    {
        return QStringLiteral("postgresql://%1@/%2?host=%3").arg(user(), database, socketDir());
    }

    // The server runs as a child of the test, and is told to stop (as by "fast" below) when
    // the test's process ends without stopping it, a crash included: no server outlives its test.
    bool start()
    {
        if (!m_dir || !m_dir->isValid())
            return false;
        m_server = std::make_unique<QProcess>();
        m_server->setWorkingDirectory(m_dir->path());
        m_server->setStandardOutputFile(m_dir->filePath(QStringLiteral("log")), QIODevice::Append);
        m_server->setStandardErrorFile(m_dir->filePath(QStringLiteral("log")), QIODevice::Append);
        QStringList args{QStringLiteral("--pdeathsig"), QStringLiteral("INT")};
        if (m_asPostgres)
            args += {QStringLiteral("--reuid=postgres"), QStringLiteral("--regid=postgres"),
                     QStringLiteral("--clear-groups")};
        args += {binaries() + QStringLiteral("/postgres"),
                 QStringLiteral("-D"),
                 dataDir(),
                 QStringLiteral("-c"),
                 QStringLiteral("listen_addresses="),
                 QStringLiteral("-c"),
                 QStringLiteral("unix_socket_directories=") + socketDir(),
                 QStringLiteral("-c"),
                 QStringLiteral("fsync=off"),
                 QStringLiteral("-c"),
                 QStringLiteral("max_connections=40")};
        m_server->start(QStringLiteral("setpriv"), args);
        if (!m_server->waitForStarted(30000)) {
            m_lastOutput = QStringLiteral("setpriv did not start: ") + m_server->errorString();
            m_server.reset();
            return false;
        }
        // Ready when it accepts connections on its socket.
        for (int i = 0; i < 600; ++i) {
            if (run(QStringLiteral("pg_isready"), {QStringLiteral("-q"), QStringLiteral("-h"), socketDir()}, nullptr,
                    false)) {
                m_running = true;
                return true;
            }
            if (m_server->waitForFinished(100))
                break; // it ended: the log says why
        }
        m_lastOutput = QStringLiteral("no connection accepted on %1").arg(socketDir());
        stopProcess(SIGQUIT);
        return false;
    }
    // Stops the server with pg_ctl: "fast" ends every session, "immediate" as if the machine
    // stopped.
    bool stop(const QString& mode = QStringLiteral("fast"))
    {
        if (!m_running)
            return false; // never started, or stopped already
        m_running = false;
        if (run(QStringLiteral("pg_ctl"),
                {QStringLiteral("-D"), dataDir(), QStringLiteral("-m"), mode, QStringLiteral("-w"),
                 QStringLiteral("stop")},
                &m_lastOutput)) {
            const bool ended = m_server && m_server->waitForFinished(60000);
            m_server.reset();
            return ended;
        }
        return stopProcess(mode == QLatin1String("immediate") ? SIGQUIT : SIGINT);
    }

    // A new empty database; its URI.
    QString createDatabase(const QString& name)
    {
        exec(QStringLiteral("postgres"), QStringLiteral("DROP DATABASE IF EXISTS \"%1\" WITH (FORCE)").arg(name));
        exec(QStringLiteral("postgres"), QStringLiteral("CREATE DATABASE \"%1\"").arg(name));
        return uri(name);
    }

    // Statements run on a database from a connection of the test's own; a failure ends the test
    // program, since what it sets up is then not there.
    void exec(const QString& database, const QString& sql) const
    {
        withConnection(database, [&](QSqlDatabase& db) {
            for (const QString& statement : sql.split(QStringLiteral(";\n"), Qt::SkipEmptyParts)) {
                QSqlQuery q(db);
                if (!statement.trimmed().isEmpty() && !q.exec(statement))
                    qFatal("%s: %s", qPrintable(statement), qPrintable(q.lastError().text()));
            }
        });
    }
    // The rows of a query, each as its columns joined by "|" (NULL for a Null).
    QStringList rows(const QString& database, const QString& sql) const
    {
        QStringList out;
        withConnection(database, [&](QSqlDatabase& db) {
            QSqlQuery q(db);
            if (!q.exec(sql))
                qFatal("%s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
            while (q.next()) {
                QStringList cols;
                for (int i = 0; i < q.record().count(); ++i)
                    cols.append(q.isNull(i) ? QStringLiteral("NULL") : q.value(i).toString());
                out.append(cols.join(QLatin1Char('|')));
            }
        });
        return out;
    }

private:
    QString dataDir() const { return m_dir->filePath(QStringLiteral("data")); }

    QString readLog() const
    {
        QFile log(m_dir->filePath(QStringLiteral("log")));
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll().right(2000)) : QString();
    }

    bool stopProcess(int signal)
    {
        if (!m_server)
            return false;
        ::kill(pid_t(m_server->processId()), signal);
        const bool ended = m_server->waitForFinished(60000);
        m_server.reset();
        return ended;
    }

    bool run(const QString& program, const QStringList& args, QString* output, bool asServer = true) const
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.setWorkingDirectory(m_dir->path());
        const QString path = binaries() + QLatin1Char('/') + program;
        if (m_asPostgres && asServer)
            p.start(QStringLiteral("setpriv"),
                    QStringList{QStringLiteral("--reuid=postgres"), QStringLiteral("--regid=postgres"),
                                QStringLiteral("--clear-groups"), path} +
                        args);
        else
            p.start(path, args);
        const bool done = p.waitForFinished(120000);
        if (output)
            *output = QString::fromLocal8Bit(p.readAll());
        return done && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }

    template <typename Fn>
    void withConnection(const QString& database, Fn&& fn) const
    {
        const QString name = QStringLiteral("pg-test-setup");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
            db.setConnectOptions(QStringLiteral("host=%1;user=%2;dbname=%3").arg(socketDir(), user(), database));
            if (!db.open())
                qFatal("cannot connect to the test server: %s", qPrintable(db.lastError().text()));
            QSqlQuery(db).exec(QStringLiteral("SET client_min_messages = warning"));
            fn(db);
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QProcess> m_server;
    QString m_reason;
    QString m_lastOutput;
    bool m_running = false;
    bool m_asPostgres = false;
};

// The server of a test program, started when first asked for.
inline PgServer& pgServer()
{
    static PgServer server;
    return server;
}

// Skips the test, with the reason, when the server cannot run here; fails it instead where
// KALDER_PG_REQUIRED is set (continuous integration, whose machine must run the server).
#define KALDER_REQUIRE_PG_SERVER()                                                                                     \
    do {                                                                                                               \
        if (!::kalder::test::pgServer().running()) {                                                                   \
            const QString why = QStringLiteral("no PostgreSQL server: ") + ::kalder::test::pgServer().reason();        \
            if (qEnvironmentVariableIsSet("KALDER_PG_REQUIRED"))                                                       \
                QFAIL(qPrintable(why));                                                                                \
            QSKIP(qPrintable(why));                                                                                    \
        }                                                                                                              \
    } while (false)

} // namespace kalder::test
