#include "history/historyrecorder.h"

#include "core/appversion.h"
#include "history/historywriter.h"

#include <QCoreApplication>
#include <QMutex>
#include <QSysInfo>
#include <QThread>
#include <QUuid>

#include <pwd.h>
#include <unistd.h>

namespace {

QMutex identityMutex;
QString stationSetting;
QString accountSetting;

QString systemUser()
{
    if (const passwd *entry = getpwuid(geteuid()))
        return QString::fromLocal8Bit(entry->pw_name);
    return qEnvironmentVariable("USER");
}

QString newId()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

} // namespace

HistoryRecorder::HistoryRecorder(const HistoryLocation &location, QObject *parent)
    : QObject(parent), run(newId()), thread(new QThread), writer(new HistoryWriter(location))
{
    writer->moveToThread(thread);
    connect(writer, &HistoryWriter::problem, this, &HistoryRecorder::problem);
    connect(writer, &HistoryWriter::stored, this, &HistoryRecorder::stored);
    connect(writer, &HistoryWriter::delivered, this, &HistoryRecorder::delivered);
    thread->setObjectName(QStringLiteral("history"));
    thread->start(QThread::LowPriority);
    // Opening marks what dead processes left running, and sends what waits for the server.
    QMetaObject::invokeMethod(writer, &HistoryWriter::drain, Qt::QueuedConnection);
}

HistoryRecorder::~HistoryRecorder()
{
    finish(2000);
}

void HistoryRecorder::setStation(const QString &station)
{
    QMutexLocker lock(&identityMutex);
    stationSetting = station;
}

void HistoryRecorder::setOperatorAccount(const QString &account)
{
    QMutexLocker lock(&identityMutex);
    accountSetting = account;
}

QString HistoryRecorder::station()
{
    QMutexLocker lock(&identityMutex);
    return stationSetting.isEmpty() ? QSysInfo::machineHostName() : stationSetting;
}

QString HistoryRecorder::operatorName()
{
    QMutexLocker lock(&identityMutex);
    return accountSetting.isEmpty() ? systemUser()
                                    : QStringLiteral("%1 (%2)").arg(systemUser(), accountSetting);
}

UpdateRecord HistoryRecorder::newRecord(const QString &run)
{
    UpdateRecord record;
    record.id = newId();
    record.run = run;
    record.started = QDateTime::currentDateTimeUtc();
    record.station = station();
    record.operatorName = operatorName();
    record.toolVersion = QStringLiteral(PLOVIKKIT_VERSION);
    record.result = QStringLiteral("running");
    return record;
}

void HistoryRecorder::begin(const UpdateRecord &record)
{
    enqueue(record);
}

void HistoryRecorder::complete(const UpdateRecord &record)
{
    enqueue(record);
}

void HistoryRecorder::enqueue(const UpdateRecord &record)
{
    if (finished || writer->push(record) || overflowSaid)
        return;
    overflowSaid = true;
    emit problem(
        QStringLiteral("the update history falls behind; records beyond %1 waiting ones are not written")
            .arg(HistoryWriter::queueLimit));
}

bool HistoryRecorder::finish(int waitMs)
{
    if (finished)
        return true;
    finished = true;
    QMetaObject::invokeMethod(writer, &HistoryWriter::finish, Qt::QueuedConnection);
    const bool done = thread->wait(qMax(0, waitMs));
    // What the thread said arrives before finish() returns.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    if (!done) {
        // The thread may still hold the store; it is left to end on its own rather than cut off.
        emit problem(
            QStringLiteral("the update history did not take the last records within %1 ms").arg(waitMs));
        return false;
    }
    delete writer;
    delete thread;
    writer = nullptr;
    thread = nullptr;
    return true;
}
