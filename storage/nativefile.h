#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

class QJsonObject;

// Key/value store over a small JSON object file, plus the facts the update page shows about a
// firmware file. Every call opens, reads or rewrites the file and closes it again, so nothing is
// cached between calls. The slots are also invoked by name, so their order is part of the interface.
class NativeFile : public QObject
{
    Q_OBJECT

public:
    explicit NativeFile(QObject *parent = nullptr);

    // The size in bytes of a readable regular file, -1 for anything else; never opens the file.
    static qint64 getFileSize(const QString &fullPath_fileName);

public slots:
    bool setPath_name(const QString &fullPath, const QString &fileName);
    QString getPath();
    QString getName();
    bool getFileContent(const QString &fullPath_fileName, QString *getValue);
    bool getFileContent(const QString &fullPath_fileName, QByteArray *getValue);
    QString getFileCreatedTime(const QString &fullPath_fileName);
    QString getFileName(const QString &fullPath_fileName);
    QString getFileOwner(const QString &fullPath_fileName);
    bool writeItem(const QString &fullPath, const QString &fileName, const QString &key,
                   const QString &value);
    bool writeItem(const QString &fullPath, const QString &fileName, const QString &key,
                   const QStringList &valueList);
    bool writeItem(const QString &key, const QString &value);
    bool writeItem(const QString &key, const QStringList &valueList);
    bool readItem(const QString &fullPath, const QString &fileName, const QString &key, QString *getValue);
    bool readItem(const QString &fullPath, const QString &fileName, const QString &key,
                  QStringList *getValueList);
    bool readItem(const QString &key, QString *getValue);
    bool readItem(const QString &key, QStringList *getValueList);

private:
    static bool hasDefaultFile();
    bool loadStore(const QString &filePath, QJsonObject *store);
    static bool saveStore(const QString &filePath, const QJsonObject &store);
    enum class FileFacts
    {
        All,
        NameOnly
    };
    // Checks that the path is a readable regular file for one of the file-information
    // operations and writes their trace lines.
    static bool traceFacts(const QString &filePath, const char *operation, FileFacts facts);
};
