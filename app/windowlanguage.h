#pragma once

#include <QString>

class QLocale;

// The language the windows speak: Chinese, the language their texts are written in, or English
// from the translation embedded in the program. The menu's choice (kept in config.ini) decides,
// else PLOVIKKIT_LANG (zh or en), else the system's locale: Chinese for a Chinese locale, English
// for any other. The choice is made once, before the first window is built; console lines, the
// debug trace and the command-line programs stay as they are in every language.
class WindowLanguage
{
public:
    enum class Language
    {
        Chinese,
        English
    };

    static Language choose(const QString &menuChoice, const QString &environment, const QLocale &system);
    // The choice for this start, from the settings file, the environment and the system.
    static Language forThisStart();

    // Puts the language's translation in force for the whole application (Chinese needs none).
    // False when the embedded translation cannot be loaded; the windows then stay Chinese.
    static bool install(Language language);
    static Language installed();

    // The menu's choice, for the next start; false with the reason when it could not be stored.
    static bool remember(Language language, QString *why);
    static QString rememberedCode();

    static QString code(Language language);

private:
    static bool fromCode(const QString &code, Language *language);
};
