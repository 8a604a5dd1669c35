// The window over Qt widgets, offscreen: the widget list view and progress bar, every control
// against the design table, tab order, closing, the keyboard way of the drags, the file
// dialog leaving nothing on disk, and a picture of the window under the build folder.
#include "app/base/failure.h"
#include "app/base/version.h"
#include "tests/window/window_support.h"
#include "window/form_logic.h"
#include "window/frm_main.h"
#include "window/toolkit.h"
#include "window/widget_controls.h"

#include <QApplication>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QtTest>

using namespace kalder;
using namespace kalder::test;

namespace {

const QStringList DemoDb{
    QStringLiteral("create table tblSettings (LastFileName text, StrNumWithCapt integer, StrNumMAX integer)"),
    QStringLiteral("insert into tblSettings values ('/home/operator/in/prices.xls', 2, 5000)"),
    QStringLiteral("create table tblData (Code text, Name text, MinPrice real, MaxPrice real)"),
    QStringLiteral("insert into tblData values ('A-1', 'bolt', 1.5, 2.5)")};

QRect twips(int l, int t, int w, int h) { return {l / 15, t / 15, w / 15, h / 15}; }

QString captionOf(QWidget* w)
{
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* b = qobject_cast<QPushButton*>(w))
        return b->text();
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return e->text();
    if (auto* g = qobject_cast<QGroupBox*>(w))
        return g->title();
    return QString();
}

} // namespace

class TstFrmMain : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void listViewOps();
    void listViewRefuses_data();
    void listViewRefuses();
    void progressBar_data();
    void progressBar();
    void controls_data();
    void controls();
    void colours();
    void tabOrderAndFocus();
    void loadWithDatabase();
    void closing_data();
    void closing();
    void keyboardLinks();
    void mouseDoubleClickRemoves();
    void dropsAccepted_data();
    void dropsAccepted();
    void fixedCentredWindow();
    void listTooltips_data();
    void listTooltips();
    void idleBarIsNoTextBox();
    void fileFilters_data();
    void fileFilters();
    void fileDialogKeepsNothing();
    void screenshot_data();
    void screenshot();

private:
    QTemporaryDir m_config;
};

void TstFrmMain::initTestCase()
{
    // Qt's own settings would land here if anything wrote them.
    QVERIFY(m_config.isValid());
    homeIn(m_config.path());
}

void TstFrmMain::listViewOps()
{
    ListTreeWidget tree;
    WidgetListView list(&tree);
    list.addColumn(QStringLiteral("a"), 1500);
    list.addColumn(QStringLiteral("b"), 510);
    list.setReportView();
    QCOMPARE(tree.columnCount(), 2);
    QCOMPARE(tree.header()->sectionSize(0), 100);
    QCOMPARE(tree.headerItem()->text(1), QStringLiteral("b"));

    list.add(1, QStringLiteral("y"));
    list.add(1, QStringLiteral("x")); // at the top: y moves down
    list.add(3, QStringLiteral("z")); // count + 1: the end
    list.setSubItem(2, 1, QStringLiteral("y1"));
    list.setSubItem(2, 4, QStringLiteral("y4")); // beyond the columns: kept all the same
    QCOMPARE(rowsOf(list, 2), (QStringList{"x|", "y|y1", "z|"}));
    QCOMPARE(list.subItem(2, 4), QStringLiteral("y4"));
    QCOMPARE(list.subItem(1, 3), QString());

    QCOMPARE(list.selectedIndex(), 0);
    list.select(1);
    list.select(3); // one row at most
    QCOMPARE(list.selectedIndex(), 3);
    QCOMPARE(tree.selectedItems().size(), 1);
    list.remove(1); // rows after it move up, with the selection
    QCOMPARE(list.selectedIndex(), 2);
    list.remove(2); // the selected row: nothing selected afterwards
    QCOMPARE(list.selectedIndex(), 0);
    QCOMPARE(rowsOf(list, 2), QStringList{"y|y1"});
    list.setText(1, QStringLiteral("w"));
    list.ensureVisible(1);
    QCOMPARE(list.text(1), QStringLiteral("w"));
    list.clear();
    QCOMPARE(list.count(), 0);
    QCOMPARE(list.selectedIndex(), 0);
    QCOMPARE(tree.columnCount(), 2); // clearing keeps the columns
}

