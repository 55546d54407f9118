#pragma once

#include "tests/support/childprocess.h"

#include <QFile>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QTemporaryDir>

// scripts/cloud-sim on a free loopback port, serving `imageFolder`, with scripted replies (path ->
// reply or list of replies, see the script) and a log of every request: method, path, query,
// headers, body. Stopped when the object is destroyed.
class CloudSimProcess
{
public:
    ~CloudSimProcess() { stopChildProcess(process); }
    bool start(const QString &imageFolder, const QStringList &arguments = {});
    QString url() const { return baseUrl; }
    void setReplies(const QJsonObject &replies);
    QList<QJsonObject> requests() const;
    void clearRequests() { QFile::remove(files.filePath("log.jsonl")); }

private:
    QProcess process;
    QTemporaryDir files;
    QString baseUrl;
};
