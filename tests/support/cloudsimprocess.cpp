#include "cloudsimprocess.h"

#include <QFile>
#include <QJsonDocument>

CloudSimProcess::~CloudSimProcess()
{
    process.kill();
    process.waitForFinished(3000);
}

bool CloudSimProcess::start(const QString &imageFolder, const QStringList &arguments)
{
    process.start(QStringLiteral("python3"),
                  QStringList{QStringLiteral(PLOVIKKIT_SOURCE_DIR "/scripts/cloud-sim"),
                              QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--replies"),
                              files.filePath("replies.json"), QStringLiteral("--log"),
                              files.filePath("log.jsonl"), imageFolder} +
                      arguments);
    if (!process.waitForStarted(5000) || !process.waitForReadyRead(10000))
        return false;
    baseUrl = QString::fromUtf8(process.readLine()).trimmed().section(QLatin1Char(' '), 1);
    return baseUrl.startsWith(QStringLiteral("http://"));
}

void CloudSimProcess::setReplies(const QJsonObject &replies)
{
    QFile file(files.filePath("replies.json"));
    if (file.open(QIODevice::WriteOnly))
        file.write(QJsonDocument(replies).toJson());
}

QList<QJsonObject> CloudSimProcess::requests() const
{
    QList<QJsonObject> found;
    QFile file(files.filePath("log.jsonl"));
    if (file.open(QIODevice::ReadOnly)) {
        while (!file.atEnd())
            found << QJsonDocument::fromJson(file.readLine()).object();
    }
    return found;
}

void CloudSimProcess::clearRequests()
{
    QFile::remove(files.filePath("log.jsonl"));
}
