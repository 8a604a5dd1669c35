// Widget versions of the controls. The refusals match the memory versions, so the procedures
// meet the same failures in tests and in the window.
#include "window/widget_controls.h"

#include "app/base/failure_catalogue.h"
#include "window/preview_window.h"

#include <QApplication>
#include <QDir>
#include <QDrag>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRawFont>
#include <QSettings>
#include <QTextCursor>

#include <cmath>

namespace kalder {

namespace {
// The platform's texts use CR LF; Qt widgets show lines split at LF alone.
QString forDisplay(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}
} // namespace

// ---------------------------------------------------------------------------- list views

ListTreeWidget::ListTreeWidget(QWidget* parent) : QTreeWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setAllColumnsShowFocus(true);
    setDragDropMode(QAbstractItemView::NoDragDrop);
}

const char* ListTreeWidget::mimeType() { return "application/x-kalder-list-row"; }

void ListTreeWidget::setDragSource(bool on)
{
    m_dragSource = on;
    setDragEnabled(on);
}

void ListTreeWidget::setDropTarget(bool on)
{
    m_dropTarget = on;
    setAcceptDrops(on);
    viewport()->setAcceptDrops(on);
}

void ListTreeWidget::setDeleteActsAsDoubleClick(bool on) { m_deleteAsDoubleClick = on; }

void ListTreeWidget::finishDrag(QTreeWidgetItem* row)
{
    if (row) {
        setCurrentItem(row);
        row->setSelected(true);
    }
    QMetaObject::invokeMethod(this, &ListTreeWidget::dragCompleted, Qt::QueuedConnection);
}

void ListTreeWidget::startDrag(Qt::DropActions)
{
    QTreeWidgetItem* row = currentItem();
    if (!m_dragSource || !row)
        return;
    // The dragged row becomes the selected row before the drag runs: the end of the drag reads it.
    setCurrentItem(row);
    row->setSelected(true);
    auto* mime = new QMimeData;
    mime->setData(QString::fromLatin1(mimeType()), row->text(0).toUtf8());
    mime->setText(row->text(0));
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->exec(Qt::CopyAction); // dropped anywhere or cancelled: the end is the same
    finishDrag(row);
}

void ListTreeWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    QTreeWidget::mouseDoubleClickEvent(event);
    emit listDoubleClicked();
}

void ListTreeWidget::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if (m_dragSource && (key == Qt::Key_Return || key == Qt::Key_Enter) && currentItem()) {
        finishDrag(currentItem());
        event->accept();
        return;
    }
    if (m_deleteAsDoubleClick && key == Qt::Key_Delete && currentItem()) {
        currentItem()->setSelected(true);
        emit listDoubleClicked();
        event->accept();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}

// Entering, moving over and dropping on a list take the same answer: a drop target accepts
// the rows of the lists and nothing else. The list where the drag started does the work when
// the drag ends; the drop only accepts.
void ListTreeWidget::acceptListRow(QDropEvent* event) const
{
    if (m_dropTarget && event->mimeData()->hasFormat(QString::fromLatin1(mimeType())))
        event->acceptProposedAction();
    else
        event->ignore();
}

void ListTreeWidget::dragEnterEvent(QDragEnterEvent* event) { acceptListRow(event); }

void ListTreeWidget::dragMoveEvent(QDragMoveEvent* event) { acceptListRow(event); }

void ListTreeWidget::dropEvent(QDropEvent* event) { acceptListRow(event); }

// ---------------------------------------------------------------------------- caption label

QGlyphRun CaptionLabel::glyphRun() const
{
    const QRawFont raw = QRawFont::fromFont(font());
    if (!raw.isValid() || text().isEmpty())
        return {};
    const QList<quint32> glyphs = raw.glyphIndexesForString(text());
    if (glyphs.contains(0u))
        return {}; // a letter the font does not have: the toolkit finds it in another font
    const QList<QPointF> advances = raw.advancesForGlyphIndexes(glyphs, QRawFont::UseDesignMetrics);
    const QRect box = contentsRect();
    const QFontMetrics fm(font());
    const int baseline = box.top() + (box.height() - fm.height()) / 2 + fm.ascent();
    QList<QPointF> positions;
    qreal x = box.left();
    for (const QPointF& advance : advances) {
        positions.append(QPointF(x, baseline));
        x += std::round(advance.x());
    }
    QGlyphRun run;
    run.setRawFont(raw);
    run.setGlyphIndexes(glyphs);
    run.setPositions(positions);
    return run;
}

QRectF CaptionLabel::inkRect() const
{
    const QGlyphRun run = glyphRun();
    QRectF ink;
    for (qsizetype i = 0; i < run.glyphIndexes().size(); ++i)
        ink |= run.rawFont().boundingRect(run.glyphIndexes()[i]).translated(run.positions()[i]);
    return ink;
}

