// The handlers of the buttons and row-number boxes. They check and convert what the operator
// typed, call one work procedure and show its outcome; the work itself lives elsewhere.
#include "window/commands.h"

#include "app/base/failure.h"
#include "app/base/version.h"
#include "config/checks.h"
#include "config/db_settings.h"
#include "config/settings_file.h"
#include "db/inspection.h"
#include "db/load_journal.h"
#include "window/form_logic.h"
#include "workbook/data_load.h"
#include "workbook/header_analysis.h"

#include <QDir>
#include <QFileInfo>

#include <optional>

namespace kalder {

namespace {

const QString Title = QStringLiteral(KALDER_APP_TITLE);
const QString TableData = QStringLiteral("tblData");
const QString NoWorkbook = QStringLiteral("Не задано имя эксель файла");
const QString BadNumber = QStringLiteral("Введенное значение может содержать только цифры и быть не отрицательным");
constexpr qint32 OverwritePrompt = 2;

// The dialogs' files: the formats the reader opens, and the usual names of SQLite files.
const QString WorkbookPatterns = QStringLiteral("*.xls;*.xlsx;*.xlsm;*.ods;*.csv");
const QString DatabasePatterns = QStringLiteral("*.db;*.sqlite;*.sqlite3;*.db3");

// The files of the patterns first, then every file.
QString filterFor(const QString& patterns)
{
    const QChar nul(u'\0');
    return QStringLiteral("Выберите файл (") + patterns + QStringLiteral(")") + nul + patterns + nul +
           QStringLiteral("All Files (*.*)") + nul + QStringLiteral("*.*") + nul;
}

// Where a dialog opens: in the folder of the file its box names, else in the folder of the
// file last chosen, else in the folder of settings.cfg (the application folder, unless that
// cannot be written). A relative path in the box is relative to that folder, as a relative
// PathToDB is.
QString dialogFolder(const AppState& state, const QString& current)
{
    if (!current.isEmpty()) {
        const QDir folder = QFileInfo(QDir(settingsFolder()), current).absoluteDir();
        if (folder.exists())
            return folder.absolutePath();
    }
    if (!state.LastChosenFolder.isEmpty() && QDir(state.LastChosenFolder).exists())
        return state.LastChosenFolder;
    return settingsFolder();
}

QString chooseFile(AppState& state, Dialogs& dialogs, const QString& current, const QString& patterns,
                   const QString& extension)
{
    qint32 flags = OverwritePrompt;
    const QString path = dlg_FileName(flags, dialogFolder(state, current), filterFor(patterns), 1, extension, QString(),
                                      QStringLiteral("Выбор файла"), -1, true, dialogs);
    if (!path.isEmpty())
        state.LastChosenFolder = QFileInfo(path).absolutePath();
    return path;
}

// A row-number box the command cannot use: the number check's message, and the operator
// back in the box with its text selected.
void refuseBox(TextBox& box, Dialogs& dialogs)
{
    dialogs.message(BadNumber, Title, Dialogs::Icon::Exclamation);
    box.setFocus();
    box.select(0, int(box.text().size()));
}

void storeBox(AppState& state, TextBox& box, Dialogs& dialogs, const QString& field)
{
    if (!chk_TextNum(box, dialogs))
        set_SettingValue(state, field, box.text());
}

} // namespace

void Command_SelectFile_Click(AppState& state, FormControls& ui)
{
    try {
        const QString path =
            chooseFile(state, *ui.dialogs, ui.Text_FileName->text(), WorkbookPatterns, QStringLiteral(".xls"));
        if (path.isEmpty())
            return;
        ui.Text_FileName->setText(path);
        set_SettingValue(state, QStringLiteral("LastFileName"), path);
    } catch (const Failure& f) {
        ui.dialogs->message(f.text(), Title, Dialogs::Icon::Exclamation);
    }
}

void Command_SetPathToDB_Click(AppState& state, FormControls& ui)
{
    try {
        const QString path =
            chooseFile(state, *ui.dialogs, ui.Text_PathToDB->text(), DatabasePatterns, QStringLiteral(".db"));
        if (path.isEmpty())
            return;
        // The chosen database is opened before anything is replaced: a file that cannot be
        // opened leaves the working connection, settings.cfg and the window as they were.
        auto connection = std::make_unique<Connection>();
        try {
            connection->Open(connectionStringFor(path), QString(), QString(), -1);
        } catch (const Failure& f) {
            ui.dialogs->message(f.text(), Title, Dialogs::Icon::Exclamation);
            return;
        }
        if (state.DBConnection)
            state.DBConnection->Close();
        state.DBConnection = std::move(connection);
        state.DBIsOpen = true;

        ui.Text_PathToDB->setText(path);
        set_Settings(*ui.Text_PathToDB, *ui.dialogs);
        if (get_PathToDB(state, *ui.dialogs))
            state.PathToDB = path; // settings.cfg did not read back: the open database counts

        restoreSettings(state, ui);
        ui.Text_DBRecordCount->setText(QString::number(get_DBRecCount(state)));
        set_CommandsEnabled(ui, true);
        ui.Text_PathToDB->setText(state.PathToDB);
        // The database fields belong to the new database.
        ui.lv_DB->clear();
        get_FieldsNameDB(state, *ui.lv_DB);
    } catch (const Failure&) {
        // Ends silently: the procedures called report their own failures.
    }
}

void Command_Analize_Click(AppState&, FormControls& ui)
{
    ui.lv_Fields->clear();
    if (ui.Text_FileName->text().isEmpty()) {
        ui.dialogs->message(NoWorkbook, Title, Dialogs::Icon::Exclamation);
        ui.Command_SelectFile->setFocus();
        return;
    }
    ui.pb->setMin(0);
    const auto header = leadingInt32(ui.Text_StrNumWithCapt->text());
    if (!header) {
        refuseBox(*ui.Text_StrNumWithCapt, *ui.dialogs);
        return;
    }
    const auto last = leadingInt32(ui.Text_StrNumMAX->text());
    if (!last) {
        refuseBox(*ui.Text_StrNumMAX, *ui.dialogs);
        return;
    }
    if (xls_FieldsName(*ui.lv_Fields, *ui.pb, *ui.pointer, *ui.dialogs, ui.Text_FileName->text(), *header, *last)) {
        ui.dialogs->message(QStringLiteral("Ошибка при анализе входного файла"), Title, Dialogs::Icon::Exclamation);
        return;
    }
    ui.dialogs->message(QStringLiteral("Анализ входных полей выполнен"), Title, Dialogs::Icon::Information);
    ui.lv->clear();
}

namespace {

struct LoadArguments {
    QString fileName;
    qint32 headerRow, lastRow;
};

// What a load and its rehearsal are given, once the link list and both boxes pass.
std::optional<LoadArguments> loadArguments(FormControls& ui)
{
    if (ui.lv->count() == 0) {
        ui.dialogs->message(QStringLiteral("Не определена связь полей в БД и во входном файле"), Title,
                            Dialogs::Icon::Exclamation);
        return std::nullopt;
    }
    const QString fileName = ui.Text_FileName->text();
    if (fileName.isEmpty()) {
        ui.dialogs->message(NoWorkbook, Title, Dialogs::Icon::Exclamation);
        ui.Command_SelectFile->setFocus();
        return std::nullopt;
    }
    // The last row is converted first, so a refusal lands in the first box that fails.
    const auto last = toInt32(ui.Text_StrNumMAX->text());
    if (!last) {
        refuseBox(*ui.Text_StrNumMAX, *ui.dialogs);
        return std::nullopt;
    }
    const auto header = toInt32(ui.Text_StrNumWithCapt->text());
    if (!header) {
        refuseBox(*ui.Text_StrNumWithCapt, *ui.dialogs);
        return std::nullopt;
    }
    return LoadArguments{fileName, *header, *last};
}

} // namespace

void Command_Update_Click(AppState& state, FormControls& ui)
{
    const std::optional<LoadArguments> a = loadArguments(ui);
    if (!a)
        return;
    if (!xls_DataUpdate(state, ui, a->fileName, a->headerRow, a->lastRow))
        ui.dialogs->message(QStringLiteral("Обработка данных успешно завершена"), Title, Dialogs::Icon::Information);
}

void Command_Preview_Click(AppState& state, FormControls& ui)
{
    const std::optional<LoadArguments> a = loadArguments(ui);
    if (!a)
        return;
    PreviewReport report;
    if (!xls_DataPreview(state, ui, a->fileName, a->headerRow, a->lastRow, report))
        ui.dialogs->preview(report);
}

void Command_Undo_Click(AppState& state, FormControls& ui)
{
    Connection* conn = state.connection();
    if (!conn)
        return; // the button is disabled without a database
    try {
        if (const std::optional<QString> why = journalUnavailable(*conn)) {
            ui.dialogs->message(QStringLiteral("Отмена загрузки невозможна: %1").arg(*why), Title,
                                Dialogs::Icon::Exclamation);
            return;
        }
        const std::optional<JournaledLoad> last = lastLoad(*conn, TableData);
        if (!last) {
            ui.dialogs->message(QStringLiteral("В журнале нет загрузки, которую можно отменить"), Title,
                                Dialogs::Icon::Exclamation);
            return;
        }
        const QString what = QStringLiteral("загрузку книги %1 от %2 (добавлено записей: %3, расширено: %4%5)")
                                 .arg(last->workbook, last->started.toString(u"dd.MM.yyyy HH:mm:ss"))
                                 .arg(last->added)
                                 .arg(last->widened)
                                 .arg(last->finished ? QString() : QStringLiteral("; загрузка была прервана"));
        if (!ui.dialogs->question(
                QStringLiteral("Отменить %1? Добавленные ею записи будут удалены, расширенные получат "
                               "прежние значения.")
                    .arg(what),
                Title))
            return;
        const UndoResult done = undoLastLoad(*conn, TableData);
        if (!done.changedKeys.isEmpty()) {
            const qsizetype shown = 20;
            QString keys = done.changedKeys.mid(0, shown).join(QStringLiteral(", "));
            if (done.changedKeys.size() > shown)
                keys += QStringLiteral(" и ещё %1").arg(done.changedKeys.size() - shown);
            ui.dialogs->message(QStringLiteral("Загрузку нельзя отменить: после неё изменены записи с ключами %1. "
                                               "Ничего не изменено")
                                    .arg(keys),
                                Title, Dialogs::Icon::Exclamation);
            return;
        }
        ui.Text_DBRecordCount->setText(QString::number(get_DBRecCount(state)));
        ui.Text_DBRecordCountNew->setText(QStringLiteral("0"));
        ui.dialogs->message(QStringLiteral("Загрузка отменена: удалено записей: %1, восстановлено прежних значений: %2")
                                .arg(done.removed)
                                .arg(done.restored),
                            Title, Dialogs::Icon::Information);
    } catch (const Failure& f) {
        ui.dialogs->message(f.text(), Title, Dialogs::Icon::Exclamation);
    }
}

void Text_StrNumMAX_LostFocus(AppState& state, FormControls& ui)
{
    storeBox(state, *ui.Text_StrNumMAX, *ui.dialogs, QStringLiteral("StrNumMAX"));
}

void Text_StrNumWithCapt_LostFocus(AppState& state, FormControls& ui)
{
    storeBox(state, *ui.Text_StrNumWithCapt, *ui.dialogs, QStringLiteral("StrNumWithCapt"));
}

} // namespace kalder
