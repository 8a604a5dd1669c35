// The main window. Positions and sizes are the window's design in twips; 15 twips make one
// pixel at 96 dpi, and every measure of the design is a whole number of pixels.
#include "window/frm_main.h"

#include "window/commands.h"
#include "window/form_logic.h"
#include "window/toolkit.h"

#include <QCloseEvent>
#include <QFocusEvent>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>

namespace kalder {

namespace {

constexpr int TwipsPerPixel = 15;

QRect twips(int left, int top, int width, int height)
{
    return {left / TwipsPerPixel, top / TwipsPerPixel, width / TwipsPerPixel, height / TwipsPerPixel};
}

// Every property of the font is set, so that nothing is inherited from the parent: the
// controls in the frame keep the window font, not the frame's bold one.
QFont designFont(const QString& family, qreal points, bool bold = false)
{
    QFont f;
    f.setFamily(family);
    f.setPointSizeF(points);
    f.setWeight(bold ? QFont::Bold : QFont::Normal);
    f.setItalic(false);
    f.setUnderline(false);
    f.setStrikeOut(false);
    return f;
}

// The window's own icon: a sheet of rows with an arrow into a database drum, 16 x 16.
QIcon drawnIcon()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setPen(QColor(0, 0, 0));
    p.setBrush(QColor(255, 255, 255));
    p.drawRect(0, 1, 8, 11);
    p.setPen(QColor(0, 128, 0));
    for (int y = 4; y <= 10; y += 2)
        p.drawLine(2, y, 6, y);
    p.setPen(QColor(128, 0, 0));
    p.drawLine(8, 7, 11, 7);
    p.drawLine(10, 6, 10, 8);
    p.setPen(QColor(0, 0, 0));
    p.setBrush(QColor(0, 0, 128));
    p.drawRect(11, 5, 4, 9);
    p.setBrush(QColor(0, 0, 255));
    p.drawEllipse(11, 3, 4, 3);
    p.end();
    return QIcon(pixmap);
}

} // namespace

FrmMain::FrmMain(AppState& state, Dialogs* dialogs, QWidget* parent) : QWidget(parent), m_state(state)
{
    provideDesignFonts();
    if (!dialogs) {
        m_ownDialogs = std::make_unique<QtDialogs>(this);
        dialogs = m_ownDialogs.get();
    }
    buildControls();

    m_caption = std::make_unique<CaptionTextBox>(this);
    m_pathToDB = std::make_unique<LineTextBox>(Text_PathToDB);
    m_fileName = std::make_unique<LineTextBox>(Text_FileName);
    m_strNumWithCapt = std::make_unique<LineTextBox>(Text_StrNumWithCapt);
    m_strNumMAX = std::make_unique<LineTextBox>(Text_StrNumMAX);
    m_recordCount = std::make_unique<LineTextBox>(Text_DBRecordCount);
    m_recordCountNew = std::make_unique<LineTextBox>(Text_DBRecordCountNew);
    m_rules = std::make_unique<PlainTextBox>(Text_Rules);
    m_fields = std::make_unique<WidgetListView>(lv_Fields);
    m_links = std::make_unique<WidgetListView>(lv);
    m_db = std::make_unique<WidgetListView>(lv_DB);
    m_pb = std::make_unique<WidgetProgressBar>(pb);
    m_selectFile = std::make_unique<WidgetButton>(Command_SelectFile);
    m_setPathToDB = std::make_unique<WidgetButton>(Command_SetPathToDB);
    m_analize = std::make_unique<WidgetButton>(Command_Analize);
    m_update = std::make_unique<WidgetButton>(Command_Update);
    m_preview = std::make_unique<WidgetButton>(Command_Preview);
    m_undo = std::make_unique<WidgetButton>(Command_Undo);

    m_controls.Caption = m_caption.get();
    m_controls.Text_PathToDB = m_pathToDB.get();
    m_controls.Text_FileName = m_fileName.get();
    m_controls.Text_Rules = m_rules.get();
    m_controls.Text_StrNumWithCapt = m_strNumWithCapt.get();
    m_controls.Text_StrNumMAX = m_strNumMAX.get();
    m_controls.Text_DBRecordCount = m_recordCount.get();
    m_controls.Text_DBRecordCountNew = m_recordCountNew.get();
    m_controls.lv_Fields = m_fields.get();
    m_controls.lv = m_links.get();
    m_controls.lv_DB = m_db.get();
    m_controls.pb = m_pb.get();
    m_controls.Command_SelectFile = m_selectFile.get();
    m_controls.Command_SetPathToDB = m_setPathToDB.get();
    m_controls.Command_Analize = m_analize.get();
    m_controls.Command_Update = m_update.get();
    m_controls.Command_Preview = m_preview.get();
    m_controls.Command_Undo = m_undo.get();
    m_controls.pointer = &m_pointer;
    m_controls.dialogs = dialogs;

    QMetaObject::connectSlotsByName(this);
}

