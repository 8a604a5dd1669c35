// The controls of window/controls/controls.h over Qt widgets: list views over QTreeWidget,
// the progress bar over QProgressBar, text boxes, buttons, the application-wide pointer and
// the Qt message box, input box and file dialog. Each wrapper only adapts; it owns no widget.
#pragma once

#include "window/controls/controls.h"

#include <QGlyphRun>
#include <QLabel>
#include <QTreeWidget>

class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QWidget;

namespace kalder {

// The tree widget behind a list view: rows only, one selected at most. A drag of a row first
// selects that row and, when the drag ends wherever it ends, reports dragCompleted. Enter on a
// row may stand for a finished drag and Delete for a double click, for operators without a mouse.
class ListTreeWidget : public QTreeWidget {
    Q_OBJECT
public:
    explicit ListTreeWidget(QWidget* parent = nullptr);

    void setDragSource(bool on); // rows can be dragged out; Enter acts as a finished drag
    void setDropTarget(bool on); // accepts the rows dragged out of the other lists
    void setDeleteActsAsDoubleClick(bool on);

    // What the end of a drag does: selects the row and reports dragCompleted (queued, so that
    // the dialogs it may open run outside the mouse handling).
    void finishDrag(QTreeWidgetItem* row);

    static const char* mimeType();

signals:
    void dragCompleted();
    void listDoubleClicked();

protected:
    void startDrag(Qt::DropActions supportedActions) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void acceptListRow(QDropEvent* event) const;

    bool m_dragSource = false;
    bool m_dropTarget = false;
    bool m_deleteAsDoubleClick = false;
};

// A label that draws its caption as the old platform did: each letter advanced by a whole
// number of pixels. The toolkit places letters at fractional positions, which makes a line up
// to a pixel wider than the same letters at whole pixels, enough to cut the last letter of a
// caption whose box was sized to fit it exactly. One line, left-aligned, centred vertically.
class CaptionLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;
    // The caption's glyphs at their places in the label; empty when the font lacks a letter of
    // it, and the label then draws as a plain one.
    QGlyphRun glyphRun() const;
    // What the caption's letters cover, in the label's coordinates.
    QRectF inkRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

class WidgetListView : public ListView {
public:
    explicit WidgetListView(QTreeWidget* tree) : m_tree(tree) { }
    void addColumn(const QString& text, int widthTwips) override;
    void setReportView() override;
    int count() const override;
    void clear() override;
    void add(int index, const QString& text) override;
    void remove(int index) override;
    QString text(int index) const override;
    void setText(int index, const QString& text) override;
    QString subItem(int index, int k) const override;
    void setSubItem(int index, int k, const QString& text) override;
    int selectedIndex() const override;
    void select(int index) override;
    void ensureVisible(int index) override;

private:
    QTreeWidgetItem* row(int index) const; // fails outside 1..count
    QTreeWidget* m_tree;
    QStringList m_columns;
};

// Single-precision Min/Max/Value over the integer bar: the bar shows the value as a share of
// its range, in steps fine enough for every range the procedures use.
class WidgetProgressBar : public ProgressBar {
public:
    explicit WidgetProgressBar(QProgressBar* bar);
    float min() const override { return m_min; }
    float max() const override { return m_max; }
    float value() const override { return m_value; }
    void setMin(float v) override;
    void setMax(float v) override;
    void setValue(float v) override;

private:
    void show();
    QProgressBar* m_bar;
    float m_min = 0, m_max = 100, m_value = 0;
};

class LineTextBox : public TextBox {
public:
    explicit LineTextBox(QLineEdit* edit) : m_edit(edit) { }
    QString text() const override;
    void setText(const QString& text) override;
    void setFocus() override;
    void select(int start, int length) override;

private:
    QLineEdit* m_edit;
};

// A box of several lines. The text keeps its CR LF line ends as set; the widget shows lines.
class PlainTextBox : public TextBox {
public:
    explicit PlainTextBox(QPlainTextEdit* edit) : m_edit(edit) { }
    QString text() const override;
    void setText(const QString& text) override;
    void setFocus() override;
    void select(int start, int length) override;

private:
    QPlainTextEdit* m_edit;
    QString m_text;
};

// The caption of a window as a text box.
class CaptionTextBox : public TextBox {
public:
    explicit CaptionTextBox(QWidget* window) : m_window(window) { }
    QString text() const override;
    void setText(const QString& text) override;
    void setFocus() override;
    void select(int, int) override { }

private:
    QWidget* m_window;
};

class WidgetButton : public Button {
public:
    explicit WidgetButton(QPushButton* button) : m_button(button) { }
    void setEnabled(bool enabled) override;
    bool isEnabled() const override;
    void setFocus() override;

private:
    QPushButton* m_button;
};

// The application's override cursor: the hourglass is Qt's wait cursor.
class ApplicationPointer : public Pointer {
public:
    ~ApplicationPointer() override;
    void set(Shape shape) override;
    Shape shape() const override { return m_shape; }

private:
    Shape m_shape = Default;
};

// The Qt dialogs. Nothing of them is kept on disk: Qt's file dialog would store its history
// and layout in the user's QtProject settings, so the user-scope settings are pointed at a
// place where nothing can be written.
class QtDialogs : public Dialogs {
public:
    explicit QtDialogs(QWidget* parent = nullptr);
    void message(const QString& text, const QString& title, Icon icon) override;
    QString input(const QString& prompt, const QString& title, const QString& initial) override;
    QString fileName(const FileDialogRequest& request) override;
    bool question(const QString& text, const QString& title) override;
    void preview(const PreviewReport& report) override;

    // The name filters the Qt dialog is given for a request: its patterns separated by spaces,
    // "*.*" as every file.
    static QStringList qtFilters(const FileDialogRequest& request);

private:
    QWidget* m_parent;
};

} // namespace kalder
