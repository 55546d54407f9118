#include "history/updaterecord.h"

#include "history/historyexport.h"

#include <QJsonValue>

namespace {

QJsonValue textOrNull(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

QJsonValue timeOrNull(const QDateTime &time)
{
    return time.isValid() ? QJsonValue(UpdateRecord::timeText(time)) : QJsonValue();
}

template <typename T> QJsonValue numberOrNull(const std::optional<T> &number)
{
    return number ? QJsonValue(double(*number)) : QJsonValue();
}

template <typename T> std::optional<T> numberFrom(const QJsonValue &value)
{
    if (!value.isDouble())
        return std::nullopt;
    return T(value.toDouble());
}

QDateTime timeFrom(const QJsonValue &value)
{
    return QDateTime::fromString(value.toString(), Qt::ISODateWithMs).toUTC();
}

template <typename T> QString numberText(const std::optional<T> &number)
{
    return number ? QString::number(*number) : QString();
}

} // namespace

QStringList UpdateRecord::fieldNames()
{
    return {
        "id",     "run",       "started",     "ended",        "station",    "operator",   "tool_version",
        "link",   "target",    "port_serial", "port_usb_id",  "port_by_id", "gateway",    "target_kind",
        "device", "split_len", "packet_len",  "image_sha256", "image_size", "image_name", "image_source",
        "result", "kind",      "reason",      "bytes_acked",  "repeats",    "timeouts",   "connect_attempts",
        "seconds"};
}

QJsonObject UpdateRecord::toJson() const
{
    QJsonObject o;
    o["id"] = textOrNull(id);
    o["run"] = textOrNull(run);
    o["started"] = timeOrNull(started);
    o["ended"] = timeOrNull(ended);
    o["station"] = textOrNull(station);
    o["operator"] = textOrNull(operatorName);
    o["tool_version"] = textOrNull(toolVersion);
    o["link"] = textOrNull(link);
    o["target"] = textOrNull(target);
    o["port_serial"] = textOrNull(portSerial);
    o["port_usb_id"] = textOrNull(portUsbId);
    o["port_by_id"] = textOrNull(portById);
    o["gateway"] = textOrNull(gateway);
    o["target_kind"] = textOrNull(targetKind);
    o["device"] = textOrNull(device);
    o["split_len"] = numberOrNull(splitLen);
    o["packet_len"] = numberOrNull(packetLen);
    o["image_sha256"] = textOrNull(imageSha256);
    o["image_size"] = numberOrNull(imageSize);
    o["image_name"] = textOrNull(imageName);
    o["image_source"] = textOrNull(imageSource);
    o["result"] = textOrNull(result);
    o["kind"] = textOrNull(kind);
    o["reason"] = textOrNull(reason);
    o["bytes_acked"] = numberOrNull(bytesAcked);
    o["repeats"] = numberOrNull(repeats);
    o["timeouts"] = numberOrNull(timeouts);
    o["connect_attempts"] = numberOrNull(connectAttempts);
    o["seconds"] = numberOrNull(seconds);
    return o;
}

UpdateRecord UpdateRecord::fromJson(const QJsonObject &o)
{
    UpdateRecord r;
    r.id = o["id"].toString();
    r.run = o["run"].toString();
    r.started = timeFrom(o["started"]);
    r.ended = timeFrom(o["ended"]);
    r.station = o["station"].toString();
    r.operatorName = o["operator"].toString();
    r.toolVersion = o["tool_version"].toString();
    r.link = o["link"].toString();
    r.target = o["target"].toString();
    r.portSerial = o["port_serial"].toString();
    r.portUsbId = o["port_usb_id"].toString();
    r.portById = o["port_by_id"].toString();
    r.gateway = o["gateway"].toString();
    r.targetKind = o["target_kind"].toString();
    r.device = o["device"].toString();
    r.splitLen = numberFrom<int>(o["split_len"]);
    r.packetLen = numberFrom<int>(o["packet_len"]);
    r.imageSha256 = o["image_sha256"].toString();
    r.imageSize = numberFrom<qint64>(o["image_size"]);
    r.imageName = o["image_name"].toString();
    r.imageSource = o["image_source"].toString();
    r.result = o["result"].toString();
    r.kind = o["kind"].toString();
    r.reason = o["reason"].toString();
    r.bytesAcked = numberFrom<qint64>(o["bytes_acked"]);
    r.repeats = numberFrom<int>(o["repeats"]);
    r.timeouts = numberFrom<int>(o["timeouts"]);
    r.connectAttempts = numberFrom<int>(o["connect_attempts"]);
    r.seconds = numberFrom<double>(o["seconds"]);
    return r;
}

QString UpdateRecord::toCsvLine() const
{
    const QStringList fields = {id,
                                run,
                                timeText(started),
                                timeText(ended),
                                station,
                                operatorName,
                                toolVersion,
                                link,
                                target,
                                portSerial,
                                portUsbId,
                                portById,
                                gateway,
                                targetKind,
                                device,
                                numberText(splitLen),
                                numberText(packetLen),
                                imageSha256,
                                numberText(imageSize),
                                imageName,
                                imageSource,
                                result,
                                kind,
                                reason,
                                numberText(bytesAcked),
                                numberText(repeats),
                                numberText(timeouts),
                                numberText(connectAttempts),
                                seconds ? QString::number(*seconds, 'f', 3) : QString()};
    QStringList quoted;
    for (const QString &field : fields)
        quoted << HistoryExport::csvField(field);
    return quoted.join(',');
}

QString UpdateRecord::csvHeader()
{
    return fieldNames().join(',');
}

QString UpdateRecord::timeText(const QDateTime &time)
{
    if (!time.isValid())
        return {};
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}
