#pragma once

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QTemporaryDir>

// scripts/cloud-sim on a free loopback port, serving `imageFolder`, with scripted replies and
// a log of every request it received. Stopped when the object is destroyed.
class CloudSimProcess
{
public:
    ~CloudSimProcess();

    bool start(const QString &imageFolder, const QStringList &arguments = {});
    QString url() const { return baseUrl; }

    // Replaces the scripted replies: path -> reply or list of replies (see scripts/cloud-sim).
    void setReplies(const QJsonObject &replies);
    // Every request so far: method, path, query, headers, body.
    QList<QJsonObject> requests() const;
    void clearRequests();

private:
    QProcess process;
    QTemporaryDir files;
    QString baseUrl;
};
