#include "tests/support/cloudsimprocess.h"

#include <QJsonDocument>

bool CloudSimProcess::start(const QString &imageFolder, const QStringList &arguments)
{
    process.start("python3", QStringList{PLOVIKKIT_SOURCE_DIR "/scripts/cloud-sim", "--port", "0",
                                         "--replies", files.filePath("replies.json"), "--log",
                                         files.filePath("log.jsonl"), imageFolder} +
                                 arguments);
    process.waitForReadyRead(10000);
    baseUrl = QString::fromUtf8(process.readLine()).trimmed().section(' ', 1);
    return baseUrl.startsWith("http://");
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
    for (bool open = file.open(QIODevice::ReadOnly); open && !file.atEnd();)
        found << QJsonDocument::fromJson(file.readLine()).object();
    return found;
}
