// Test support: dialogs that answer from a script and record every message.
#pragma once

#include "window/controls/controls.h"

#include <QList>
#include <QStringList>

namespace kalder::test {

struct RecordingDialogs : Dialogs {
    struct Shown {
        QString text, title;
        Icon icon;
    };
    QList<Shown> shown;
    QStringList answers;            // input box answers, in order; none left: cancel
    QStringList inputInitials;      // the default text each input box showed
    QStringList files;              // file dialog answers, in order; none left: cancel
    QList<FileDialogRequest> requests;

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
    QStringList texts() const
    {
        QStringList out;
        for (const auto& s : shown)
            out.append(s.text);
        return out;
    }
};

} // namespace kalder::test
