// The interfaces through which the work procedures drive the window: list views, the
// progress bar, text boxes, the application-wide pointer and the dialogs. QtCore only, so
// that the analysis and the load run in tests without a display. The window implements
// them over Qt widgets; memory versions live beside them for tools and tests.
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
    virtual void add(int index, const QString& text) = 0;   // rows from index on move down
    virtual void remove(int index) = 0;                      // rows after it move up
    virtual QString text(int index) const = 0;
    virtual void setText(int index, const QString& text) = 0;
    virtual QString subItem(int index, int k) const = 0;
    virtual void setSubItem(int index, int k, const QString& text) = 0;
    virtual int selectedIndex() const = 0;                   // 0: nothing selected
    virtual void select(int index) = 0;                      // one row at most is selected
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
    QStringList filters;        // "description (pattern)" entries, in the given order
    QStringList patterns;       // the pattern of each entry, e.g. "*.xls" or "*.*"
    int filterIndex = 1;        // 1-based entry shown first
    QString initialFolder;
    QString defaultExtension;   // without the leading dot
    QString fileName;           // shown at first
    bool open = true;           // false: the save dialog
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

// Memory versions of the controls: for the tools beside the window and for tests.
class MemoryListView : public ListView {
public:
    void addColumn(const QString& text, int widthTwips) override;
    void setReportView() override { m_reportView = true; }
    int count() const override { return int(m_rows.size()); }
    void clear() override;
    void add(int index, const QString& text) override;
    void remove(int index) override;
    QString text(int index) const override;
    void setText(int index, const QString& text) override;
    QString subItem(int index, int k) const override;
    void setSubItem(int index, int k, const QString& text) override;
    int selectedIndex() const override { return m_selected; }
    void select(int index) override;
    void ensureVisible(int index) override;

    QStringList columns() const { return m_columns; }
    QList<int> columnWidths() const { return m_widths; }
    bool reportView() const { return m_reportView; }
    int visibleIndex() const { return m_visible; }

private:
    void check(int index) const;
    QList<QStringList> m_rows;
    QStringList m_columns;
    QList<int> m_widths;
    int m_selected = 0;
    int m_visible = 0;
    bool m_reportView = false;
};

class MemoryProgressBar : public ProgressBar {
public:
    float min() const override { return m_min; }
    float max() const override { return m_max; }
    float value() const override { return m_value; }
    void setMin(float v) override;
    void setMax(float v) override;
    void setValue(float v) override;
    float highest() const { return m_highest; }   // the highest value ever shown

private:
    float m_min = 0, m_max = 100, m_value = 0, m_highest = 0;
};

class MemoryTextBox : public TextBox {
public:
    explicit MemoryTextBox(QString text = {}) : m_text(std::move(text)) {}
    QString text() const override { return m_text; }
    void setText(const QString& text) override { m_text = text; }
    void setFocus() override { m_focused = true; }
    void select(int start, int length) override { m_selStart = start; m_selLength = length; }
    bool focused() const { return m_focused; }
    int selStart() const { return m_selStart; }
    int selLength() const { return m_selLength; }

private:
    QString m_text;
    bool m_focused = false;
    int m_selStart = 0, m_selLength = 0;
};

class MemoryPointer : public Pointer {
public:
    void set(Shape shape) override { m_shape = shape; if (shape == Hourglass) m_wasBusy = true; }
    Shape shape() const override { return m_shape; }
    bool wasBusy() const { return m_wasBusy; }

private:
    Shape m_shape = Default;
    bool m_wasBusy = false;
};

} // namespace kalder

namespace kalder {

class Button {
public:
    virtual ~Button() = default;
    virtual void setEnabled(bool enabled) = 0;
    virtual bool isEnabled() const = 0;
    virtual void setFocus() = 0;
};

class MemoryButton : public Button {
public:
    void setEnabled(bool enabled) override { m_enabled = enabled; }
    bool isEnabled() const override { return m_enabled; }
    void setFocus() override { m_focused = true; }
    bool focused() const { return m_focused; }

private:
    bool m_enabled = true;
    bool m_focused = false;
};

// Every control of the main window that the procedures touch, by its name in the window.
// The window fills it with its widget versions; tests and tools with memory versions.
struct FormControls {
    TextBox* Caption = nullptr;   // the window's caption
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
    Button* Command_Preview = nullptr;   // enabled with Command_Update
    Button* Command_Undo = nullptr;
    Pointer* pointer = nullptr;
    Dialogs* dialogs = nullptr;
};

} // namespace kalder
