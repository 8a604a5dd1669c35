// Memory versions of the controls, with the same refusals as the widgets: for the tools
// beside the window (kalder-load) and for tests, which run the work procedures without a
// display.
#pragma once

#include "window/controls/controls.h"

namespace kalder {

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
    float highest() const { return m_highest; } // the highest value ever shown

private:
    float m_min = 0, m_max = 100, m_value = 0, m_highest = 0;
};

class MemoryTextBox : public TextBox {
public:
    explicit MemoryTextBox(QString text = {}) : m_text(std::move(text)) { }
    QString text() const override { return m_text; }
    void setText(const QString& text) override { m_text = text; }
    void setFocus() override { m_focused = true; }
    void select(int start, int length) override
    {
        m_selStart = start;
        m_selLength = length;
    }
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
    void set(Shape shape) override
    {
        m_shape = shape;
        if (shape == Hourglass)
            m_wasBusy = true;
    }
    Shape shape() const override { return m_shape; }
    bool wasBusy() const { return m_wasBusy; }

private:
    Shape m_shape = Default;
    bool m_wasBusy = false;
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

// Every control of the main window in memory, wired into one FormControls, the messages going
// to dialogs: the window as the work procedures see it, for the command-line load and tests.
struct MemoryFormControls {
    MemoryTextBox Caption{QStringLiteral("Загрузка данных из excel в БД")}, Text_PathToDB, Text_FileName, Text_Rules,
        Text_StrNumWithCapt{QStringLiteral("0")}, Text_StrNumMAX{QStringLiteral("100")},
        Text_DBRecordCount{QStringLiteral("0")}, Text_DBRecordCountNew{QStringLiteral("0")};
    MemoryListView lv_Fields, lv, lv_DB;
    MemoryProgressBar pb;
    MemoryButton Command_SelectFile, Command_SetPathToDB, Command_Analize, Command_Update, Command_Preview,
        Command_Undo;
    MemoryPointer pointer;
    FormControls ui;

    explicit MemoryFormControls(Dialogs* dialogs)
    {
        ui.Caption = &Caption;
        ui.Text_PathToDB = &Text_PathToDB;
        ui.Text_FileName = &Text_FileName;
        ui.Text_Rules = &Text_Rules;
        ui.Text_StrNumWithCapt = &Text_StrNumWithCapt;
        ui.Text_StrNumMAX = &Text_StrNumMAX;
        ui.Text_DBRecordCount = &Text_DBRecordCount;
        ui.Text_DBRecordCountNew = &Text_DBRecordCountNew;
        ui.lv_Fields = &lv_Fields;
        ui.lv = &lv;
        ui.lv_DB = &lv_DB;
        ui.pb = &pb;
        ui.Command_SelectFile = &Command_SelectFile;
        ui.Command_SetPathToDB = &Command_SetPathToDB;
        ui.Command_Analize = &Command_Analize;
        ui.Command_Update = &Command_Update;
        ui.Command_Preview = &Command_Preview;
        ui.Command_Undo = &Command_Undo;
        ui.pointer = &pointer;
        ui.dialogs = dialogs;
    }
    MemoryFormControls(const MemoryFormControls&) = delete;
    MemoryFormControls& operator=(const MemoryFormControls&) = delete;
};

} // namespace kalder
