// settings.cfg: one "PathToDB=" line naming the database. The file is 8-bit text in the
// system's encoding; files written on the old platform in its Windows code page still read.
#include "config/settings_file.h"

#include "app/base/failure.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <QStringConverter>

#include <cerrno>
#include <unistd.h>

namespace kalder {

namespace {

const QString FileName = QStringLiteral("settings.cfg");
const QString Key = QStringLiteral("PATHTODB");
QString folderForTesting;

// The file holds one short line. A larger file is not one, and a path longer than any file
// system takes is not a path; neither is read on, so that a file of any size (a device, a
// line of many megabytes) is refused at once instead of being read whole and shown.
constexpr qint64 MaxFileBytes = 1024 * 1024;
constexpr qsizetype MaxPathChars = 32 * 1024;

// Blanks are spaces only: a tab is part of the text.
QString trimSpaces(const QString& s)
{
    qsizetype from = 0, to = s.size();
    while (from < to && s[from] == u' ')
        ++from;
    while (to > from && s[to - 1] == u' ')
        --to;
    return s.mid(from, to - from);
}

void enterFolderOrFail(const QString& folder)
{
    if (!QDir::setCurrent(folder))
        throw Failure(err::PathNotFound, QStringLiteral("Не удалось перейти в папку %1").arg(folder));
}

// UTF-8 when the bytes are valid UTF-8; otherwise the Windows code page of the locale
// (the default locale, which is the system one unless set otherwise).
QString decode(const QByteArray& bytes)
{
    QStringDecoder utf8(QStringConverter::Utf8);
    const QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    const bool cyrillic = QLocale().script() == QLocale::CyrillicScript;
    QStringDecoder legacy(cyrillic ? "windows-1251" : "windows-1252");
    if (!legacy.isValid())
        return QString::fromLatin1(bytes);
    return legacy(bytes);
}

QStringList lines(const QString& text)
{
    // A line ends at CR LF, at a lone LF or at a lone CR; a last line without an end counts.
    QStringList out;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r' || text[i] == u'\n') {
            out.append(text.mid(start, i - start));
            if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
                ++i;
            start = i + 1;
        }
    }
    if (start < text.size())
        out.append(text.mid(start));
    return out;
}

void applyLine(const QString& line, QString& pathToDB)
{
    if (line.isEmpty() || line.front() == u'#')
        return; // only a "#" in the very first place makes a comment
    const qsizetype eq = line.indexOf(u'=');
    const QString key = trimSpaces(eq < 0 ? line : line.left(eq));
    if (key.isEmpty() || key.toUpper() != Key)
        return;
    if (eq < 0)
        throw Failure(err::Subscript,
                      QStringLiteral("Индекс вне диапазона: в строке «%1» файла %2 нет знака «=»").arg(line, FileName));
    // The value runs to the line end, so a path holding "=" reads back as it was written.
    const QString value = line.mid(eq + 1);
    if (value.isEmpty())
        return;
    const QString path = trimSpaces(value);
    if (path.size() > MaxPathChars)
        throw Failure(err::Overflow,
                      QStringLiteral("Путь к базе данных в файле %1 длиннее 32 КБ (%2 знаков): это не путь")
                          .arg(FileName)
                          .arg(path.size()));
    pathToDB = path;
}

// settings.cfg is a folder: neither read nor written, the same words for both.
Failure folderInsteadOfFile()
{
    return Failure(err::PathFileAccess,
                   QStringLiteral("%1 в папке %2 — это папка, а не файл").arg(FileName, QDir::currentPath()));
}

QByteArray readFile()
{
    const QFileInfo info(FileName);
    if (!info.exists())
        throw Failure(err::FileNotFound, FileName);
    if (info.isDir())
        throw folderInsteadOfFile();
    QFile file(FileName);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(err::PathFileAccess,
                      QStringLiteral("Нет доступа к файлу %1: %2").arg(info.absoluteFilePath(), file.errorString()));
    QByteArray bytes = file.read(MaxFileBytes + 1);
    if (file.error() != QFileDevice::NoError)
        throw Failure(err::InputPastEnd, file.errorString());
    if (bytes.size() > MaxFileBytes)
        throw Failure(
            err::Overflow,
            QStringLiteral("Файл %1 больше 1 МБ: это не файл настроек, он не читается").arg(info.absoluteFilePath()));
    return bytes;
}

