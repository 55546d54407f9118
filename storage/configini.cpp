#include "configini.h"

#include "debugtrace.h"
#include "ownerfile.h"
#include "platformpaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextCodec>

namespace {

// Earlier builds wrote non-ASCII values as raw UTF-8; Qt's default form escapes them, so a file
// with valid UTF-8 beyond ASCII is one of those.
bool isRawUtf8(const QByteArray &bytes)
{
    const bool beyondAscii =
        std::any_of(bytes.cbegin(), bytes.cend(), [](char c) { return uchar(c) >= 0x80; });
    if (!beyondAscii)
        return false;
    QTextCodec::ConverterState state;
    QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0;
}

QByteArray readAll(const QString &filePath)
{
    QFile file(filePath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

QSettings *ConfigIni::open(QObject *parent)
{
    const QString filePath = PlatformPaths::settingsIniPath();
    QDir().mkpath(PlatformPaths::settingsFolder());
    // QSettings rewrites an existing file in place of the old one and keeps its permissions, so
    // restricting the file once, while it is still empty, covers every later write.
    if (!QFileInfo::exists(filePath)) {
        OwnerFile::createEmpty(filePath);
    } else {
        const QByteArray bytes = readAll(filePath);
        if (!setAsideIfUnreadable(filePath, bytes))
            adoptRawUtf8(filePath, bytes);
    }
    return new QSettings(filePath, QSettings::IniFormat, parent);
}

// The first write would replace the file with the few keys Qt managed to read from it. Qt
// finds no fault in NUL bytes, which no settings file of this tool ever holds.
bool ConfigIni::setAsideIfUnreadable(const QString &filePath, const QByteArray &bytes)
{
    {
        const QSettings probe(filePath, QSettings::IniFormat);
        if (probe.status() != QSettings::FormatError && !bytes.contains('\0'))
            return false;
    }
    const QString copyPath = OwnerFile::keepCorruptCopy(filePath);
    if (copyPath.isEmpty()) {
        MODULE_TRACE() << "config.ini does not parse and cannot be kept aside:" << filePath;
        return true;
    }
    QSaveFile empty(filePath);
    const bool emptied = empty.open(QIODevice::WriteOnly) && empty.commit();
    MODULE_TRACE() << "config.ini does not parse, kept in" << copyPath
                   << (emptied ? "and started anew" : "but could not be emptied");
    return true;
}

// Read through a copy: QSettings caches a parsed file per path, and the copy must not be read
// with the default form's Latin-1 first.
void ConfigIni::adoptRawUtf8(const QString &filePath, const QByteArray &bytes)
{
    if (!isRawUtf8(bytes))
        return;
    QTemporaryDir scratch;
    const QString copyPath = scratch.filePath(QStringLiteral("config.ini"));
    if (!scratch.isValid() || !QFile::copy(filePath, copyPath))
        return;
    QSettings utf8(copyPath, QSettings::IniFormat);
    utf8.setIniCodec("UTF-8");
    QSettings settings(filePath, QSettings::IniFormat);
    for (const QString &key : utf8.allKeys())
        settings.setValue(key, utf8.value(key));
    settings.sync();
    MODULE_TRACE() << "config.ini held raw UTF-8 text, rewritten in the default form:"
                   << (settings.status() == QSettings::NoError ? "done" : "failed");
}

bool ConfigIni::sync(QSettings *settings, QString *why)
{
    settings->sync();
    const QString filePath = settings->fileName();
    const bool restricted = !QFileInfo::exists(filePath) || PlatformPaths::restrictToOwner(filePath);
    if (settings->status() == QSettings::NoError && restricted)
        return true;
    const QString reason = settings->status() != QSettings::NoError
                               ? QStringLiteral("settings could not be written to %1").arg(filePath)
                               : QStringLiteral("settings file %1 could not be made private").arg(filePath);
    MODULE_TRACE() << reason;
    if (why)
        *why = reason;
    return false;
}
