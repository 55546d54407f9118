#pragma once

#include <QCoreApplication>
#include <QLoggingCategory>

// Qt objects with timers need an application object; the trace would only slow the search.
inline void startFuzzedApplication(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.warning=false"));
}
