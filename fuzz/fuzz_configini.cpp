// config.ini may hold anything: the tool must read it (or keep it aside), and then write its own
// keys into a file that reads back.
#include "fuzz/fuzzsupport.h"
#include "platform/platformpaths.h"
#include "storage/configini.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <cstdlib>
#include <memory>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome.path()));
    startFuzzedApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = PlatformPaths::settingsIniPath();
    QDir().mkpath(PlatformPaths::settingsFolder());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        abort();
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    file.close();
    {
        std::unique_ptr<QSettings> settings(ConfigIni::open(nullptr));
        for (const QString &key : settings->allKeys())
            settings->value(key);
        settings->setValue(QStringLiteral("serial_com"), QStringLiteral("ttyUSB0 串口"));
        ConfigIni::sync(settings.get());
    }
    const QSettings reread(path, QSettings::IniFormat);
    if (reread.value(QStringLiteral("serial_com")).toString() != QStringLiteral("ttyUSB0 串口"))
        abort();
    for (const QString &copy :
         QDir(PlatformPaths::settingsFolder()).entryList({QStringLiteral("*.corrupt*")}))
        QFile::remove(PlatformPaths::settingsFolder() + QLatin1Char('/') + copy);
    return 0;
}
