#include "storage/configini.h"

#include "core/debugtrace.h"
#include "platform/fileowner.h"
#include "platform/platformpaths.h"
#include "storage/ownerfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTextCodec>

namespace {

// Far more than every key of the tool; a bigger file is no settings file of it.
constexpr qint64 kMaxFileBytes = 1024 * 1024;

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

// At most one byte more than kMaxFileBytes, so that a bigger file shows.
QByteArray readBounded(const QString &filePath)
{
    QFile file(filePath);
    return file.open(QIODevice::ReadOnly) ? file.read(kMaxFileBytes + 1) : QByteArray();
}

// The settings of a file the tool must not write, copied where they live for this run only:
// one copy for the process, owner-only, so that every settings object sees the others' changes.
QString sessionCopy(const QString &filePath)
{
    static QTemporaryFile copy(QDir::temp().filePath(QStringLiteral("plovikkit-config-XXXXXX.ini")));
    if (!copy.fileName().isEmpty() || !copy.open())
        return copy.fileName();
    // Only a regular file is read: a link may point at a FIFO or a device that never ends.
    const QByteArray bytes = QFileInfo(filePath).isFile() ? readBounded(filePath) : QByteArray();
    if (bytes.size() <= kMaxFileBytes)
        copy.write(bytes);
    copy.close();
    return copy.fileName();
}

} // namespace

QSettings *ConfigIni::open(QObject *parent)
{
    const QString filePath = PlatformPaths::settingsIniPath();
    QDir().mkpath(PlatformPaths::settingsFolder());
    const QString refusal = writeRefusal();
    if (!refusal.isEmpty()) {
        MODULE_TRACE(lcStorage) << refusal;
        return new QSettings(sessionCopy(filePath), QSettings::IniFormat, parent);
    }
    // QSettings rewrites an existing file in place of the old one and keeps its permissions, so
    // restricting the file when it is opened covers every later write; one left readable by an
    // earlier build or another tool is made private here too.
    if (!QFileInfo::exists(filePath)) {
        OwnerFile::createEmpty(filePath);
    } else {
        PlatformPaths::restrictToOwner(filePath);
        const QByteArray bytes = readBounded(filePath);
        if (!setAsideIfUnreadable(filePath, bytes))
            adoptRawUtf8(filePath, bytes);
    }
    return new QSettings(filePath, QSettings::IniFormat, parent);
}

QString ConfigIni::writeRefusal()
{
    const QString filePath = PlatformPaths::settingsIniPath();
    const QFileInfo file(filePath);
    if (file.isSymLink())
        return QStringLiteral("settings file %1 is a symbolic link: it is not written through, and settings "
                              "changed now last until the tool ends")
            .arg(filePath);
    if (file.exists() && (!file.isFile() || !FileOwner::ownedByUser(file, false)))
        return QStringLiteral(
                   "settings file %1 is no regular file of this user: it is not written, and settings "
                   "changed now last until the tool ends")
            .arg(filePath);
    return QString();
}

// The first write would replace the file with the few keys Qt managed to read from it. Qt
// finds no fault in NUL bytes, which no settings file of this tool ever holds.
bool ConfigIni::setAsideIfUnreadable(const QString &filePath, const QByteArray &bytes)
{
    // Parsing reads the whole file, so one too large for a settings file is not parsed at all.
    if (bytes.size() <= kMaxFileBytes && !bytes.contains('\0') &&
        QSettings(filePath, QSettings::IniFormat).status() != QSettings::FormatError)
        return false;
    const QString copyPath = OwnerFile::keepCorruptCopy(filePath);
    if (copyPath.isEmpty()) {
        MODULE_TRACE(lcStorage) << "config.ini does not parse and cannot be kept aside:" << filePath;
        return true;
    }
    QSaveFile empty(filePath);
    const bool emptied = empty.open(QIODevice::WriteOnly) && empty.commit();
    MODULE_TRACE(lcStorage) << "config.ini does not parse, kept in" << copyPath
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
    MODULE_TRACE(lcStorage) << "config.ini held raw UTF-8 text, rewritten in the default form:"
                            << (settings.status() == QSettings::NoError ? "done" : "failed");
}

bool ConfigIni::sync(QSettings *settings, QString *why)
{
    const QString refusal = writeRefusal();
    if (!refusal.isEmpty()) {
        if (why)
            *why = refusal;
        return false;
    }
    settings->sync();
    const QString filePath = settings->fileName();
    const bool restricted = !QFileInfo::exists(filePath) || PlatformPaths::restrictToOwner(filePath);
    if (settings->status() == QSettings::NoError && restricted)
        return true;
    const QString reason = settings->status() != QSettings::NoError
                               ? QStringLiteral("settings could not be written to %1").arg(filePath)
                               : QStringLiteral("settings file %1 could not be made private").arg(filePath);
    MODULE_TRACE(lcStorage) << reason;
    if (why)
        *why = reason;
    return false;
}
