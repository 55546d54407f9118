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

namespace TargetKindText {

// The word for a kind on a command line and in messages: "module", "demo" or "gateway".
QString name(TargetKind kind);
// False when `text` names no kind.
bool parse(const QString &text, TargetKind *kind);

} // namespace TargetKindText