void TstFrmMain::listViewRefuses_data()
{
    QTest::addColumn<QString>("op");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("k");
    QTest::newRow("add at 0") << "add" << 0 << 0;
    QTest::newRow("add beyond count + 1") << "add" << 4 << 0;
    QTest::newRow("remove 0") << "remove" << 0 << 0;
    QTest::newRow("remove beyond count") << "remove" << 3 << 0;
    QTest::newRow("text beyond count") << "text" << 3 << 0;
    QTest::newRow("select 0") << "select" << 0 << 0;
    QTest::newRow("sub-item 0") << "subItem" << 1 << 0;
    QTest::newRow("sub-item of no row") << "subItem" << 3 << 1;
    QTest::newRow("ensure visible of no row") << "ensureVisible" << -1 << 0;
}

void TstFrmMain::listViewRefuses()
{
    QFETCH(QString, op);
    QFETCH(int, index);
    QFETCH(int, k);
    ListTreeWidget tree;
    WidgetListView list(&tree);
    list.add(1, QStringLiteral("a"));
    list.add(2, QStringLiteral("b"));
    const auto f = failureOf([&] {
        if (op == "add")
            list.add(index, QStringLiteral("n"));
        else if (op == "remove")
            list.remove(index);
        else if (op == "text")
            (void)list.text(index);
        else if (op == "select")
            list.select(index);
        else if (op == "subItem")
            (void)list.subItem(index, k);
        else
            list.ensureVisible(index);
    });
    QVERIFY(f);
    QCOMPARE(f->number(), err::InvalidProperty);
    QCOMPARE(rowsOf(list, 1), (QStringList{"a", "b"}));
}

void TstFrmMain::progressBar_data()
{
    QTest::addColumn<float>("max");
    QTest::addColumn<float>("value");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<int>("shown"); // the bar's step, of 10000
    QTest::newRow("middle") << 256.0f << 128.0f << false << 5000;
    QTest::newRow("at max") << 256.0f << 256.0f << false << 10000;
    QTest::newRow("fraction of a row") << 3.0f << 1.0f << false << 3333;
    QTest::newRow("beyond max") << 256.0f << 257.0f << true << 2500;
    QTest::newRow("below min") << 256.0f << -1.0f << true << 2500;
    QTest::newRow("not a number") << 256.0f << std::numeric_limits<float>::quiet_NaN() << true << 2500;
}

void TstFrmMain::progressBar()
{
    QFETCH(float, max);
    QFETCH(float, value);
    QFETCH(bool, refused);
    QFETCH(int, shown);
    QProgressBar bar;
    WidgetProgressBar pb(&bar);
    pb.setMin(0);
    pb.setMax(max);
    pb.setValue(max / 4);
    const auto f = failureOf([&] { pb.setValue(value); });
    QCOMPARE(bool(f), refused);
    if (f)
        QCOMPARE(f->number(), err::InvalidProperty);
    QCOMPARE(pb.value(), refused ? max / 4 : value);
    QCOMPARE(bar.value(), shown);
}

