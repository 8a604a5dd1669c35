// The main window's procedures over FormControls.
#include "window/form_logic.h"

#include "app/base/failure.h"
#include "app/base/version.h"
#include "config/checks.h"
#include "config/db_settings.h"
#include "db/connection.h"
#include "db/inspection.h"

namespace kalder {

namespace {

int selectedRow(const ListView& list, const QString& name)
{
    const int index = list.selectedIndex();
    if (index == 0)
        throw Failure(err::ObjectNotSet, QStringLiteral("Не выбрана строка в списке %1").arg(name));
    return index;
}

// get_Settings reads a NULL StrNumMAX as 0, which would put 0 into the last-row box. Whether
// the stored value is NULL (or there is no record at all) decides if "100" stays.
bool storedValueIsNull(const AppState& state, const QString& field)
{
    Connection* conn = state.connection();
    if (!conn)
        return true;
    try {
        Recordset rs;
        rs.Open(QStringLiteral("tblSettings"), *conn, adOpenKeyset, adLockOptimistic, -1);
        return rs.Eof() || rs.value(field).isNull();
    } catch (const Failure&) {
        return true; // nothing readable is stored: the box keeps its text
    }
}

} // namespace

void set_CommandsEnabled(FormControls& ui, bool enabled)
{
    ui.Command_Analize->setEnabled(enabled);
    ui.Command_Update->setEnabled(enabled);
    // the check and the undo of a load work on the database as the load does
    for (Button* b : {ui.Command_Preview, ui.Command_Undo})
        if (b)
            b->setEnabled(enabled);
}

void restoreSettings(AppState& state, FormControls& ui)
{
    QString lastFileName;
    qint32 strNumWithCapt = 0;
    qint32 strNumMAX = 0;
    if (get_Settings(state, lastFileName, strNumWithCapt, strNumMAX))
        return;
    ui.Text_FileName->setText(lastFileName);
    ui.Text_StrNumWithCapt->setText(QString::number(strNumWithCapt));
    // The last row is restored like the header row: an operator who set it finds it again
    // after a restart, instead of a silent "100" that cuts the next load short.
    if (!storedValueIsNull(state, QStringLiteral("StrNumMAX")))
        ui.Text_StrNumMAX->setText(QString::number(strNumMAX));
}

void frmMain_Load(AppState& state, FormControls& ui)
{
    try {
        if (!state.DBIsOpen)
            set_CommandsEnabled(ui, false);

        ui.Caption->setText(ui.Caption->text() + QStringLiteral(" (версия ") + QString::number(KALDER_VERSION_MAJOR) +
                            QLatin1Char('.') + QString::number(KALDER_VERSION_MINOR) + QLatin1Char('.') +
                            QString::number(KALDER_VERSION_REVISION) + QLatin1Char(')'));

        ui.Text_Rules->setText(RulesLegend);

        if (state.DBIsOpen) {
            restoreSettings(state, ui);
            ui.Text_DBRecordCount->setText(QString::number(get_DBRecCount(state)));
        }

        ui.lv_Fields->clear();
        ui.lv_Fields->addColumn(QStringLiteral("Поле в документе"), 3000);
        ui.lv_Fields->addColumn(QStringLiteral("№№"), 510);
        ui.lv_Fields->setReportView();

        ui.lv->clear();
        ui.lv->addColumn(QStringLiteral("ПР"), 510);
        ui.lv->addColumn(QStringLiteral("№№"), 510);
        ui.lv->addColumn(QStringLiteral("Поле в документе"), 2000);
        ui.lv->addColumn(QStringLiteral("Поле в БД"), 1450);
        ui.lv->addColumn(QStringLiteral("№№"), 510);
        ui.lv->setReportView();

        ui.lv_DB->clear();
        ui.lv_DB->addColumn(QStringLiteral("Поле в БД"), 2000);
        ui.lv_DB->addColumn(QStringLiteral("№№"), 510);
        ui.lv_DB->setReportView();

        get_FieldsNameDB(state, *ui.lv_DB);
    } catch (const Failure& f) {
        ui.dialogs->message(f.text(), QStringLiteral(KALDER_APP_TITLE), Dialogs::Icon::Exclamation);
    }
}

void frmMain_Unload(AppState& state)
{
    if (!state.DBConnection)
        return;
    try {
        state.DBConnection->Close();
    } catch (const Failure&) {
        // The program ends either way; a connection that will not close has nothing to tell.
    }
}

static void addLink(FormControls& ui)
{
    ListView& lv = *ui.lv;
    ListView& fields = *ui.lv_Fields;
    const int n = lv.count();
    // The workbook field is looked up before the prompt: with no row selected in lv_Fields the
    // operator is told at once, and no link row without its workbook field is left behind.
    const int source = selectedRow(fields, QStringLiteral("lv_Fields"));
    const QString fieldText = fields.text(source);
    for (int i = 1; i <= n; ++i)
        if (lv.subItem(i, 2) == fieldText)
            return; // a workbook field is linked once

    QString answer;
    for (;;) {
        answer = ui.dialogs->input(RulePrompt, RuleTitle, answer);
        if (answer.isEmpty())
            return;
        if (!chk_StrNum(answer, *ui.dialogs))
            break;
        // refused: the box opens again showing the refused text
    }

    const int row = n + 1;
    lv.add(row, answer);
    lv.setSubItem(row, 1, fields.subItem(source, 1));
    lv.setSubItem(row, 2, fieldText);
    lv.select(row);
}

static void setLinkField(FormControls& ui)
{
    ListView& lv = *ui.lv;
    if (lv.count() == 0)
        return;
    const int link = selectedRow(lv, QStringLiteral("lv"));
    const int db = selectedRow(*ui.lv_DB, QStringLiteral("lv_DB"));
    lv.setSubItem(link, 3, ui.lv_DB->text(db));
    lv.setSubItem(link, 4, ui.lv_DB->subItem(db, 1));
}

void fld_ADD(FormControls& ui, int source)
{
    try {
        if (source == FromFields)
            addLink(ui);
        else if (source == FromDB)
            setLinkField(ui);
    } catch (const Failure& f) {
        ui.dialogs->message(f.text(), QStringLiteral("fld_ADD"), Dialogs::Icon::Exclamation);
    }
}

void lv_DblClick(FormControls& ui)
{
    ListView& lv = *ui.lv;
    if (lv.count() == 0)
        return;
    const int selected = lv.selectedIndex();
    if (selected != 0)
        lv.remove(selected);
}

} // namespace kalder
