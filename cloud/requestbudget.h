#pragma once

#include <QDeadlineTimer>
#include <QtGlobal>

// A time that a chain of requests shares. While a budget lives, every request gives up when it
// runs out, so that the whole chain takes at most that long: the window's start-up requests run
// while it cannot take the user's input. Budgets nest; the earlier end counts. GUI thread only.
class RequestBudget
{
public:
    explicit RequestBudget(qint64 ms);
    ~RequestBudget();
    RequestBudget(const RequestBudget &) = delete;
    RequestBudget &operator=(const RequestBudget &) = delete;

    // Milliseconds left of the budget in force, 0 when it has run out; -1 when none is.
    static qint64 remainingMs();

private:
    QDeadlineTimer deadline;
    RequestBudget *outer;
};
