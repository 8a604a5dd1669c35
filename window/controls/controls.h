// The interfaces through which the work procedures drive the window: list views, the
// progress bar, text boxes, the application-wide pointer and the dialogs. QtCore only, so
// that the analysis and the load run in tests without a display. The window implements
// them over Qt widgets; window/controls/memory_controls.h holds versions kept in memory.
#pragma once

#include "window/controls/preview.h"

#include <QString>
#include <QStringList>

namespace kalder {

// A list view in report view. Positions are 1-based, every cell is text.
// k in subItem(k) counts from 1 and addresses column k + 1; a cell never set reads "".
// Out-of-range positions fail with err::InvalidProperty (add beyond count + 1, item 0, ...).
class ListView {
public:
    virtual ~ListView() = default;
    virtual void addColumn(const QString& text, int widthTwips) = 0;
    virtual void setReportView() = 0;
    virtual int count() const = 0;
    virtual void clear() = 0;
    virtual void add(int index, const QString& text) = 0; // rows from index on move down
    virtual void remove(int index) = 0; // rows after it move up
    virtual QString text(int index) const = 0;
    virtual void setText(int index, const QString& text) = 0;
    virtual QString subItem(int index, int k) const = 0;
    virtual void setSubItem(int index, int k, const QString& text) = 0;
    virtual int selectedIndex() const = 0; // 0: nothing selected
    virtual void select(int index) = 0; // one row at most is selected
    virtual void ensureVisible(int index) = 0;
};

// The progress bar. Values are single-precision; setValue outside [min, max] fails with
// err::InvalidProperty and leaves the bar as it was.
class ProgressBar {
public:
    virtual ~ProgressBar() = default;
    virtual float min() const = 0;
    virtual float max() const = 0;
    virtual float value() const = 0;
    virtual void setMin(float v) = 0;
    virtual void setMax(float v) = 0;
    virtual void setValue(float v) = 0;
};

// A text box as the checks and the load see it.
class TextBox {
public:
    virtual ~TextBox() = default;
    virtual QString text() const = 0;
    virtual void setText(const QString& text) = 0;
    virtual void setFocus() = 0;
    virtual void select(int start, int length) = 0;
};

// The mouse pointer of the whole application.
class Pointer {
public:
    enum Shape { Default = 0, Hourglass = 11 };
    virtual ~Pointer() = default;
    virtual void set(Shape shape) = 0;
    virtual Shape shape() const = 0;
};

// What an open-file or save-file dialog is asked to show.
struct FileDialogRequest {
    QString title;
    QStringList filters; // "description (pattern)" entries, in the given order
    QStringList patterns; // the pattern of each entry, e.g. "*.xls" or "*.*"
    int filterIndex = 1; // 1-based entry shown first
    QString initialFolder;
    QString defaultExtension; // without the leading dot
    QString fileName; // shown at first
    bool open = true; // false: the save dialog
    bool overwritePrompt = false;
};

// Message box (OK button only), input box and file dialog.
class Dialogs {
public:
    enum class Icon { Exclamation = 48, Information = 64 };
    virtual ~Dialogs() = default;
    virtual void message(const QString& text, const QString& title, Icon icon) = 0;
    // The text typed, or the empty text when the operator cancels.
    virtual QString input(const QString& prompt, const QString& title, const QString& initial) = 0;
    // The chosen full path, or the empty text on cancel.
    virtual QString fileName(const FileDialogRequest& request) = 0;
    // A question with the buttons Yes and No; true for Yes.
    virtual bool question(const QString& text, const QString& title) = 0;
    // The modal window of a rehearsed load's findings.
    virtual void preview(const PreviewReport& report) = 0;
};

class Button {
public:
    virtual ~Button() = default;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool isEnabled() const = 0;
    virtual void setFocus() = 0;
};

// Every control of the main window that the procedures touch, by its name in the window.
// The window fills it with its widget versions; tests and tools with memory versions.
struct FormControls {
    TextBox* Caption = nullptr; // the window's caption
    TextBox* Text_PathToDB = nullptr;
    TextBox* Text_FileName = nullptr;
    TextBox* Text_Rules = nullptr;
    TextBox* Text_StrNumWithCapt = nullptr;
    TextBox* Text_StrNumMAX = nullptr;
    TextBox* Text_DBRecordCount = nullptr;
    TextBox* Text_DBRecordCountNew = nullptr;
    ListView* lv_Fields = nullptr;
    ListView* lv = nullptr;
    ListView* lv_DB = nullptr;
    ProgressBar* pb = nullptr;
    Button* Command_SelectFile = nullptr;
    Button* Command_SetPathToDB = nullptr;
    Button* Command_Analize = nullptr;
    Button* Command_Update = nullptr;
    Button* Command_Preview = nullptr; // enabled with Command_Update
    Button* Command_Undo = nullptr;
    Pointer* pointer = nullptr;
    Dialogs* dialogs = nullptr;
};

} // namespace kalder
