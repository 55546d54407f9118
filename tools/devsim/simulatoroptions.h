#pragma once

#include "protocol/targetkind.h"

#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <cstdint>

class QCommandLineParser;

// Everything the simulated devices can be told on their command line; every device gets
// the same. Frame numbers count the FIRMWARE LEN, PACKET, CHECK and OVER frames a device
// receives from 1 in arrival order over the whole life of the process.
struct SimulatorOptions
{
    TargetKind target = TargetKind::Module;
    uint16_t splitLen = 1024;
    uint16_t uartLen = 128;
    uint16_t overDelay = 10;
    uint32_t deviceAddr = 0x12345678;
    // With several devices "{}" stands for the device's name.
    QString outputPath;
    // The Nth names the Nth port.
    QStringList linkPaths;
    int portCount = 1;
    int demoDelayMs = 500;
    int demoRepeatMs = 1500;
    // After a RETURN FAIL without the rewind flag the bootloader starts its request again;
    // negative: it stays quiet.
    int restartDelayMs = 200;
    QSet<int> dropReplyFrames;
    QSet<int> failFrames;
    uint8_t failCode = 0x02;
    QSet<int> garbageFrames;
    bool silent = false;
    // The module acknowledges its two commands before the bootloader starts.
    bool moduleAnswers = false;
    int replyDelayMs = 0;
    // The radio hop each message the device sends crosses before it reaches the line.
    int latencyMs = 0;
    int baudRate = 0;
    int overReply = -1; // command byte that answers FIRMWARE OVER; -1: RETURN SUCCESS
    bool summary = false;
    // Bench mode: each pty is a fixture that this many devices pass, one at a time; 0: one
    // device that is always there.
    int devicesPerPort = 0;
    // The slot stays empty this long, at start and after each device left.
    int arriveAfterMs = 500;
    // A device leaves this long after its update ended.
    int stayMs = 1000;
    bool exitWhenDone = false;
    // Gateway mode: the device sits behind a radio gateway on this broker instead of a pty.
    QString mqttHost;
    quint16 mqttPort = 1883;
    QStringList gatewayIds;
    int chatterMs = 0;
    bool chatterBeforeReplies = false;

    static void addTo(QCommandLineParser *parser);
    // False with a message when a value is out of range or not a number.
    static bool read(const QCommandLineParser &parser, SimulatorOptions *out, QString *error);
    static QString helpText();

    // The names of the ports: their numbers from 1.
    QStringList portNames() const;
    int deviceCount() const
    {
        return mqttHost.isEmpty() ? portCount * qMax(1, devicesPerPort) : gatewayIds.size();
    }
    // These options as one device takes them: its own output file.
    SimulatorOptions forDevice(const QString &name) const;
    // Port p's device k (both from 1) is "p.k", and its address base + (p - 1) * N + k - 1,
    // modulo 2^32, so that no two devices of one run share an address.
    static QString benchDeviceName(int port, int number);
    uint32_t benchDeviceAddr(int port, int number) const;
    SimulatorOptions forBenchDevice(int port, int number) const;
};