void TstFrmMain::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("family");
    QTest::addColumn<qreal>("points");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<QString>("parent");

    const QString tahoma = QStringLiteral("Tahoma"), times = QStringLiteral("Times New Roman CYR");
    const QString frame = QStringLiteral("Frame_Issuer"), form = QStringLiteral("frmMain");
    auto row = [&](const char* name, QRect at, const QString& caption, const QString& family, qreal points, bool bold,
                   const QString& parent) {
        QTest::newRow(name) << QString::fromLatin1(name) << at << caption << family << points << bold << parent;
    };
    row("Frame_Issuer", twips(45, 0, 11130, 1365), "", "MS Sans Serif", 8.25, true, form);
    row("Label11", twips(90, 225, 780, 195), "Путь к БД", tahoma, 8.25, false, frame);
    row("Text_PathToDB", twips(135, 450, 10545, 240), "", tahoma, 8.25, false, frame);
    row("Command_SetPathToDB", twips(10710, 450, 330, 240), "...", tahoma, 8.25, false, frame);
    row("Label3", twips(90, 765, 1740, 195), "Выберите эксель файл", tahoma, 8.25, false, frame);
    row("Text_FileName", twips(135, 990, 10545, 240), "", tahoma, 8.25, false, frame);
    row("Command_SelectFile", twips(10710, 990, 330, 240), "...", tahoma, 8.25, false, frame);
    row("Label1", twips(45, 1485, 1815, 195), "Поля во входном файле", tahoma, 8.25, false, form);
    row("lv_Fields", twips(45, 1710, 3525, 4920), "", times, 9, false, form);
    row("lv", twips(3600, 1710, 5010, 2715), "", times, 9, false, form);
    row("lv_DB", twips(8640, 1710, 2535, 2715), "", times, 9, false, form);
    row("Text_Rules", twips(3600, 4500, 5010, 2130), "", "Courier New", 8.25, false, form);
    row("Label8", twips(90, 6795, 2580, 195), "№ строки с заголовками", tahoma, 8.25, false, form);
    row("Text_StrNumWithCapt", twips(2700, 6750, 915, 285), "0", tahoma, 8.25, false, form);
    // МАХ in Cyrillic letters: М А Х
    row("Label9", twips(90, 7155, 2580, 195), "\u041C\u0410\u0425 № обрабатываемой строки", tahoma, 8.25, false, form);
    row("Text_StrNumMAX", twips(2700, 7110, 915, 285), "100", tahoma, 8.25, false, form);
    row("Label4", twips(5085, 6840, 2580, 195), "кол-во записей в БД", tahoma, 8.25, false, form);
    row("Text_DBRecordCount", twips(7695, 6795, 915, 285), "0", tahoma, 8.25, false, form);
    row("Label5", twips(5085, 7200, 2580, 195), "добавлено новых записей в БД", tahoma, 8.25, false, form);
    row("Text_DBRecordCountNew", twips(7695, 7155, 915, 285), "0", tahoma, 8.25, false, form);
    row("pb", twips(45, 7470, 3570, 375), "", tahoma, 8.25, false, form);
    row("Command_Analize", twips(945, 7920, 2670, 420), "Анализ входного файла", tahoma, 8.25, false, form);
    row("Command_Update", twips(3690, 7920, 4920, 420), "Загрузить данные в таблицу", tahoma, 8.25, false, form);
    row("Command_Exit", twips(8685, 7920, 2535, 420), "Закрыть", tahoma, 8.25, false, form);
    row("Command_Preview", twips(8640, 4500, 2580, 420), "Проверить без записи", tahoma, 8.25, false, form);
    row("Command_Undo", twips(8640, 5010, 2580, 420), "Отменить последнюю загрузку", tahoma, 8.25, false, form);
}

void TstFrmMain::controls()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, caption);
    QFETCH(QString, family);
    QFETCH(qreal, points);
    QFETCH(bool, bold);
    QFETCH(QString, parent);

    AppState state;
    RecordingDialogs dialogs;
    FrmMain w(state, &dialogs);
    QCOMPARE(w.size(), QSize(748, 560));
    QCOMPARE(w.windowTitle(), DesignCaption);
    QVERIFY(!w.windowIcon().isNull());
    QCOMPARE(w.windowIcon().availableSizes().value(0), QSize(16, 16));

    auto* c = w.findChild<QWidget*>(name);
    QVERIFY(c);
    QCOMPARE(c->parentWidget()->objectName(), parent);
    QCOMPARE(c->geometry(), geometry);
    QCOMPARE(captionOf(c), caption);
    QCOMPARE(c->font().family(), family);
    QCOMPARE(c->font().pointSizeF(), points);
    QCOMPARE(c->font().bold(), bold);
    // Tahoma is the font made to its metrics; the other named families are replaced by
    // installed ones that have Cyrillic letters.
    const QFontInfo shown(c->font());
    if (family == WindowFamily)
        QCOMPARE(shown.family(), WindowFamily);
    else
        QVERIFY2(shown.family().startsWith(QStringLiteral("Liberation")) ||
                     shown.family().startsWith(QStringLiteral("DejaVu")),
                 qPrintable(shown.family()));
    QVERIFY(QFontMetrics(c->font()).inFont(QChar(u'Ж')));
}

