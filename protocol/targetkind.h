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

// "module", "demo board" or "gateway", as the flasher's -t and the window's buttons mean them.
inline QString targetKindName(TargetKind kind)
{
    switch (kind) {
    case TargetKind::Module:
        return QStringLiteral("module");
    case TargetKind::DemoBoard:
        return QStringLiteral("demo board");
    case TargetKind::Gateway:
        return QStringLiteral("gateway");
    }
    return QString();
}
