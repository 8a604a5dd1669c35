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

// The dialogs a MemoryForm records into, made before the controls that point at them.
struct RecordedDialogs {
    RecordingDialogs dialogs;
};

// Every control of the main window in memory, its messages recorded.
struct MemoryForm : RecordedDialogs, MemoryFormControls {
    MemoryForm() : MemoryFormControls(&dialogs) { }

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