void TstFrmMain::colours()
{
    AppState state;
    RecordingDialogs dialogs;
    FrmMain w(state, &dialogs);
    const QColor title = w.palette().color(QPalette::Active, QPalette::Highlight);
    for (QLabel* l : {w.Label11, w.Label3, w.Label1, w.Label8, w.Label9, w.Label4, w.Label5})
        QCOMPARE(l->palette().color(QPalette::WindowText), title);
    QCOMPARE(w.Text_PathToDB->palette().color(QPalette::Text), title);
    QCOMPARE(w.Text_FileName->palette().color(QPalette::Text), title);
    QCOMPARE(w.Text_Rules->palette().color(QPalette::Text), title);
    QCOMPARE(w.Text_Rules->palette().color(QPalette::Base), w.palette().color(QPalette::ToolTipBase));
    QVERIFY(!w.Text_StrNumMAX->isReadOnly());
    QVERIFY(!w.Text_StrNumWithCapt->isReadOnly());
}

void TstFrmMain::tabOrderAndFocus()
{
    AppState state;
    RecordingDialogs dialogs;
    FrmMain w(state, &dialogs);
    const QStringList order{"Command_Exit",
                            "Frame_Issuer",
                            "Command_SelectFile",
                            "Text_FileName",
                            "Label3",
                            "lv_Fields",
                            "Label1",
                            "Command_Analize",
                            "pb",
                            "Command_Update",
                            "Command_Preview",
                            "Command_Undo",
                            "Text_StrNumWithCapt",
                            "Text_StrNumMAX",
                            "Label8",
                            "Label9",
                            "Command_SetPathToDB",
                            "Text_PathToDB",
                            "Label11",
                            "lv",
                            "lv_DB",
                            "Text_DBRecordCount",
                            "Label4",
                            "Text_DBRecordCountNew",
                            "Label5",
                            "Text_Rules"};
    QStringList chain;
    QWidget* at = w.Command_Exit;
    do {
        if (order.contains(at->objectName()) && !chain.contains(at->objectName()))
            chain.append(at->objectName());
        at = at->nextInFocusChain();
    } while (at != w.Command_Exit);
    // Labels, the frame and the bar take no focus; the others must follow the design order.
    QStringList focusable;
    for (const QString& n : order)
        if (w.findChild<QWidget*>(n)->focusPolicy() != Qt::NoFocus)
            focusable.append(n);
    chain.removeIf([&](const QString& n) { return !focusable.contains(n); });
    QCOMPARE(chain, focusable);

    w.show();
    QApplication::setActiveWindow(&w);
    QCOMPARE(w.focusWidget(), static_cast<QWidget*>(w.Command_Exit));
}

