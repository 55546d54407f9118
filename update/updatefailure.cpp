#include "update/updatefailure.h"

QString UpdateFailure::kindName(Kind kind)
{
    switch (kind) {
    case Kind::None:
        break;
    case Kind::NoAnswer:
        return QStringLiteral("no-answer");
    case Kind::Refused:
        return QStringLiteral("refused");
    case Kind::AnswersStopped:
        return QStringLiteral("answers-stopped");
    case Kind::LinkLost:
        return QStringLiteral("link-lost");
    case Kind::BrokerUnavailable:
        return QStringLiteral("broker-unavailable");
    case Kind::ImageUnusable:
        return QStringLiteral("image-unusable");
    case Kind::StoppedByUser:
        return QStringLiteral("stopped-by-user");
    case Kind::StoppedBySignal:
        return QStringLiteral("stopped-by-signal");
    case Kind::HeldBack:
        return QStringLiteral("held-back");
    case Kind::AlreadyDone:
        return QStringLiteral("already-done");
    }
    return QString();
}
