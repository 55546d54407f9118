#include "history/historywriter.h"
#include "history/historystore.h"
HistoryWriter::HistoryWriter(const HistoryLocation &location) : location(location) {}
HistoryWriter::~HistoryWriter() = default;
bool HistoryWriter::push(const UpdateRecord &)
{
    return true;
}
void HistoryWriter::drain() {}
void HistoryWriter::finish() {}
