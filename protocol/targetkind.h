#pragma once

// The kind of device on the other end; it decides how the device is asked to enter its
// bootloader.
enum class TargetKind
{
    Module,
    DemoBoard,
    Gateway
};