FrmMain::~FrmMain()
{
    if (!m_unloaded) {
        m_unloaded = true;
        frmMain_Unload(m_state);
    }
}

void FrmMain::buildControls()
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(DesignCaption);
    setWindowIcon(drawnIcon());
    setFont(designFont(WindowFamily, 8.25));
    // The design has one size, so the window offers nothing to maximise: a title with the
    // system menu, minimise and close. It opens in the middle of the screen.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(11220 / TwipsPerPixel, 8400 / TwipsPerPixel);

    // The system's active-title-bar colour has no role of its own here; the highlight colour
    // is the palette's colour of the active window's title.
    const QColor title = palette().color(QPalette::Active, QPalette::Highlight);

    auto place = [](QWidget* w, const char* name, const QRect& at) {
        w->setObjectName(QString::fromLatin1(name));
        w->setGeometry(at);
        w->setFont(designFont(WindowFamily, 8.25));
    };
    auto label = [&](QWidget* parent, const char* name, const QString& caption, const QRect& at) {
        auto* l = new CaptionLabel(caption, parent);
        place(l, name, at);
        QPalette pal = l->palette();
        pal.setColor(QPalette::WindowText, title);
        l->setPalette(pal);
        return l;
    };
    auto box = [&](QWidget* parent, const char* name, const QString& text, const QRect& at) {
        auto* e = new QLineEdit(text, parent);
        place(e, name, at);
        return e;
    };
    auto button = [&](QWidget* parent, const char* name, const QString& caption, const QRect& at) {
        auto* b = new QPushButton(caption, parent);
        place(b, name, at);
        b->setAutoDefault(false);
        return b;
    };
    auto list = [&](const char* name, const QRect& at) {
        auto* l = new ListTreeWidget(this);
        place(l, name, at);
        l->setFont(designFont(ListFamily, 9));
        return l;
    };
    auto titleText = [&](QLineEdit* e) {
        QPalette pal = e->palette();
        pal.setColor(QPalette::Text, title);
        e->setPalette(pal);
    };

    Frame_Issuer = new QGroupBox(this);
    Frame_Issuer->setObjectName(QStringLiteral("Frame_Issuer"));
    Frame_Issuer->setGeometry(twips(45, 0, 11130, 1365));
    Frame_Issuer->setFont(designFont(FrameFamily, 8.25, true));

    Label11 = label(Frame_Issuer, "Label11", QStringLiteral("Путь к БД"), twips(90, 225, 780, 195));
    Text_PathToDB = box(Frame_Issuer, "Text_PathToDB", QString(), twips(135, 450, 10545, 240));
    Command_SetPathToDB =
        button(Frame_Issuer, "Command_SetPathToDB", QStringLiteral("..."), twips(10710, 450, 330, 240));
    Label3 = label(Frame_Issuer, "Label3", QStringLiteral("Выберите эксель файл"), twips(90, 765, 1740, 195));
    Text_FileName = box(Frame_Issuer, "Text_FileName", QString(), twips(135, 990, 10545, 240));
    Command_SelectFile = button(Frame_Issuer, "Command_SelectFile", QStringLiteral("..."), twips(10710, 990, 330, 240));
    // The two paths come from the file dialogs.
    Text_PathToDB->setReadOnly(true);
    Text_FileName->setReadOnly(true);
    titleText(Text_PathToDB);
    titleText(Text_FileName);

    Label1 = label(this, "Label1", QStringLiteral("Поля во входном файле"), twips(45, 1485, 1815, 195));
    lv_Fields = list("lv_Fields", twips(45, 1710, 3525, 4920));
    lv = list("lv", twips(3600, 1710, 5010, 2715));
    lv_DB = list("lv_DB", twips(8640, 1710, 2535, 2715));
    lv_Fields->setDragSource(true);
    lv_DB->setDragSource(true);
    lv->setDropTarget(true);
    lv->setDeleteActsAsDoubleClick(true);
    // Dragging is the one way of linking that the lists do not show; each says what goes where.
    lv_Fields->setToolTip(QStringLiteral("Поля входного файла. Перетащите поле в средний список (или нажмите на нём "
                                         "Enter) и введите его правило: 1, 2 или 3"));
    lv->setToolTip(QStringLiteral("Связи полей. Выделите связь и перетащите на неё поле БД из правого списка; "
                                  "двойной щелчок или Delete удаляет выделенную связь"));
    lv_DB->setToolTip(QStringLiteral("Поля БД. Выделите связь в среднем списке и перетащите на неё поле БД "
                                     "(или нажмите на нём Enter)"));

    Text_Rules = new QPlainTextEdit(this);
    place(Text_Rules, "Text_Rules", twips(3600, 4500, 5010, 2130));
    Text_Rules->setFont(designFont(RulesFamily, 8.25));
    Text_Rules->setReadOnly(true);
    Text_Rules->setTabChangesFocus(true);
    Text_Rules->setLineWrapMode(QPlainTextEdit::NoWrap);
    {
        QPalette pal = Text_Rules->palette();
        pal.setColor(QPalette::Base, pal.color(QPalette::ToolTipBase));
        pal.setColor(QPalette::Text, title);
        Text_Rules->setPalette(pal);
    }

    Label8 = label(this, "Label8", QStringLiteral("№ строки с заголовками"), twips(90, 6795, 2580, 195));
    Text_StrNumWithCapt = box(this, "Text_StrNumWithCapt", QStringLiteral("0"), twips(2700, 6750, 915, 285));
    Label9 = label(this, "Label9", QStringLiteral("МАХ № обрабатываемой строки"), twips(90, 7155, 2580, 195));
    Text_StrNumMAX = box(this, "Text_StrNumMAX", QStringLiteral("100"), twips(2700, 7110, 915, 285));
    Label4 = label(this, "Label4", QStringLiteral("кол-во записей в БД"), twips(5085, 6840, 2580, 195));
    Text_DBRecordCount = box(this, "Text_DBRecordCount", QStringLiteral("0"), twips(7695, 6795, 915, 285));
    Label5 = label(this, "Label5", QStringLiteral("добавлено новых записей в БД"), twips(5085, 7200, 2580, 195));
    Text_DBRecordCountNew = box(this, "Text_DBRecordCountNew", QStringLiteral("0"), twips(7695, 7155, 915, 285));
    // The counts are the system's to write.
    Text_DBRecordCount->setReadOnly(true);
    Text_DBRecordCountNew->setReadOnly(true);

    pb = new QProgressBar(this);
    place(pb, "pb", twips(45, 7470, 3570, 375));
    {
        // An idle bar is an empty trough; drawn on the background of a text box it would pass
        // for one, so it gets the shade of a groove.
        QPalette pal = pb->palette();
        pal.setColor(QPalette::Base, pal.color(QPalette::Window).darker(112));
        pb->setPalette(pal);
    }

    Command_Analize =
        button(this, "Command_Analize", QStringLiteral("Анализ входного файла"), twips(945, 7920, 2670, 420));
    Command_Update =
        button(this, "Command_Update", QStringLiteral("Загрузить данные в таблицу"), twips(3690, 7920, 4920, 420));
    Command_Exit = button(this, "Command_Exit", QStringLiteral("Закрыть"), twips(8685, 7920, 2535, 420));
    // Beyond the design: the check of a load without writing, and the undo of the last one,
    // in the free area right of the rules legend, under the database's field list.
    Command_Preview =
        button(this, "Command_Preview", QStringLiteral("Проверить без записи"), twips(8640, 4500, 2580, 420));
    Command_Undo =
        button(this, "Command_Undo", QStringLiteral("Отменить последнюю загрузку"), twips(8640, 5010, 2580, 420));
    Command_Preview->setToolTip(
        QStringLiteral("Проверяет загрузку, ничего не записывая: какие записи будут добавлены и "
                       "расширены и какие строки книги загрузка не примет"));
    Command_Undo->setToolTip(QStringLiteral("Отменяет последнюю загрузку в таблицу: удаляет добавленные ею записи и "
                                            "возвращает расширенным прежние значения"));

    Text_StrNumWithCapt->installEventFilter(this);
    Text_StrNumMAX->installEventFilter(this);

    setTabOrder();
    Command_Exit->setFocus(Qt::OtherFocusReason);
}

