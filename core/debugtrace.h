#pragma once

#include <QDebug>
#include <QLoggingCategory>
#include <QString>

// The debug trace, one logging category per subsystem, so that a field engineer can switch one
// on alone: QT_LOGGING_RULES="plovik.*.debug=false;plovik.serial.debug=true". While a category's
// debug level is off, its trace lines are not even formatted. None of them ever reaches the log
// console.
Q_DECLARE_LOGGING_CATEGORY(lcUpdate)  // plovik.update: the engine and its links
Q_DECLARE_LOGGING_CATEGORY(lcSerial)  // plovik.serial: the serial port and its panel
Q_DECLARE_LOGGING_CATEGORY(lcMqtt)    // plovik.mqtt: the broker connection and its window
Q_DECLARE_LOGGING_CATEGORY(lcCloud)   // plovik.cloud: the cloud service, login, catalogue
Q_DECLARE_LOGGING_CATEGORY(lcStorage) // plovik.storage: the settings files
Q_DECLARE_LOGGING_CATEGORY(lcApp)     // plovik.app: the rest of the window

// The three forms of the debug trace.
namespace DebugTrace {

// "main-" + function + "[" + line + "]": the tag of the main window's own functions.
QString mainTag(const char *function, int line);

// "%1 - [Info ] (%2-%3 %4): " for helper modules such as the settings store.
QString moduleTag(const char *sourceFile, int line, const char *function);

// The message alone, without the category's name: the trace reads as it always did.
void useMessageOnlyPattern();

// Every subsystem's trace on or off. QT_LOGGING_RULES still decides over it, so a field
// engineer can keep one subsystem on (or off) whatever the program chose.
void setTraceOn(bool on);

} // namespace DebugTrace

// A trace line without a tag (window traces that name the control and its signal).
#define TRACE(category) qCDebug(category)
// Main-window form: the tag is written quoted, the message items follow.
#define MAIN_TRACE(category) TRACE(category) << DebugTrace::mainTag(__func__, __LINE__)
// Same tag for code that runs on behalf of a main-window function of another name.
#define MAIN_TRACE_AS(category, function) TRACE(category) << DebugTrace::mainTag(function, __LINE__)
// Helper-module form: unquoted output after the prefix.
#define MODULE_TRACE(category)                                                                               \
    TRACE(category).noquote() << DebugTrace::moduleTag(__FILE__, __LINE__, __func__)
// Same prefix for a helper that writes on behalf of the operation `function`.
#define MODULE_TRACE_AS(category, function)                                                                  \
    TRACE(category).noquote() << DebugTrace::moduleTag(__FILE__, __LINE__, function)
// Same prefix under a file name of the trace's own choosing.
#define MODULE_TRACE_NAMED(category, file, function)                                                         \
    TRACE(category).noquote() << DebugTrace::moduleTag(file, __LINE__, function)
