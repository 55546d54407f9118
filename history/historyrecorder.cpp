#include "history/historyrecorder.h"
#include <QUuid>
HistoryRecorder::HistoryRecorder(const HistoryLocation &, QObject *parent)
    : QObject(parent), run(QUuid::createUuid().toString(QUuid::WithoutBraces))
{
}
HistoryRecorder::~HistoryRecorder() {}
void HistoryRecorder::setStation(const QString &) {}
void HistoryRecorder::setOperatorAccount(const QString &) {}
QString HistoryRecorder::station()
{
    return {};
}
QString HistoryRecorder::operatorName()
{
    return {};
}
UpdateRecord HistoryRecorder::newRecord(const QString &run)
{
    UpdateRecord r;
    r.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    r.run = run;
    r.result = "running";
    return r;
}
void HistoryRecorder::begin(const UpdateRecord &) {}
void HistoryRecorder::complete(const UpdateRecord &) {}
bool HistoryRecorder::finish(int)
{
    return true;
}
void HistoryRecorder::enqueue(const UpdateRecord &) {}
