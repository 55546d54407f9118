#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// The image the next update sends, as one value: where it comes from (a file, or a cloud record),
// what it is (name, size, creation time, owner), its bytes and their SHA-256. The form's fields,
// the estimate, the session and the update record all read it, so they never disagree.
//
// A file's facts come from the file system when it is chosen (a remembered path may name a FIFO
// by now, so it is not opened); its bytes are read at `load`, just before they are sent, since
// the file may have changed since it was chosen.
class ImageSource : public QObject
{
    Q_OBJECT
public:
    enum class Origin
    {
        None,
        File,
        Cloud,
        // Bytes a caller handed over, neither a file nor a known record.
        Memory,
    };

    struct Facts
    {
        QString name;
        qint64 size = -1; // -1: unknown
        QString createdTime;
        QString owner;
    };

    explicit ImageSource(QObject *parent = nullptr);

    // False when `path` names no readable file: then the origin is the file, without facts.
    bool setFile(const QString &path);
    void setCloudRecord(const QString &recordId, const QByteArray &bytes, const Facts &facts);
    void setBytes(const QByteArray &bytes);
    void clear();
    // Makes `bytes` what is sent now: a record's or the caller's as they are, a file read afresh.
    // False when the file cannot be read, with the reason when there is one worth a console line.
    bool load(QString *problem);

    Origin origin() const { return from; }
    bool isCloud() const { return from == Origin::Cloud; }
    QString path() const { return filePath; }
    QString recordId() const { return cloudId; }
    const Facts &facts() const { return imageFacts; }
    const QByteArray &bytes() const { return imageBytes; }
    // Lower-case hex; empty until the bytes are known.
    QString sha256() const { return digest; }
    // As the record names it: the file's path, or "cloud:ID NAME".
    QString sourceText() const;

signals:
    void changed();

private:
    void takeBytes(const QByteArray &bytes);

    Origin from = Origin::None;
    QString filePath;
    QString cloudId;
    Facts imageFacts;
    QByteArray imageBytes;
    QString digest;
};