QString readMessage(const Failure& f)
{
    switch (f.number()) {
    case err::FileNotFound:
        return QStringLiteral("Не найден конфигурационный файл");
    case err::FileAlreadyOpen:
        return QStringLiteral("Конфигурационный файл уже открыт");
    case err::InputPastEnd:
        return QStringLiteral("Ошибка при чтении данных из конфигурационного файла");
    case err::DeviceUnavailable:
        // No drive letters here: the drive slot is the start of the application folder.
        return QStringLiteral("Диск:\t") + applicationFolder().left(3) + QStringLiteral("\t не найден");
    default:
        return f.text();
    }
}

QString writeMessage(const Failure& f)
{
    switch (f.number()) {
    case err::FileNotFound:
        return QStringLiteral("Not found settings file");
    case err::FileAlreadyOpen:
        return QStringLiteral("Settings file already opened");
    default:
        return f.text();
    }
}

struct SettingsPlace {
    QString folder;
    bool user = false; // the user's folder, because the application folder refuses writing
};

SettingsPlace settingsPlace()
{
    // access() asks the kernel what this user may do, read-only mounts included; creating
    // settings.cfg needs the folder writable and searchable. A folder that is not there at
    // all stays the place, and the procedures report it as before.
    const QString folder = applicationFolder();
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0)
        return {folder, false};
    if (errno == EACCES || errno == EROFS || errno == EPERM)
        return {userSettingsFolder(), true};
    return {folder, false};
}

} // namespace

QString applicationFolder()
{
    return folderForTesting.isEmpty() ? QCoreApplication::applicationDirPath() : folderForTesting;
}

void setApplicationFolderForTesting(const QString& folder) { folderForTesting = folder; }

QString userSettingsFolder()
{
    // A relative XDG_CONFIG_HOME is invalid and ignored, as the base directory rules say.
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    const QString base = QDir::isAbsolutePath(xdg) ? xdg : QDir::homePath() + QStringLiteral("/.config");
    return QDir(base).filePath(QStringLiteral("kalder"));
}

QString settingsFolder() { return settingsPlace().folder; }

void enterSettingsFolder()
{
    // Harmless when it fails: the procedures that depend on it enter the folder themselves
    // and report the failure.
    QDir::setCurrent(settingsFolder());
}

QString parsePathToDB(const QByteArray& bytes, QString pathToDB)
{
    for (const QString& line : lines(decode(bytes)))
        applyLine(line, pathToDB);
    return pathToDB;
}

bool get_PathToDB(AppState& state, Dialogs& dialogs)
{
    try {
        const SettingsPlace place = settingsPlace();
        if (place.user && !QFileInfo::exists(QDir(place.folder).filePath(FileName)))
            return false; // this user's first start: no path, as from a file without one
        enterFolderOrFail(place.folder);
        const QStringList all = lines(decode(readFile()));
        // Lines read before a failing one keep their effect.
        for (const QString& line : all)
            applyLine(line, state.PathToDB);
        return false;
    } catch (const Failure& f) {
        dialogs.message(readMessage(f), QStringLiteral("get_PathToDB"), Dialogs::Icon::Exclamation);
        return true;
    }
}

bool set_Settings(const TextBox& Text_PathToDB, Dialogs& dialogs)
{
    try {
        const SettingsPlace place = settingsPlace();
        if (place.user && !QDir().mkpath(place.folder))
            throw Failure(err::PathNotFound, QStringLiteral("Не удалось создать папку %1").arg(place.folder));
        enterFolderOrFail(place.folder);
        const QString text = QStringLiteral("PathToDB=") + Text_PathToDB.text();
        QStringEncoder encoder(QStringConverter::System);
        const QByteArray bytes = encoder(text);
        if (encoder.hasError())
            throw Failure(err::PathFileAccess,
                          QStringLiteral("Путь «%1» не записывается в кодировке системы").arg(Text_PathToDB.text()));
        if (QFileInfo(FileName).isDir())
            throw folderInsteadOfFile();
        // Written beside and then renamed: a failed write leaves the old file whole.
        QSaveFile file(FileName);
        file.setDirectWriteFallback(true);
        if (!file.open(QIODevice::WriteOnly))
            throw Failure(err::PathFileAccess, QStringLiteral("Не удалось создать файл %1 в папке %2: %3")
                                                   .arg(FileName, QDir::currentPath(), file.errorString()));
        if (file.write(bytes) != bytes.size() || !file.commit())
            throw Failure(err::PathFileAccess, QStringLiteral("Не удалось записать файл %1 в папке %2: %3")
                                                   .arg(FileName, QDir::currentPath(), file.errorString()));
    } catch (const Failure& f) {
        dialogs.message(writeMessage(f), QStringLiteral("set_Settings"), Dialogs::Icon::Exclamation);
    }
    return false;
}

} // namespace kalder
