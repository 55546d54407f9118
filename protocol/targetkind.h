#pragma once

#include <QString>

// The kind of device on the other end; it decides how the device is asked to enter its
// bootloader.
enum class TargetKind
{
    Module,
    DemoBoard,
    Gateway
};

// The word for a kind on a command line and in messages: "module", "demo" or "gateway".
QString targetKindName(TargetKind kind);
// False when `text` names no kind.
bool parseTargetKind(const QString &text, TargetKind *kind);
