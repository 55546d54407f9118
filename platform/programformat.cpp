#include "platform/programformat.h"

#include <QCoreApplication>
#include <QFile>
#include <QtEndian>

namespace ProgramFormat {

namespace {

// The PE header may stand anywhere in the first KiBs; ELF and Mach-O headers come first.
constexpr qint64 kHeaderBytes = 4096;

// ELF: identification bytes, then type and machine in the file's own byte order.
constexpr int kElfClass = 4;
constexpr int kElfData = 5;
constexpr int kElfType = 16;
constexpr int kElfMachine = 18;
constexpr int kElf32HeaderBytes = 52;
constexpr int kElfExecutable = 2;
constexpr int kElfSharedObject = 3; // what position-independent programs are
// PE: the DOS header points at "PE\0\0", which the file header follows.
constexpr int kPeOffsetField = 0x3C;
constexpr int kPeMachine = 4;
constexpr int kPeCharacteristics = 22;
constexpr quint16 kPeExecutableImage = 0x0002;
constexpr quint16 kPeDll = 0x2000;

bool isElf(const QByteArray &bytes)
{
    return bytes.size() >= kElf32HeaderBytes && bytes.startsWith("\x7f"
                                                                 "ELF");
}

bool isPe(const QByteArray &bytes)
{
    return bytes.size() >= kPeOffsetField + 4 && bytes.startsWith("MZ");
}

quint16 elfHalf(const QByteArray &bytes, int at)
{
    const uchar *field = reinterpret_cast<const uchar *>(bytes.constData()) + at;
    return bytes.at(kElfData) == 2 ? qFromBigEndian<quint16>(field) : qFromLittleEndian<quint16>(field);
}

QString elfProblem(const QByteArray &candidate, const QByteArray &running)
{
    if (!isElf(candidate))
        return QStringLiteral("it is no ELF program");
    if (candidate.mid(kElfClass, 2) != running.mid(kElfClass, 2))
        return QStringLiteral("its ELF class or byte order is not this system's");
    const quint16 type = elfHalf(candidate, kElfType);
    if (type != kElfExecutable && type != kElfSharedObject)
        return QStringLiteral("it is an ELF file that cannot be started (type %1)").arg(type);
    if (elfHalf(candidate, kElfMachine) != elfHalf(running, kElfMachine))
        return QStringLiteral("it is an ELF program for another machine (%1, this one is %2)")
            .arg(elfHalf(candidate, kElfMachine))
            .arg(elfHalf(running, kElfMachine));
    return QString();
}

// The offset of "PE\0\0" when the file header behind it is complete, else -1.
qint64 peHeader(const QByteArray &bytes)
{
    if (!isPe(bytes))
        return -1;
    const qint64 at = qFromLittleEndian<quint32>(bytes.constData() + kPeOffsetField);
    if (at + kPeCharacteristics + 2 > bytes.size() || bytes.mid(int(at), 4) != QByteArray("PE\0\0", 4))
        return -1;
    return at;
}

quint16 peHalf(const QByteArray &bytes, qint64 at)
{
    return qFromLittleEndian<quint16>(bytes.constData() + at);
}

QString peProblem(const QByteArray &candidate, const QByteArray &running)
{
    const qint64 header = peHeader(candidate);
    const qint64 runningHeader = peHeader(running);
    if (header < 0)
        return QStringLiteral("it is no Windows program");
    const quint16 characteristics = peHalf(candidate, header + kPeCharacteristics);
    if (!(characteristics & kPeExecutableImage) || (characteristics & kPeDll))
        return QStringLiteral("it is a Windows library or object, not a program");
    if (runningHeader < 0 ||
        peHalf(candidate, header + kPeMachine) != peHalf(running, runningHeader + kPeMachine))
        return QStringLiteral("it is a Windows program for another machine");
    return QString();
}

} // namespace

QString problem(const QByteArray &candidate, const QByteArray &running)
{
    if (isElf(running))
        return elfProblem(candidate, running);
    if (isPe(running))
        return peProblem(candidate, running);
    // Another format (Mach-O): magic number and machine lead the file.
    constexpr int kLeadBytes = 8;
    if (running.size() < kLeadBytes || !candidate.startsWith(running.left(kLeadBytes)))
        return QStringLiteral("it does not start as this system's programs do");
    return QString();
}

QString problemOnThisSystem(const QByteArray &candidate)
{
    const QByteArray running = headerOf(QCoreApplication::applicationFilePath());
    if (running.isEmpty())
        return QStringLiteral("the running program %1 cannot be read to compare with")
            .arg(QCoreApplication::applicationFilePath());
    return problem(candidate, running);
}

QByteArray headerOf(const QString &path)
{
    QFile program(path);
    return program.open(QIODevice::ReadOnly) ? program.read(kHeaderBytes) : QByteArray();
}

} // namespace ProgramFormat
