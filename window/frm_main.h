// frmMain, the one window: every control of the window at its place, with its caption, font
// and colour, and the wiring of its events to the procedures. The window forwards; the
// procedures in form_logic and commands do the work.
#pragma once

#include "app/base/state.h"
#include "window/controls/controls.h"
#include "window/widget_controls.h"

#include <QWidget>
#include <memory>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace kalder {

class FrmMain : public QWidget {
    Q_OBJECT
public:
    // dialogs: the message, input and file dialogs to use; nullptr for the Qt dialogs.
    explicit FrmMain(AppState& state, Dialogs* dialogs = nullptr, QWidget* parent = nullptr);
    ~FrmMain() override;

    FormControls& controls() { return m_controls; }
    // Runs the load handling, the first time only.
    void load();
    bool loaded() const { return m_loaded; }

    // The controls, by their names in the window.
    QGroupBox* Frame_Issuer;
    QLabel* Label11;
    QLineEdit* Text_PathToDB;
    QPushButton* Command_SetPathToDB;
    QLabel* Label3;
    QLineEdit* Text_FileName;
    QPushButton* Command_SelectFile;
    QLabel* Label1;
    ListTreeWidget* lv_Fields;
    ListTreeWidget* lv;
    ListTreeWidget* lv_DB;
    QPlainTextEdit* Text_Rules;
    QLabel* Label8;
    QLineEdit* Text_StrNumWithCapt;
    QLabel* Label9;
    QLineEdit* Text_StrNumMAX;
    QLabel* Label4;
    QLineEdit* Text_DBRecordCount;
    QLabel* Label5;
    QLineEdit* Text_DBRecordCountNew;
    QProgressBar* pb;
    QPushButton* Command_Analize;
    QPushButton* Command_Update;
    QPushButton* Command_Exit;
    QPushButton* Command_Preview;
    QPushButton* Command_Undo;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void on_Command_Exit_clicked();
    // The handlers of the commands.
    void on_Command_SelectFile_clicked();
    void on_Command_SetPathToDB_clicked();
    void on_Command_Analize_clicked();
    void on_Command_Update_clicked();
    void on_Command_Preview_clicked();
    void on_Command_Undo_clicked();
    void on_lv_Fields_dragCompleted();
    void on_lv_DB_dragCompleted();
    void on_lv_listDoubleClicked();

private:
    void buildControls();
    void setTabOrder();

    AppState& m_state;
    std::unique_ptr<Dialogs> m_ownDialogs;
    std::unique_ptr<CaptionTextBox> m_caption;
    std::unique_ptr<LineTextBox> m_pathToDB, m_fileName, m_strNumWithCapt, m_strNumMAX, m_recordCount, m_recordCountNew;
    std::unique_ptr<PlainTextBox> m_rules;
    std::unique_ptr<WidgetListView> m_fields, m_links, m_db;
    std::unique_ptr<WidgetProgressBar> m_pb;
    std::unique_ptr<WidgetButton> m_selectFile, m_setPathToDB, m_analize, m_update, m_preview, m_undo;
    ApplicationPointer m_pointer;
    FormControls m_controls;
    bool m_loaded = false;
    bool m_unloaded = false;
    bool m_centred = false;
};

} // namespace kalder
