// Test support: dialogs that answer from a script and record every message.
#pragma once

#include "tests/support/database.h"
#include "window/controls/memory_controls.h"

#include <QList>
#include <QStringList>

namespace kalder::test {

struct RecordingDialogs : Dialogs {
    struct Shown {
        QString text, title;
        Icon icon;
    };
    QList<Shown> shown;
    QStringList answers; // input box answers, in order; none left: cancel
    QStringList inputInitials; // the default text each input box showed
    QStringList files; // file dialog answers, in order; none left: cancel
    QList<FileDialogRequest> requests;
    QList<bool> replies; // question answers, in order; none left: No
    QStringList questions; // the text of each question asked
    QList<PreviewReport> previews; // every preview window shown

    void message(const QString& t, const QString& ti, Icon i) override { shown.append({t, ti, i}); }
    QString input(const QString&, const QString&, const QString& initial) override
    {
        inputInitials.append(initial);
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }
    QString fileName(const FileDialogRequest& r) override
    {
        requests.append(r);
        return files.isEmpty() ? QString() : files.takeFirst();
    }
    bool question(const QString& text, const QString&) override
    {
        questions.append(text);
        return replies.isEmpty() ? false : replies.takeFirst();
    }
    void preview(const PreviewReport& report) override { previews.append(report); }
    QStringList texts() const
    {
        QStringList out;
        for (const auto& s : shown)
            out.append(s.text);
        return out;
    }
};

// Every control of the main window in memory, wired into one FormControls.
struct MemoryForm {
    MemoryTextBox Caption{QStringLiteral("Загрузка данных из excel в БД")}, Text_PathToDB, Text_FileName, Text_Rules,
        Text_StrNumWithCapt{QStringLiteral("0")}, Text_StrNumMAX{QStringLiteral("100")},
        Text_DBRecordCount{QStringLiteral("0")}, Text_DBRecordCountNew{QStringLiteral("0")};
    MemoryListView lv_Fields, lv, lv_DB;
    MemoryProgressBar pb;
    MemoryButton Command_SelectFile, Command_SetPathToDB, Command_Analize, Command_Update, Command_Preview,
        Command_Undo;
    MemoryPointer pointer;
    RecordingDialogs dialogs;
    FormControls ui;

    MemoryForm()
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
        ui.dialogs = &dialogs;
    }
    MemoryForm(const MemoryForm&) = delete;
    MemoryForm& operator=(const MemoryForm&) = delete;

    // Appends a link row as the link editing makes it.
    void link(const QString& rule, int column, const QString& header, const QString& field, int position)
    {
        const int row = lv.count() + 1;
        lv.add(row, rule);
        lv.setSubItem(row, 1, QString::number(column));
        lv.setSubItem(row, 2, header);
        lv.setSubItem(row, 3, field);
        lv.setSubItem(row, 4, position > 0 ? QString::number(position) : QString());
        lv.select(row);
    }
};

} // namespace kalder::test
