#include "app/windowlanguage.h"

#include "storage/configini.h"
#include "storage/settingskeys.h"

#include <QCoreApplication>
#include <QLocale>
#include <QPointer>
#include <QSettings>
#include <QTranslator>

namespace {

const char *const kEnglishTranslation = ":/translations/plovikkit_en.qm";

// The translator in force; none while the windows speak Chinese.
QPointer<QTranslator> &installedTranslator()
{
    static QPointer<QTranslator> translator;
    return translator;
}

} // namespace

WindowLanguage::Language WindowLanguage::choose(const QString &menuChoice, const QString &environment,
                                                const QLocale &system)
{
    Language language = Language::English;
    if (fromCode(menuChoice, &language) || fromCode(environment, &language))
        return language;
    return system.language() == QLocale::Chinese ? Language::Chinese : Language::English;
}

WindowLanguage::Language WindowLanguage::forThisStart()
{
    return choose(rememberedCode(), qEnvironmentVariable("PLOVIKKIT_LANG"), QLocale::system());
}

bool WindowLanguage::install(Language language)
{
    QPointer<QTranslator> &translator = installedTranslator();
    if (translator) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
    if (language == Language::Chinese)
        return true;
    auto *english = new QTranslator(QCoreApplication::instance());
    if (!english->load(QString::fromLatin1(kEnglishTranslation))) {
        delete english;
        return false;
    }
    QCoreApplication::installTranslator(english);
    translator = english;
    return true;
}

WindowLanguage::Language WindowLanguage::installed()
{
    return installedTranslator() ? Language::English : Language::Chinese;
}

bool WindowLanguage::remember(Language language, QString *why)
{
    QObject owner;
    QSettings *settings = ConfigIni::open(&owner);
    settings->setValue(SettingsKeys::windowLanguage, code(language));
    return ConfigIni::sync(settings, why);
}

QString WindowLanguage::rememberedCode()
{
    QObject owner;
    return ConfigIni::open(&owner)->value(SettingsKeys::windowLanguage).toString();
}

QString WindowLanguage::code(Language language)
{
    return language == Language::Chinese ? QStringLiteral("zh") : QStringLiteral("en");
}

bool WindowLanguage::fromCode(const QString &code, Language *language)
{
    const QString wanted = code.trimmed().toLower();
    if (wanted == QLatin1String("zh"))
        *language = Language::Chinese;
    else if (wanted == QLatin1String("en"))
        *language = Language::English;
    else
        return false;
    return true;
}
