// Support for the window tests: a session opened on an SQLite file, list rows at a glance, and a
// home of its own for the toolkit.
#pragma once

#include "app/base/state.h"
#include "db/connection.h"
#include "tests/support/support.h"
#include "window/controls/controls.h"
#include "window/form_logic.h"

#include <QFile>

#include <memory>

namespace kalder::test {

// Points the user's home and configuration folders at folder, so that whatever the toolkit's
// dialogs would keep of their own lands there, where a test can look for it.
inline void homeIn(const QString& folder)
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(folder));
    qputenv("HOME", QFile::encodeName(folder));
}

// The rows of a list, each as its cells joined by "|", for comparisons at a glance.
inline QStringList rowsOf(const ListView& list, int cells)
{
    QStringList out;
    for (int i = 1; i <= list.count(); ++i) {
        QStringList row{list.text(i)};
        for (int k = 1; k < cells; ++k)
            row.append(list.subItem(i, k));
        out.append(row.join(QLatin1Char('|')));
    }
    return out;
}

} // namespace kalder::test