void FrmMain::setTabOrder()
{
    const QList<QWidget*> order{Command_Exit,
                                Frame_Issuer,
                                Command_SelectFile,
                                Text_FileName,
                                Label3,
                                lv_Fields,
                                Label1,
                                Command_Analize,
                                pb,
                                Command_Update,
                                Command_Preview,
                                Command_Undo,
                                Text_StrNumWithCapt,
                                Text_StrNumMAX,
                                Label8,
                                Label9,
                                Command_SetPathToDB,
                                Text_PathToDB,
                                Label11,
                                lv,
                                lv_DB,
                                Text_DBRecordCount,
                                Label4,
                                Text_DBRecordCountNew,
                                Label5,
                                Text_Rules};
    // Labels, the frame and the bar take no focus; chaining through them would break the order.
    QWidget* previous = nullptr;
    for (QWidget* w : order) {
        if (w->focusPolicy() == Qt::NoFocus)
            continue;
        if (previous)
            QWidget::setTabOrder(previous, w);
        previous = w;
    }
}

void FrmMain::load()
{
    if (m_loaded)
        return;
    m_loaded = true;
    frmMain_Load(m_state, m_controls);
}

void FrmMain::showEvent(QShowEvent* event)
{
    // Centred once, when first shown: the platform window exists then, and with it the frame
    // margins where the platform knows them before the window manager has framed the window.
    if (!m_centred && !event->spontaneous()) {
        m_centred = true;
        if (const QScreen* screen = this->screen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    QWidget::showEvent(event);
}

void FrmMain::closeEvent(QCloseEvent* event)
{
    // The close box and Command_Exit end here alike; closing is never refused.
    if (!m_unloaded) {
        m_unloaded = true;
        frmMain_Unload(m_state);
    }
    event->accept();
}

bool FrmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusOut) {
        // Leaving a row-number box for another control of the window; a message box or
        // another window taking the focus is not leaving it.
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        const bool left = reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
        if (left && watched == Text_StrNumMAX)
            Text_StrNumMAX_LostFocus(m_state, m_controls);
        else if (left && watched == Text_StrNumWithCapt)
            Text_StrNumWithCapt_LostFocus(m_state, m_controls);
    }
    return QWidget::eventFilter(watched, event);
}

void FrmMain::on_Command_Exit_clicked() { close(); }

void FrmMain::on_Command_SelectFile_clicked() { Command_SelectFile_Click(m_state, m_controls); }

void FrmMain::on_Command_SetPathToDB_clicked() { Command_SetPathToDB_Click(m_state, m_controls); }

void FrmMain::on_Command_Analize_clicked() { Command_Analize_Click(m_state, m_controls); }

void FrmMain::on_Command_Preview_clicked() { Command_Preview_Click(m_state, m_controls); }

void FrmMain::on_Command_Undo_clicked() { Command_Undo_Click(m_state, m_controls); }

void FrmMain::on_Command_Update_clicked() { Command_Update_Click(m_state, m_controls); }

void FrmMain::on_lv_Fields_dragCompleted() { fld_ADD(m_controls, FromFields); }

void FrmMain::on_lv_DB_dragCompleted() { fld_ADD(m_controls, FromDB); }

void FrmMain::on_lv_listDoubleClicked() { lv_DblClick(m_controls); }

} // namespace kalder
