#include "window/toolkit.h"

#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QLibraryInfo>

namespace kalder {

std::unique_ptr<QTranslator> toolkitTranslations(const QLocale& locale)
{
    if (locale.language() != QLocale::Russian)
        return nullptr;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return nullptr;
    return translator;
}

namespace {

// Where Debian puts the fonts made for running Windows programs (package fonts-wine). Its
// Tahoma is made to Tahoma's metrics, so the captions of the design fit their boxes as they
// were laid out. The folder is not one fontconfig reads, so the files are added here.
const QString TahomaFolder = QStringLiteral("/usr/share/wine/fonts");
const QStringList TahomaFiles{QStringLiteral("tahoma.ttf"), QStringLiteral("tahomabd.ttf")};

void addTahoma()
{
    if (QFontDatabase::hasFamily(WindowFamily))
        return; // the system's own, or added by an earlier call
    const QDir folder(TahomaFolder);
    for (const QString& file : TahomaFiles)
        if (folder.exists(file))
            QFontDatabase::addApplicationFont(folder.filePath(file));
}

} // namespace

void provideDesignFonts()
{
    addTahoma();
    // Families of similar metrics that carry Cyrillic letters, used where a named family is
    // absent; sizes stay as designed.
    QFont::insertSubstitutions(WindowFamily, {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    QFont::insertSubstitutions(FrameFamily, {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    QFont::insertSubstitutions(ListFamily, {QStringLiteral("Liberation Serif"), QStringLiteral("DejaVu Serif")});
    QFont::insertSubstitutions(RulesFamily, {QStringLiteral("Liberation Mono"), QStringLiteral("DejaVu Sans Mono")});
}

} // namespace kalder