void TstFrmMain::loadWithDatabase()
{
    QTemporaryDir dir;
    AppState state;
    openSession(state, makeDatabase(dir.filePath(QStringLiteral("demo.db")), DemoDb));
    RecordingDialogs dialogs;
    FrmMain w(state, &dialogs);
    w.load();
    w.load(); // once only
    QCOMPARE(w.windowTitle(), DesignCaption + QStringLiteral(" (версия %1.%2.%3)")
                                                  .arg(KALDER_VERSION_MAJOR)
                                                  .arg(KALDER_VERSION_MINOR)
                                                  .arg(KALDER_VERSION_REVISION));
    QCOMPARE(w.Text_FileName->text(), QStringLiteral("/home/operator/in/prices.xls"));
    QCOMPARE(w.Text_StrNumWithCapt->text(), QStringLiteral("2"));
    QCOMPARE(w.Text_StrNumMAX->text(), QStringLiteral("5000"));
    QCOMPARE(w.Text_DBRecordCount->text(), QStringLiteral("1"));
    QCOMPARE(w.Text_Rules->toPlainText(), QString(RulesLegend).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    QCOMPARE(w.controls().Text_Rules->text(), RulesLegend);
    QCOMPARE(rowsOf(*w.controls().lv_DB, 2), (QStringList{"Code|1", "Name|2", "MinPrice|3", "MaxPrice|4"}));
    QCOMPARE(w.lv->columnCount(), 5);
    QCOMPARE(w.lv->headerItem()->text(3), QStringLiteral("Поле в БД"));
    QCOMPARE(w.lv->header()->sectionSize(3), 1450 / 15);
    QVERIFY(w.Command_Analize->isEnabled() && w.Command_Update->isEnabled());
    QVERIFY(dialogs.shown.isEmpty());
}

void TstFrmMain::closing_data()
{
    QTest::addColumn<bool>("database");
    QTest::addColumn<bool>("byButton");
    QTest::newRow("close box, database open") << true << false;
    QTest::newRow("Command_Exit, database open") << true << true;
    QTest::newRow("close box, never a connection") << false << false;
    QTest::newRow("Command_Exit, never a connection") << false << true;
}

void TstFrmMain::closing()
{
    QFETCH(bool, database);
    QFETCH(bool, byButton);
    QTemporaryDir dir;
    AppState state;
    if (database)
        openSession(state, makeDatabase(dir.filePath(QStringLiteral("demo.db")), DemoDb));
    RecordingDialogs dialogs;
    FrmMain w(state, &dialogs);
    w.load();
    w.show();
    if (byButton)
        QTest::mouseClick(w.Command_Exit, Qt::LeftButton);
    else
        QVERIFY(w.close());
    QVERIFY(!w.isVisible());
    if (database)
        QVERIFY(!state.DBConnection->isOpen());
    QVERIFY(dialogs.shown.isEmpty());
}

void TstFrmMain::keyboardLinks()
{
    AppState state;
    RecordingDialogs dialogs;
    FrmMain w(state, &dialogs);
    w.load();
    FormControls& ui = w.controls();
    for (int i = 1; i <= 3; ++i) {
        ui.lv_Fields->add(i, QStringLiteral("Поле%1").arg(i));
        ui.lv_Fields->setSubItem(i, 1, QString::number(i));
    }
    ui.lv_DB->add(1, QStringLiteral("Code"));
    ui.lv_DB->setSubItem(1, 1, QStringLiteral("1"));

    // Enter on a row of lv_Fields: a finished drag of that row.
    w.lv_Fields->setCurrentItem(w.lv_Fields->topLevelItem(1));
    dialogs.answers = {QStringLiteral("1")};
    QTest::keyClick(w.lv_Fields, Qt::Key_Return);
    QCoreApplication::processEvents();
    QCOMPARE(ui.lv_Fields->selectedIndex(), 2);
    QCOMPARE(rowsOf(*ui.lv, 5), QStringList{"1|2|Поле2||"});

    w.lv_DB->setCurrentItem(w.lv_DB->topLevelItem(0));
    QTest::keyClick(w.lv_DB, Qt::Key_Enter);
    QCoreApplication::processEvents();
    QCOMPARE(rowsOf(*ui.lv, 5), QStringList{"1|2|Поле2|Code|1"});

    // Delete on a row of lv: its double click.
    w.lv->setCurrentItem(w.lv->topLevelItem(0));
    QTest::keyClick(w.lv, Qt::Key_Delete);
    QCOMPARE(ui.lv->count(), 0);
    QVERIFY(dialogs.shown.isEmpty());
}

void TstFrmMain::mouseDoubleClickRemoves()
{
    AppState state;
    RecordingDialogs dialogs;
    FrmMain w(state, &dialogs);
    w.load();
    w.show();
    FormControls& ui = w.controls();
    for (int i = 1; i <= 3; ++i)
        ui.lv->add(i, QStringLiteral("r%1").arg(i));
    const QRect second = w.lv->visualItemRect(w.lv->topLevelItem(1));
    QTest::mouseDClick(w.lv->viewport(), Qt::LeftButton, {}, second.center());
    QCOMPARE(rowsOf(*ui.lv, 1), (QStringList{"r1", "r3"}));
}

void TstFrmMain::dropsAccepted_data()
{
    QTest::addColumn<bool>("target"); // the list is a drop target
    QTest::addColumn<bool>("listRow"); // what is dragged is a row of a list, not plain text
    QTest::addColumn<bool>("accepted");
    QTest::newRow("a row over a target") << true << true << true;
    QTest::newRow("plain text over a target") << true << false << false;
    QTest::newRow("a row over a list that takes none") << false << true << false;
}

// Entering a list, moving over it and dropping on it answer alike: a drop target takes the
// rows of the lists and nothing else, and a list that is no target takes nothing.
void TstFrmMain::dropsAccepted()
{
    QFETCH(bool, target);
    QFETCH(bool, listRow);
    QFETCH(bool, accepted);
    ListTreeWidget tree;
    tree.setDropTarget(target);
    tree.resize(200, 100);
    QMimeData mime;
    mime.setText(QStringLiteral("Поле1"));
    if (listRow)
        mime.setData(QString::fromLatin1(ListTreeWidget::mimeType()), QByteArrayLiteral("Поле1"));
    const QPoint at(10, 10);
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
    QDragMoveEvent move(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
    for (QDropEvent* event : {static_cast<QDropEvent*>(&enter), static_cast<QDropEvent*>(&move), &drop}) {
        QCoreApplication::sendEvent(tree.viewport(), event);
        QVERIFY2(event->isAccepted() == accepted, qPrintable(QString::number(int(event->type()))));
    }
}

void TstFrmMain::fixedCentredWindow()
{
    AppState state;
    RecordingDialogs dialogs;
    FrmMain w(state, &dialogs);
    const Qt::WindowFlags flags = w.windowFlags();
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(flags & Qt::WindowMinimizeButtonHint);
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(flags & Qt::WindowTitleHint);
    QCOMPARE(w.minimumSize(), w.maximumSize());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QPoint offCentre = w.frameGeometry().center() - w.screen()->availableGeometry().center();
    QVERIFY2(offCentre.manhattanLength() <= 1,
             qPrintable(QStringLiteral("%1, %2").arg(offCentre.x()).arg(offCentre.y())));
}

void TstFrmMain::listTooltips_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("key"); // the keyboard way, as keyboardLinks presses it
    QTest::newRow("workbook fields") << "lv_Fields"
                                     << "Enter";
    QTest::newRow("links") << "lv"
                           << "Delete";
    QTest::newRow("database fields") << "lv_DB"
                                     << "Enter";
}

void TstFrmMain::listTooltips()
{
    QFETCH(QString, name);
    QFETCH(QString, key);
    AppState state;
    RecordingDialogs dialogs;
    FrmMain w(state, &dialogs);
    const QString tip = w.findChild<QWidget*>(name)->toolTip();
    QVERIFY2(tip.contains(QStringLiteral("еретащите")), qPrintable(tip));
    QVERIFY2(tip.contains(key), qPrintable(tip));
}

void TstFrmMain::idleBarIsNoTextBox()
{
    AppState state;
    RecordingDialogs dialogs;
    FrmMain w(state, &dialogs);
    w.load();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QImage shot = w.grab().toImage();
    // Inside the idle bar, and inside an empty stretch of a text box of the same window.
    const QColor bar = shot.pixelColor(w.pb->geometry().center());
    const QRect box = w.Text_DBRecordCountNew->geometry();
    const QColor text = shot.pixelColor(box.right() - 4, box.center().y());
    QVERIFY2(bar != text, qPrintable(bar.name()));
    QCOMPARE(w.pb->value(), 0);
}

void TstFrmMain::fileFilters_data()
{
    QTest::addColumn<QStringList>("filters");
    QTest::addColumn<QStringList>("patterns");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("workbook choice") << QStringList{"Выберите файл (*.xls)", "All Files (*.*)"}
                                     << QStringList{"*.xls", "*.*"}
                                     << QStringList{"Выберите файл (*.xls)", "All Files (*)"};
    QTest::newRow("pattern not in the description")
        << QStringList{"Базы"} << QStringList{"*.mdb"} << QStringList{"Базы (*.mdb)"};
    QTest::newRow("patterns separated by semicolons")
        << QStringList{"Выберите файл (*.db;*.sqlite;*.sqlite3;*.db3)", "All Files (*.*)"}
        << QStringList{"*.db;*.sqlite;*.sqlite3;*.db3", "*.*"}
        << QStringList{"Выберите файл (*.db *.sqlite *.sqlite3 *.db3)", "All Files (*)"};
    QTest::newRow("every file among other patterns, blanks and an empty part")
        << QStringList{"Все"} << QStringList{" *.xls ;;*.*"} << QStringList{"Все (*.xls *)"};
    QTest::newRow("no pattern") << QStringList{"Любой"} << QStringList{""} << QStringList{"Любой"};
}

void TstFrmMain::fileFilters()
{
    QFETCH(QStringList, filters);
    QFETCH(QStringList, patterns);
    QFETCH(QStringList, expected);
    FileDialogRequest r;
    r.filters = filters;
    r.patterns = patterns;
    QCOMPARE(QtDialogs::qtFilters(r), expected);
}

void TstFrmMain::fileDialogKeepsNothing()
{
    QTemporaryDir folder;
    QFile book(folder.filePath(QStringLiteral("book.xls")));
    QVERIFY(book.open(QIODevice::WriteOnly));
    book.close();

    QtDialogs dialogs;
    FileDialogRequest r;
    r.title = QStringLiteral("Выбор файла");
    r.filters = {QStringLiteral("Выберите файл (*.xls)"), QStringLiteral("All Files (*.*)")};
    r.patterns = {QStringLiteral("*.xls"), QStringLiteral("*.*")};
    r.initialFolder = folder.path();
    r.defaultExtension = QStringLiteral(".xls");
    QString seenTitle, seenFilter, seenFolder;
    for (const bool accept : {false, true}) {
        QTimer::singleShot(0, [&] {
            auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!d)
                return;
            seenTitle = d->windowTitle();
            seenFilter = d->selectedNameFilter();
            seenFolder = d->directory().absolutePath();
            if (accept) {
                d->selectFile(QStringLiteral("book.xls"));
                QMetaObject::invokeMethod(d, "accept");
            } else {
                d->reject();
            }
        });
        const QString chosen = dialogs.fileName(r);
        QCOMPARE(chosen, accept ? QDir(folder.path()).absoluteFilePath(QStringLiteral("book.xls")) : QString());
    }
    QCOMPARE(seenTitle, r.title);
    QCOMPARE(seenFilter, QStringLiteral("Выберите файл (*.xls)"));
    QCOMPARE(seenFolder, QDir(folder.path()).absolutePath());

    const QStringList left = QDir(m_config.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    QVERIFY2(left.isEmpty(), qPrintable(left.join(u',')));
    QVERIFY(!QFile::exists(QDir::homePath() + QStringLiteral("/.config/QtProject.conf")) ||
            QDir::homePath() == m_config.path());
}

void TstFrmMain::screenshot_data()
{
    QTest::addColumn<bool>("database");
    QTest::addColumn<QString>("file");
    QTest::newRow("demo database") << true << "frmMain.png";
    QTest::newRow("no database") << false << "frmMain-nodb.png";
}

void TstFrmMain::screenshot()
{
    QFETCH(bool, database);
    QFETCH(QString, file);
    QTemporaryDir dir;
    AppState state;
    if (database)
        openSession(state, makeDatabase(dir.filePath(QStringLiteral("demo.db")), DemoDb));
    RecordingDialogs dialogs;
    FrmMain w(state, &dialogs);
    w.load();
    if (database) {
        FormControls& ui = w.controls();
        ui.Text_PathToDB->setText(state.PathToDB);
        const QStringList headers{"Код", "Наименование", "Цена"};
        for (int i = 0; i < headers.size(); ++i) {
            ui.lv_Fields->add(i + 1, headers[i]);
            ui.lv_Fields->setSubItem(i + 1, 1, QString::number(i + 1));
        }
        ui.lv->add(1, QStringLiteral("1"));
        ui.lv->setSubItem(1, 1, QStringLiteral("1"));
        ui.lv->setSubItem(1, 2, QStringLiteral("Код"));
        ui.lv->setSubItem(1, 3, QStringLiteral("Code"));
        ui.lv->setSubItem(1, 4, QStringLiteral("1"));
        ui.pb->setMax(4);
        ui.pb->setValue(1);
    }
    w.show();
    const QString path = QStringLiteral(KALDER_BINARY "/") + file;
    QVERIFY(w.grab().save(path));
    qInfo("window picture: %s", qPrintable(path));
}

QTEST_MAIN(TstFrmMain)
#include "tst_frm_main.moc"
