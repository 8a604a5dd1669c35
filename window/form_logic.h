// What the main window does, apart from its widgets: the load and unload handling, the two
// work buttons' switch, and the editing of the link list lv. QtCore only: it works on
// FormControls, so it runs with the memory controls in tests as with the widgets in the window.
#pragma once

#include "app/base/state.h"
#include "window/controls/controls.h"

#include <QString>

namespace kalder {

// The window's design caption, before the load handling appends the version.
inline const QString DesignCaption = QStringLiteral("Загрузка данных из excel в БД");

// The rule lines, shared by the legend in Text_Rules and the rule prompt of fld_ADD.
inline const QString RuleLine1 = QStringLiteral("  1: проверяется уникальность данных в БД;");
inline const QString RuleLine2 = QStringLiteral("  2: определяется MIN значение;");
inline const QString RuleLine3 = QStringLiteral("  3: определяется MAX значение;");
inline const QString LineEnd = QStringLiteral("\r\n");

// The legend of Text_Rules: five lines joined by CR LF, no line end after the last.
inline const QString RulesLegend = QStringLiteral("Правила для загрузки данных в БД:") + LineEnd +
                                   QString(33, QLatin1Char('-')) + LineEnd + RuleLine1 + LineEnd + RuleLine2 + LineEnd +
                                   RuleLine3;
// The prompt of the rule input box and its title.
inline const QString RulePrompt =
    QStringLiteral("Введите номер правила:") + LineEnd + RuleLine1 + LineEnd + RuleLine2 + LineEnd + RuleLine3;
inline const QString RuleTitle = QStringLiteral("Определение правила");

// The source of a finished drag, as fld_ADD takes it.
enum DragSource { FromFields = 1, FromDB = 2 };

// The load handling: buttons, caption with the version, legend, the values stored in
// tblSettings, the record count, the three lists' columns, the fields of tblData. A failure
// is reported titled "Kalder" and ends it.
void frmMain_Load(AppState& state, FormControls& ui);
// The values kept in tblSettings into Text_FileName and the two row-number boxes; a
// StrNumMAX that was never stored leaves the last-row box as it is.
void restoreSettings(AppState& state, FormControls& ui);
// The unload handling: closes the connection; any failure is ignored.
void frmMain_Unload(AppState& state);
// Enables or disables Command_Analize, then Command_Update, and with it Command_Preview and
// Command_Undo.
void set_CommandsEnabled(FormControls& ui, bool enabled);
// The end of a drag out of lv_Fields (1: a new link row, after asking for its rule) or out of
// lv_DB (2: the database field of the selected link row). Other sources do nothing.
void fld_ADD(FormControls& ui, int source);
// Double click on lv: removes the selected row, when there is one.
void lv_DblClick(FormControls& ui);

} // namespace kalder
