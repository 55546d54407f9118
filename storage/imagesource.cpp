#include "storage/imagesource.h"

#include "storage/firmwareimage.h"
#include "storage/nativefile.h"

#include <QCryptographicHash>

namespace {

// Only the file system's facts: a FIFO or a device named by mistake is never opened.
ImageSource::Facts fileFacts(const QString &path)
{
    ImageSource::Facts facts;
    const qint64 size = NativeFile::getFileSize(path);
    if (size < 0)
        return facts;
    NativeFile files;
    facts = {files.getFileName(path), size, files.getFileCreatedTime(path), files.getFileOwner(path)};
    return facts;
}

} // namespace

ImageSource::ImageSource(QObject *parent) : QObject(parent) {}

bool ImageSource::setFile(const QString &path)
{
    from = Origin::File;
    filePath = path;
    cloudId.clear();
    imageFacts = fileFacts(path);
    takeBytes(QByteArray());
    emit changed();
    return imageFacts.size >= 0;
}

void ImageSource::setCloudRecord(const QString &recordId, const QByteArray &bytes, const Facts &facts)
{
    from = Origin::Cloud;
    filePath.clear();
    cloudId = recordId;
    imageFacts = facts;
    imageFacts.size = bytes.size();
    takeBytes(bytes);
    emit changed();
}

void ImageSource::setBytes(const QByteArray &bytes)
{
    from = Origin::Memory;
    filePath.clear();
    cloudId.clear();
    imageFacts = Facts();
    imageFacts.size = bytes.size();
    takeBytes(bytes);
    emit changed();
}

void ImageSource::clear()
{
    from = Origin::None;
    filePath.clear();
    cloudId.clear();
    imageFacts = Facts();
    takeBytes(QByteArray());
    emit changed();
}

bool ImageSource::load(QString *problem)
{
    problem->clear();
    if (from != Origin::File)
        return true;
    QByteArray read;
    const bool ok = FirmwareImage::read(filePath, &read, problem);
    // The file may have changed since it was chosen: the facts describe what goes out now.
    imageFacts = fileFacts(filePath);
    takeBytes(read);
    emit changed();
    return ok;
}

QString ImageSource::sourceText() const
{
    switch (from) {
    case Origin::Cloud:
        return QStringLiteral("cloud:%1 %2").arg(cloudId, imageFacts.name);
    case Origin::File:
        return filePath;
    default:
        return QString();
    }
}

void ImageSource::takeBytes(const QByteArray &bytes)
{
    imageBytes = bytes;
    digest = bytes.isEmpty()
                 ? QString()
                 : QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}
