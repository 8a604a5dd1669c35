// Record count and field list of tblData. Both skip what fails and report nothing: the
// window shows 0 and an empty list when the table cannot be read.
#include "db/inspection.h"
#include "db/connection.h"

#include "app/base/failure.h"

namespace kalder {

namespace {
const QString TableData = QStringLiteral("tblData");
}

qint32 get_DBRecCount(const AppState& state)
{
    qint32 result = 0;
    Connection* conn = state.connection();
    if (!conn)
        return result;
    Recordset rs;
    try { // skipped on failure: the count stays 0
        rs.Open(TableData, *conn, adOpenStatic, adLockUnspecified);
        result = rs.RecordCount();
    } catch (const Failure&) {
    }
    return result;
}

void get_FieldsNameDB(const AppState& state, ListView& lv_DB)
{
    Connection* conn = state.connection();
    if (!conn)
        return;
    Recordset rs;
    try { // the open failed: no fields to list
        rs.Open(TableData, *conn, adOpenStatic, adLockUnspecified);
    } catch (const Failure&) {
        return;
    }
    // Inserted at the top from the last field to the first, so the list reads in field order.
    for (int i = rs.fieldCount() - 1; i >= 0; --i) {
        try { // a row the list refuses is skipped, the others still listed
            lv_DB.add(1, rs.fieldName(i));
            lv_DB.setSubItem(1, 1, QString::number(i + 1));
        } catch (const Failure&) {
        }
    }
}

} // namespace kalder
