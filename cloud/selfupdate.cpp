#include "cloud/selfupdate.h"

#include "cloud/cloudenvelope.h"
#include "cloud/downloadcheck.h"
#include "platform/platformpaths.h"
#include "platform/programformat.h"
#include "platform/restartscript.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QSaveFile>

namespace SelfUpdate {

bool newestRecord(const QJsonObject &reply, QJsonObject *record)
{
    QJsonArray message;
    if (!CloudEnvelope::successMessage(reply, &message) || message.isEmpty())
        return false;
    *record = message.last().toObject();
    return true;
}

bool isNewer(const QString &newest, const QString &running)
{
    return newest.toULongLong() > running.toULongLong();
}

namespace {

// Why `build` must not replace the program; empty when it may.
QString buildProblem(const QByteArray &build, qint64 expectedLength)
{
    if (expectedLength <= 0)
        return QStringLiteral("the newest build's record gives no usable length, so the download cannot be "
                              "known to be complete");
    const QString problem = DownloadCheck::problem(build, expectedLength);
    if (!problem.isEmpty())
        return problem;
    const QString format = ProgramFormat::problemOnThisSystem(build);
    return format.isEmpty() ? QString()
                            : QStringLiteral("the download is no program for this system: ") + format;
}

} // namespace

QString handOver(const QByteArray &build, const QString &folder, const QString &program,
                 qint64 expectedLength)
{
    const QString problem = buildProblem(build, expectedLength);
    if (!problem.isEmpty())
        return problem;
    // An installed program (under /usr) is replaced by its package, never by itself.
    const QFileInfo programFile(program);
    if (!QFileInfo(programFile.absolutePath()).isWritable())
        return QStringLiteral("%1 cannot be replaced here (its folder is not writable); install the new "
                              "package instead")
            .arg(program);
    QSaveFile file(QDir(folder).filePath(PlatformPaths::updateTempFileName()));
    if (!file.open(QIODevice::WriteOnly) || file.write(build) != build.size() || !file.commit())
        return QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString());
    QString error;
    if (!RestartScript::start(folder, file.fileName(), program, &error))
        return error;
    return QString();
}

} // namespace SelfUpdate