void CaptionLabel::paintEvent(QPaintEvent* event)
{
    const QGlyphRun run = glyphRun();
    if (run.glyphIndexes().isEmpty()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, foregroundRole()));
    painter.drawGlyphRun(QPointF(0, 0), run);
}

void WidgetListView::addColumn(const QString& text, int widthTwips)
{
    m_columns.append(text);
    m_tree->setColumnCount(int(m_columns.size()));
    m_tree->setHeaderLabels(m_columns);
    m_tree->header()->resizeSection(int(m_columns.size()) - 1, widthTwips / 15);
}

void WidgetListView::setReportView()
{
    m_tree->setHeaderHidden(false);
    m_tree->setRootIsDecorated(false);
    m_tree->setUniformRowHeights(true);
    m_tree->header()->setStretchLastSection(false);
}

int WidgetListView::count() const { return m_tree->topLevelItemCount(); }

void WidgetListView::clear() { m_tree->clear(); }

QTreeWidgetItem* WidgetListView::row(int index) const
{
    if (index < 1 || index > count())
        throw fail::listRowOutside(index, count());
    return m_tree->topLevelItem(index - 1);
}

void WidgetListView::add(int index, const QString& text)
{
    if (index < 1 || index > count() + 1)
        throw fail::listRowOutside(index, count());
    auto* item = new QTreeWidgetItem(QStringList{text});
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled);
    m_tree->insertTopLevelItem(index - 1, item);
}

void WidgetListView::remove(int index)
{
    QTreeWidgetItem* item = row(index);
    const bool wasSelected = item->isSelected();
    delete item;
    // The row that takes the removed one's place becomes current, but not selected.
    if (wasSelected)
        m_tree->clearSelection();
}

QString WidgetListView::text(int index) const { return row(index)->text(0); }

void WidgetListView::setText(int index, const QString& text) { row(index)->setText(0, text); }

QString WidgetListView::subItem(int index, int k) const
{
    QTreeWidgetItem* item = row(index);
    if (k < 1)
        throw fail::listColumnInvalid(k);
    return item->text(k);
}

void WidgetListView::setSubItem(int index, int k, const QString& text)
{
    QTreeWidgetItem* item = row(index);
    if (k < 1)
        throw fail::listColumnInvalid(k);
    item->setText(k, text);
}

int WidgetListView::selectedIndex() const
{
    const QList<QTreeWidgetItem*> selected = m_tree->selectedItems();
    return selected.isEmpty() ? 0 : m_tree->indexOfTopLevelItem(selected.first()) + 1;
}

void WidgetListView::select(int index)
{
    QTreeWidgetItem* item = row(index);
    m_tree->setCurrentItem(item);
    item->setSelected(true);
}

void WidgetListView::ensureVisible(int index) { m_tree->scrollToItem(row(index)); }

// ---------------------------------------------------------------------------- progress bar

namespace {
constexpr int BarSteps = 10000;
}

WidgetProgressBar::WidgetProgressBar(QProgressBar* bar) : m_bar(bar)
{
    m_bar->setRange(0, BarSteps);
    m_bar->setTextVisible(false);
    show();
}

void WidgetProgressBar::setMin(float v)
{
    if (v > m_max)
        throw fail::barMinimumAboveMaximum(v, m_max);
    m_min = v;
    if (m_value < v)
        m_value = v;
    show();
}

void WidgetProgressBar::setMax(float v)
{
    if (v < m_min)
        throw fail::barMaximumBelowMinimum(v, m_min);
    m_max = v;
    if (m_value > v)
        m_value = v;
    show();
}

void WidgetProgressBar::setValue(float v)
{
    if (!(v >= m_min && v <= m_max)) // also refuses NaN
        throw fail::barValueOutside(v, m_min, m_max);
    m_value = v;
    show();
}

