#include "history/historystore.h"
HistoryStore::HistoryStore() {}
HistoryStore::~HistoryStore() {}
bool HistoryStore::open(const HistoryLocation &, QString *)
{
    return false;
}
bool HistoryStore::openLocal(const QString &, QString *)
{
    return false;
}
void HistoryStore::close() {}
bool HistoryStore::isOpen() const
{
    return false;
}
bool HistoryStore::begin(const UpdateRecord &)
{
    return false;
}
bool HistoryStore::complete(const UpdateRecord &)
{
    return false;
}
bool HistoryStore::write(const QList<UpdateRecord> &)
{
    return false;
}
QList<UpdateRecord> HistoryStore::find(const HistoryQuery &)
{
    return {};
}
QSqlQuery HistoryStore::findQuery(const HistoryQuery &)
{
    return QSqlQuery();
}
std::optional<UpdateRecord> HistoryStore::latestFor(const QString &, bool, const QString &, const QString &)
{
    return {};
}
QList<UpdateRecord> HistoryStore::runRecords(const QString &)
{
    return {};
}
HistorySummary HistoryStore::summary(const HistoryQuery &)
{
    return {};
}
QList<HistoryStore::Pending> HistoryStore::unsent(int)
{
    return {};
}
bool HistoryStore::markSent(const QList<Pending> &)
{
    return false;
}
bool HistoryStore::deliver(const QList<Pending> &)
{
    return false;
}
int HistoryStore::markInterrupted()
{
    return 0;
}
