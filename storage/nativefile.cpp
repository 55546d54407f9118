#include "storage/nativefile.h"

#include "core/debugtrace.h"
#include "platform/platformpaths.h"
#include "storage/ownerfile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {

struct DefaultStore
{
    QString folder;
    QString fileName;
};

// Filled on first use rather than by a static initialiser: the platform folders are only
// meaningful once the process environment is in place.
DefaultStore &defaultStore()
{
    static DefaultStore store{PlatformPaths::workParamsFolder(), PlatformPaths::workParamsFileName()};
    return store;
}

QString joinPath(const QString &folder, const QString &fileName)
{
    return folder + QLatin1Char('/') + fileName;
}

QString isoLocal(const QDateTime &time)
{
    return time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss"));
}

// Not every Linux file system records a birth time; the inode change time, or failing that the
// modification time, stands in so that an existing file always has a creation time to show.
QDateTime creationTime(const QFileInfo &info)
{
    if (info.birthTime().isValid())
        return info.birthTime();
    if (info.metadataChangeTime().isValid())
        return info.metadataChangeTime();
    return info.lastModified();
}

} // namespace

NativeFile::NativeFile(QObject *parent) : QObject(parent) {}

bool NativeFile::setPath_name(const QString &fullPath, const QString &fileName)
{
    defaultStore() = DefaultStore{fullPath, fileName};
    return true;
}

QString NativeFile::getPath()
{
    return defaultStore().folder;
}

QString NativeFile::getName()
{
    return defaultStore().fileName;
}

