#include "storage/firmwareimage.h"

#include "protocol/bootframe.h"
#include "storage/nativefile.h"

#include <QFileInfo>

QString FirmwareImage::fileProblem(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QString();
    if (!info.isFile())
        return QStringLiteral("firmware %1 is not a regular file").arg(path);
    if (info.size() > BootFrame::kMaxImageBytes)
        return QStringLiteral("firmware %1 is too large: %2 bytes, the most an update can send is %3 bytes")
            .arg(path)
            .arg(info.size())
            .arg(BootFrame::kMaxImageBytes);
    return QString();
}

bool FirmwareImage::read(const QString &path, QByteArray *bytes, QString *problem)
{
    bytes->clear();
    *problem = fileProblem(path);
    if (!problem->isEmpty())
        return false;
    NativeFile store;
    return store.getFileContent(path, bytes);
}
