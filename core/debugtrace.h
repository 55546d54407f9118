#pragma once

#include <QDebug>
#include <QString>

// The three forms of the debug trace. Every line goes to the toolkit's debug stream;
// none of them ever reaches the log console.
namespace DebugTrace {

// "main-" + function + "[" + line + "]": the tag of the main window's own functions.
QString mainTag(const char *function, int line);

// "%1 - [Info ] (%2-%3 %4): " for helper modules such as the settings store.
QString moduleTag(const char *sourceFile, int line, const char *function);

} // namespace DebugTrace

// Main-window form: the tag is written quoted, the message items follow.
#define MAIN_TRACE() qDebug() << DebugTrace::mainTag(__func__, __LINE__)
// Same tag for code that runs on behalf of a main-window function of another name.
#define MAIN_TRACE_AS(function) qDebug() << DebugTrace::mainTag(function, __LINE__)
// Helper-module form: unquoted output after the prefix.
#define MODULE_TRACE() qDebug().noquote() << DebugTrace::moduleTag(__FILE__, __LINE__, __func__)
// Same prefix for a helper that writes on behalf of the operation `function`.
#define MODULE_TRACE_AS(function) qDebug().noquote() << DebugTrace::moduleTag(__FILE__, __LINE__, function)