bool NativeFile::getFileContent(const QString &fullPath_fileName, QString *getValue)
{
    if (!QFileInfo(fullPath_fileName).isFile())
        return false;
    QFile file(fullPath_fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    const QByteArray bytes = file.readAll();
    file.close();
    if (bytes.isEmpty())
        return false;
    if (getValue)
        *getValue =
            QString::fromUtf8(bytes.constData(), int(qstrnlen(bytes.constData(), uint(bytes.size()))));
    return true;
}

bool NativeFile::getFileContent(const QString &fullPath_fileName, QByteArray *getValue)
{
    if (!traceFacts(fullPath_fileName, __func__, FileFacts::All))
        return false;
    QFile file(fullPath_fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    if (getValue)
        *getValue = bytes;
    return true;
}

qint64 NativeFile::getFileSize(const QString &fullPath_fileName)
{
    const QFileInfo info(fullPath_fileName);
    return info.isFile() && info.isReadable() ? info.size() : -1;
}

QString NativeFile::getFileCreatedTime(const QString &fullPath_fileName)
{
    if (!traceFacts(fullPath_fileName, __func__, FileFacts::All))
        return QString();
    return isoLocal(creationTime(QFileInfo(fullPath_fileName)));
}

QString NativeFile::getFileName(const QString &fullPath_fileName)
{
    if (!traceFacts(fullPath_fileName, __func__, FileFacts::All))
        return QString();
    return QFileInfo(fullPath_fileName).fileName();
}

QString NativeFile::getFileOwner(const QString &fullPath_fileName)
{
    if (!traceFacts(fullPath_fileName, __func__, FileFacts::NameOnly))
        return QString();
    return QFileInfo(fullPath_fileName).owner();
}

bool NativeFile::writeItem(const QString &fullPath, const QString &fileName, const QString &key,
                           const QString &value)
{
    if (QDir(fullPath).exists()) {
        MODULE_TRACE(lcStorage) << "fullpath exist";
    } else if (QDir().mkdir(fullPath)) {
        MODULE_TRACE(lcStorage) << "Create fullpath success";
    } else {
        MODULE_TRACE(lcStorage) << "Create path fail";
        return false;
    }

    const QString filePath = joinPath(fullPath, fileName);
    QJsonObject store;
    if (!loadStore(filePath, &store)) {
        // The next save replaces the file with the written key alone, so whatever is in it now
        // must be kept somewhere before it goes.
        const QString copyPath = OwnerFile::keepCorruptCopy(filePath);
        if (copyPath.isEmpty()) {
            MODULE_TRACE(lcStorage) << "store is not a JSON object and cannot be kept aside, not written:"
                                    << filePath;
            return false;
        }
        MODULE_TRACE(lcStorage) << "store is not a JSON object, old content kept in" << copyPath;
    }
    store.insert(key, value);
    return saveStore(filePath, store);
}

bool NativeFile::writeItem(const QString &fullPath, const QString &fileName, const QString &key,
                           const QStringList &valueList)
{
    return writeItem(fullPath, fileName, key, valueList.join(QLatin1Char(',')));
}

bool NativeFile::writeItem(const QString &key, const QString &value)
{
    if (!hasDefaultFile())
        return false;
    return writeItem(getPath(), getName(), key, value);
}

bool NativeFile::writeItem(const QString &key, const QStringList &valueList)
{
    if (!hasDefaultFile())
        return false;
    return writeItem(getPath(), getName(), key, valueList);
}

bool NativeFile::readItem(const QString &fullPath, const QString &fileName, const QString &key,
                          QString *getValue)
{
    QJsonObject store;
    loadStore(joinPath(fullPath, fileName), &store);
    const auto member = store.constFind(key);
    if (member == store.constEnd() || !member->isString())
        return false;
    if (getValue)
        *getValue = member->toString();
    return true;
}

bool NativeFile::readItem(const QString &fullPath, const QString &fileName, const QString &key,
                          QStringList *getValueList)
{
    QString joined;
    if (!readItem(fullPath, fileName, key, &joined))
        return false;
    if (getValueList)
        *getValueList = joined.split(QLatin1Char(','), Qt::KeepEmptyParts, Qt::CaseSensitive);
    return true;
}

bool NativeFile::readItem(const QString &key, QString *getValue)
{
    if (!hasDefaultFile())
        return false;
    return readItem(getPath(), getName(), key, getValue);
}

bool NativeFile::readItem(const QString &key, QStringList *getValueList)
{
    if (!hasDefaultFile())
        return false;
    return readItem(getPath(), getName(), key, getValueList);
}

bool NativeFile::hasDefaultFile()
{
    return !defaultStore().folder.isEmpty() && !defaultStore().fileName.isEmpty();
}

// A missing, empty or unusable file gives an empty object. Returns false only when the file holds
// content that is not a JSON object, i.e. something a rewrite would throw away.
bool NativeFile::loadStore(const QString &filePath, QJsonObject *store)
{
    QString text;
    getFileContent(filePath, &text);
    const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
    *store = document.object();
    return document.isObject() || QFileInfo(filePath).size() == 0;
}

// The new content goes to a temporary file that replaces the old one only once it is complete,
// so an interrupted write never leaves a truncated or empty store behind.
bool NativeFile::saveStore(const QString &filePath, const QJsonObject &store)
{
    // Created owner-only and empty first: the rewrite then inherits those permissions, and the
    // content is never readable by others, not even for a moment.
    const bool created = !QFileInfo::exists(filePath) && OwnerFile::createEmpty(filePath);
    QSaveFile file(filePath);
    bool saved = file.open(QIODevice::WriteOnly | QIODevice::Text);
    if (saved) {
        // The rewrite would keep an older file's wider permissions.
        PlatformPaths::restrictToOwner(file);
        file.write(QJsonDocument(store).toJson(QJsonDocument::Indented));
        saved = file.commit();
    }
    if (!saved && created)
        QFile::remove(filePath);
    return saved;
}

// Facts come from the file system alone: opening a FIFO blocks for ever, and a device such as
// /dev/zero never ends. What is not a regular file counts as no file at all.
bool NativeFile::traceFacts(const QString &filePath, const char *operation, FileFacts facts)
{
    const QFileInfo info(filePath);
    if (!info.isFile() || !info.isReadable()) {
        MODULE_TRACE_AS(lcStorage, operation) << "open file ERROR";
        return false;
    }
    MODULE_TRACE_AS(lcStorage, operation) << info.fileName();
    if (facts == FileFacts::All) {
        MODULE_TRACE_AS(lcStorage, operation) << isoLocal(creationTime(info));
        MODULE_TRACE_AS(lcStorage, operation) << isoLocal(info.lastModified());
    }
    return true;
}
