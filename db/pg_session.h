// The client library's own interface on the handle of Qt's PostgreSQL connection, for the work
// Qt SQL makes slow or cannot do: statements with parameters and their results, and COPY.
// Statements share the connection (and so its transaction) with the Qt SQL statements.
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <string_view>
#include <vector>

typedef struct pg_conn PGconn;
typedef struct pg_result PGresult;

namespace kalder {
class Connection;
class Failure;
} // namespace kalder

namespace kalder::pg {

// A result, cleared when its holder goes.
class Result {
public:
    Result() = default;
    explicit Result(PGresult* r) : m_r(r) { }
    ~Result();
    Result(Result&& other) noexcept : m_r(other.m_r) { other.m_r = nullptr; }
    Result& operator=(Result&& other) noexcept;
    Result(const Result&) = delete;
    Result& operator=(const Result&) = delete;

    PGresult* get() const { return m_r; }
    int rows() const;
    bool isNull(int row, int col) const;
    QByteArray text(int row, int col) const;
    double number(int row, int col) const;
    qint64 integer(int row, int col) const;
    qint64 affected() const; // the rows an INSERT, UPDATE or DELETE wrote

private:
    PGresult* m_r = nullptr;
};

// A parameter in the server's text form; nothing: Null.
using Param = std::optional<QByteArray>;
// A number in the server's text form: the shortest text that reads back as the same number.
QByteArray textOf(double v);

class Session;

// A COPY ... FROM STDIN on its way: rows are made into a buffer that goes to the server a
// piece at a time, so that the server reads the first rows while the rest are being made.
// A row is made by CopyText or CopyBinary, whichever form the COPY was started in.
class CopyIn {
public:
    enum class Form { Text, Binary };
    // Starts the COPY (its statement names the form: FORMAT binary for Binary); the server's
    // refusal fails.
    CopyIn(Session& session, const QByteArray& sql, Form form, const QString& what);
    // Ends a COPY not finished with an error, so that the server takes back what it read.
    ~CopyIn();
    CopyIn(const CopyIn&) = delete;
    CopyIn& operator=(const CopyIn&) = delete;

    // Where the next row goes, once the rows made so far are sent when they fill a piece.
    QByteArray& row();
    // Sends the rest and ends the COPY; fails with the server's error for any row.
    void finish();

private:
    bool send();
    Session& m_s;
    Form m_form;
    QString m_what;
    QByteArray m_data;
    bool m_sent = true, m_open = true;
};

// One line of COPY's text form: its fields separated by tabs, a text escaped, a missing number
// as \N; end() closes it with a newline.
class CopyText {
public:
    explicit CopyText(CopyIn& copy) : m_data(copy.row()) { }
    CopyText& text(std::string_view text);
    CopyText& number(std::optional<double> v);
    CopyText& whole(qint64 n);
    void end() { m_data += '\n'; }

private:
    void next()
    {
        if (!m_first)
            m_data += '\t';
        m_first = false;
    }
    QByteArray& m_data;
    bool m_first = true;
};

// One row of COPY's binary form: its count of fields, then each as its length and its bytes in
// the server's own order (a missing number: no bytes, length -1). Nothing is parsed or escaped,
// and a number goes as its eight bytes, which the server reads back exactly.
class CopyBinary {
public:
    CopyBinary(CopyIn& copy, int fields);
    CopyBinary& text(std::string_view text);
    CopyBinary& number(std::optional<double> v);
    CopyBinary& whole(qint64 n);

private:
    QByteArray& m_data;
};

class Session {
public:
    // Fails with err::NotOpen unless the connection is an open PostgreSQL connection.
    explicit Session(Connection& conn);

    PGconn* handle() const { return m_conn; }
    const QString& location() const { return m_location; }

    // Runs a statement; a server's error fails, described by what was being done.
    Result exec(const QByteArray& sql, const QString& what, const std::vector<Param>& params = {});
    // The same, giving back the error instead: nothing when the statement ran; the failure
    // and the server's SQLSTATE otherwise.
    std::optional<Failure> tryExec(const QByteArray& sql, const QString& what, const std::vector<Param>& params,
                                   Result* out = nullptr);
    // Runs a statement whose failure is no concern any more (taking back a transaction).
    void quietly(const char* sql) noexcept;

    // The SQLSTATE of the last statement that failed ("" when the connection was lost).
    const QByteArray& lastState() const { return m_state; }
    bool connectionLost() const;

private:
    friend class CopyIn;
    PGconn* m_conn = nullptr;
    QString m_location;
    QByteArray m_state;
};

} // namespace kalder::pg
