// What the window takes from the toolkit and the system around it: the toolkit's own texts
// (dialog buttons, the file dialog, the context menus of text boxes) in Russian, and the
// fonts the window's design names.
#pragma once

#include <QLocale>
#include <QString>
#include <QTranslator>

#include <memory>

namespace kalder {

// The families of the window's design: the window's, the frame's, the lists' and the legend's.
inline const QString WindowFamily = QStringLiteral("Tahoma");
inline const QString FrameFamily = QStringLiteral("MS Sans Serif");
inline const QString ListFamily = QStringLiteral("Times New Roman CYR");
inline const QString RulesFamily = QStringLiteral("Courier New");

// The toolkit's translations for locale, to install in the application, when its language
// is Russian; nothing for another language or when the translations are not installed.
std::unique_ptr<QTranslator> toolkitTranslations(const QLocale& locale);

// Makes the families the window names available: Tahoma from the files of a font with its
// metrics when the system has no Tahoma of its own, and for every named family a list of
// installed families with Cyrillic letters to stand in when it is absent. Safe to call again.
void provideDesignFonts();

} // namespace kalder
