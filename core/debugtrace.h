#pragma once

#include <QDebug>
#include <QLoggingCategory>
#include <QString>

// The three forms of the debug trace. Every line goes to the toolkit's debug stream;
// none of them ever reaches the log console.
namespace DebugTrace {

// The debug stream's own category (the default one, so lines carry no category prefix).
// While its debug level is off, a trace line is not even formatted.
const QLoggingCategory &category();

// "main-" + function + "[" + line + "]": the tag of the main window's own functions.
QString mainTag(const char *function, int line);

// "%1 - [Info ] (%2-%3 %4): " for helper modules such as the settings store.
QString moduleTag(const char *sourceFile, int line, const char *function);

} // namespace DebugTrace

// A trace line without a tag (window traces that name the control and its signal).
#define TRACE() qCDebug(DebugTrace::category)
// Main-window form: the tag is written quoted, the message items follow.
#define MAIN_TRACE() TRACE() << DebugTrace::mainTag(__func__, __LINE__)
// Same tag for code that runs on behalf of a main-window function of another name.
#define MAIN_TRACE_AS(function) TRACE() << DebugTrace::mainTag(function, __LINE__)
// Helper-module form: unquoted output after the prefix.
#define MODULE_TRACE() TRACE().noquote() << DebugTrace::moduleTag(__FILE__, __LINE__, __func__)
// Same prefix for a helper that writes on behalf of the operation `function`.
#define MODULE_TRACE_AS(function) TRACE().noquote() << DebugTrace::moduleTag(__FILE__, __LINE__, function)
// Same prefix under a file name of the trace's own choosing.
#define MODULE_TRACE_NAMED(file, function)                                                                   \
    TRACE().noquote() << DebugTrace::moduleTag(file, __LINE__, function)
