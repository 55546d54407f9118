#include "cloud/requestbudget.h"

namespace {

RequestBudget *current = nullptr;

} // namespace

RequestBudget::RequestBudget(qint64 ms) : deadline(ms), outer(current)
{
    if (outer && outer->deadline < deadline)
        deadline = outer->deadline;
    current = this;
}

RequestBudget::~RequestBudget()
{
    current = outer;
}

qint64 RequestBudget::remainingMs()
{
    return current ? current->deadline.remainingTime() : -1;
}
