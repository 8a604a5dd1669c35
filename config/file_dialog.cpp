// dlg_FileName over the dialog interface: the NUL-separated filter of the callers becomes
// the request's entries. The chosen path comes back whole, whatever its length.
#include "config/checks.h"

#include <QDir>

namespace kalder {

namespace {
constexpr qint32 OverwritePrompt = 2;
} // namespace

QString dlg_FileName(qint32& flags, const std::optional<QString>& initialFolder, const QString& filter,
                     qint32 filterIndex, const QString& defaultExtension, const QString& fileName, const QString& title,
                     qint32 owner, bool openDialog, Dialogs& dialogs)
{
    Q_UNUSED(owner); // the dialog is modal to the application; there is no window handle to give
    FileDialogRequest request;
    request.title = title;
    // Elements end at NUL; a filter ends at the first empty element, as in the old record.
    const QStringList elements = filter.split(QChar(u'\0'));
    for (qsizetype i = 0; i + 1 < elements.size(); i += 2) {
        if (elements[i].isEmpty())
            break;
        request.filters.append(elements[i]);
        request.patterns.append(elements[i + 1]);
    }
    request.filterIndex = filterIndex >= 1 && filterIndex <= request.filters.size() ? filterIndex : 1;
    request.initialFolder = initialFolder && !initialFolder->isEmpty() ? *initialFolder : QDir::currentPath();
    request.defaultExtension = defaultExtension.startsWith(u'.') ? defaultExtension.mid(1) : defaultExtension;
    request.fileName = fileName;
    request.open = openDialog;
    request.overwritePrompt = !openDialog && (flags & OverwritePrompt) != 0;

    const QString chosen = dialogs.fileName(request);
    if (chosen.isEmpty())
        return QString();
    // The dialog honours the flags it was given and adds none of its own.
    return chosen;
}

} // namespace kalder