void WidgetProgressBar::show()
{
    const double span = double(m_max) - double(m_min);
    const int step = span > 0 ? int(std::lround((double(m_value) - m_min) / span * BarSteps)) : 0;
    if (step == m_bar->value())
        return;
    m_bar->setValue(step);
    // Paint, but take no input: a click during a load would start a second operation on the
    // connection while the first one still runs.
    m_bar->repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

// ---------------------------------------------------------------------------- text boxes

QString LineTextBox::text() const { return m_edit->text(); }

void LineTextBox::setText(const QString& text) { m_edit->setText(text); }

void LineTextBox::setFocus() { m_edit->setFocus(Qt::OtherFocusReason); }

void LineTextBox::select(int start, int length) { m_edit->setSelection(start, length); }

QString PlainTextBox::text() const
{
    // The box is shown read-only; when it was typed into after all, its lines are what counts.
    const QString shown = m_edit->toPlainText();
    if (shown == forDisplay(m_text))
        return m_text;
    QString out = shown;
    out.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return out;
}

void PlainTextBox::setText(const QString& text)
{
    m_text = text;
    m_edit->setPlainText(forDisplay(text));
}

void PlainTextBox::setFocus() { m_edit->setFocus(Qt::OtherFocusReason); }

void PlainTextBox::select(int start, int length)
{
    QTextCursor cursor = m_edit->textCursor();
    cursor.setPosition(start);
    cursor.setPosition(start + length, QTextCursor::KeepAnchor);
    m_edit->setTextCursor(cursor);
}

QString CaptionTextBox::text() const { return m_window->windowTitle(); }

void CaptionTextBox::setText(const QString& text) { m_window->setWindowTitle(text); }

void CaptionTextBox::setFocus() { m_window->activateWindow(); }

// ---------------------------------------------------------------------------- buttons, pointer

void WidgetButton::setEnabled(bool enabled) { m_button->setEnabled(enabled); }

bool WidgetButton::isEnabled() const { return m_button->isEnabled(); }

void WidgetButton::setFocus() { m_button->setFocus(Qt::OtherFocusReason); }

ApplicationPointer::~ApplicationPointer()
{
    if (m_shape == Hourglass)
        QGuiApplication::restoreOverrideCursor();
}

void ApplicationPointer::set(Shape shape)
{
    if (shape == m_shape)
        return;
    if (shape == Hourglass)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QGuiApplication::restoreOverrideCursor();
    m_shape = shape;
}

// ---------------------------------------------------------------------------- dialogs

QtDialogs::QtDialogs(QWidget* parent) : m_parent(parent)
{
    // Qt's file dialog reads and writes its history, last folder and layout in the user-scope
    // settings "QtProject" whenever one is made and destroyed. The tool writes nothing but
    // settings.cfg and the database, and it keeps no settings of its own in QSettings, so the
    // user scope is pointed below /dev/null, where no folder and no file can ever be made.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("/dev/null"));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("/dev/null"));
}

void QtDialogs::message(const QString& text, const QString& title, Icon icon)
{
    QMessageBox box(icon == Icon::Information ? QMessageBox::Information : QMessageBox::Warning, title,
                    forDisplay(text), QMessageBox::Ok, m_parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

QString QtDialogs::input(const QString& prompt, const QString& title, const QString& initial)
{
    QInputDialog box(m_parent);
    box.setInputMode(QInputDialog::TextInput);
    box.setWindowTitle(title);
    box.setLabelText(forDisplay(prompt));
    box.setTextValue(initial);
    if (box.exec() != QDialog::Accepted)
        return QString();
    return box.textValue();
}

bool QtDialogs::question(const QString& text, const QString& title)
{
    QMessageBox box(QMessageBox::Question, title, forDisplay(text), QMessageBox::Yes | QMessageBox::No, m_parent);
    box.setTextFormat(Qt::PlainText);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Да"));
    box.button(QMessageBox::No)->setText(QStringLiteral("Нет"));
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

void QtDialogs::preview(const PreviewReport& report)
{
    PreviewWindow window(report, m_parent);
    window.exec();
}

QStringList QtDialogs::qtFilters(const FileDialogRequest& request)
{
    // Qt reads an entry's patterns from its last parentheses, separated by spaces; a request
    // separates them by ";", as the old dialog took them. On this platform "*.*" would hide
    // files without a dot, while it means every file, so it becomes "*".
    QStringList out;
    for (qsizetype i = 0; i < request.filters.size(); ++i) {
        QString entry = request.filters[i];
        const QString pattern = request.patterns.value(i);
        QStringList parts;
        for (const QString& part : pattern.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString p = part.trimmed();
            if (!p.isEmpty())
                parts.append(p == QStringLiteral("*.*") ? QStringLiteral("*") : p);
        }
        const QString shown = QStringLiteral("(") + pattern + QStringLiteral(")");
        if (!parts.isEmpty()) {
            if (entry.endsWith(shown))
                entry.chop(shown.size());
            entry = entry.trimmed() + QStringLiteral(" (") + parts.join(QLatin1Char(' ')) + QStringLiteral(")");
        }
        out.append(entry);
    }
    return out;
}

QString QtDialogs::fileName(const FileDialogRequest& request)
{
    QFileDialog dialog(m_parent, request.title);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(request.open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(request.open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwritePrompt);
    dialog.setHistory({});
    // Names only, as the system's open dialog first shows them: at the dialog's size the
    // detail view cuts size, type and date to a few letters each.
    dialog.setViewMode(QFileDialog::List);
    const QStringList filters = qtFilters(request);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        dialog.selectNameFilter(filters.value(qBound(1, request.filterIndex, int(filters.size())) - 1));
    }
    dialog.setDirectory(request.initialFolder.isEmpty() ? QDir::currentPath() : request.initialFolder);
    if (!request.defaultExtension.isEmpty())
        dialog.setDefaultSuffix(request.defaultExtension);
    if (!request.fileName.isEmpty())
        dialog.selectFile(request.fileName);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    const QStringList chosen = dialog.selectedFiles();
    return chosen.isEmpty() ? QString() : QDir::toNativeSeparators(chosen.first());
}

} // namespace kalder
