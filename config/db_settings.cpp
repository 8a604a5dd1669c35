// The first record of tblSettings. Every step may fail on its own (no connection, no table,
// no such field, a value the field refuses); a failing step is skipped and the next one runs,
// since these values are a convenience and must never stop the operator's work.
#include "config/db_settings.h"
#include "db/connection.h"

#include "app/base/failure.h"
#include "config/checks.h"

#include <cmath>

namespace kalder {

namespace {

const QString Table = QStringLiteral("tblSettings");

// A stored whole number: NULL reads as 0, a fraction rounds half to even, a text converts
// as the operator's input does. Nothing when the value does not convert.
std::optional<qint32> wholeNumber(const QVariant& v)
{
    if (v.isNull())
        return 0;
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong: {
        const qlonglong n = v.toLongLong();
        if (n < INT32_MIN || n > INT32_MAX)
            return std::nullopt;
        return qint32(n);
    }
    case QMetaType::ULongLong:
        if (v.toULongLong() > quint64(INT32_MAX))
            return std::nullopt;
        return qint32(v.toULongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return roundToInt32(v.toDouble());
    case QMetaType::QString:
        return toInt32(v.toString());
    default:
        return std::nullopt;
    }
}

} // namespace

bool get_Settings(const AppState& state, QString& lastFileName, qint32& strNumWithCapt, qint32& strNumMAX)
{
    Connection* conn = state.connection();
    if (!conn)
        return true;
    Recordset rs;
    try {
        rs.Open(Table, *conn, adOpenKeyset, adLockOptimistic, -1);
        if (rs.Eof())
            return true;
    } catch (const Failure&) {
        return true; // no table, or it cannot be read: nothing was read
    }
    // Each value on its own: a missing field or a value that does not convert leaves
    // its output as it was.
    try {
        const QVariant v = rs.value(QStringLiteral("LastFileName"));
        if (!v.isNull())
            lastFileName = v.toString();
    } catch (const Failure&) {
    }
    try {
        if (const auto n = wholeNumber(rs.value(QStringLiteral("StrNumWithCapt"))))
            strNumWithCapt = *n;
    } catch (const Failure&) {
    }
    try {
        if (const auto n = wholeNumber(rs.value(QStringLiteral("StrNumMAX"))))
            strNumMAX = *n;
    } catch (const Failure&) {
    }
    rs.Close();
    return false;
}

void set_SettingValue(const AppState& state, const QString& field, const QVariant& value)
{
    Connection* conn = state.connection();
    if (!conn)
        return; // every step would fail
    Recordset rs;
    try {
        rs.Open(Table, *conn, adOpenKeyset, adLockOptimistic, -1);
    } catch (const Failure&) {
    }
    bool atEnd = true;
    try {
        atEnd = rs.Eof();
    } catch (const Failure&) {
    }
    // The steps below run whatever failed before them: a field that does not exist still
    // lets Update store the new, empty record of an empty table.
    try {
        if (atEnd)
            rs.AddNew();
    } catch (const Failure&) {
    }
    try {
        rs.setValue(field, value);
    } catch (const Failure&) {
    }
    try {
        rs.Update();
    } catch (const Failure&) {
    }
    rs.Close();
}

} // namespace kalder
