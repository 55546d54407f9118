#pragma once

#include <QMetaType>
#include <QString>

// Why an update did not succeed: a kind that callers act on (the exit status, the summary, the
// record) and the text the console showed. It is set once, where the session fails, and read
// by everyone after; nobody works the kind out again from the text.
struct UpdateFailure
{
    enum class Kind
    {
        None,              // the update succeeded, or has not ended
        NoAnswer,          // the device never answered the connect attempts
        Refused,           // the device refused a frame or gave up on the exchange
        AnswersStopped,    // the device answered, then stopped answering
        LinkLost,          // the port or the broker went away while the update ran
        BrokerUnavailable, // the broker could not be reached before the update started
        ImageUnusable,     // the image cannot be sent: missing, empty, too large, unusable lengths
        StoppedByUser,     // "停止", a closed window
        StoppedBySignal,   // SIGINT, SIGTERM, SIGHUP
        HeldBack,          // never started: a canary did not succeed or too many targets failed
        AlreadyDone,       // skipped: the device or gateway already has this image; nothing was sent
    };

    Kind kind = Kind::None;
    QString text;

    UpdateFailure() = default;
    UpdateFailure(Kind kind, const QString &text) : kind(kind), text(text) {}

    bool isFailure() const { return kind != Kind::None; }
    // The way to the device failed, not the device: the port, the broker.
    bool isLinkFailure() const { return kind == Kind::LinkLost || kind == Kind::BrokerUnavailable; }
    // Worth another try later: the device was never reached or the way to it broke, so the
    // same image may well go through; a refusal or an unusable image would only repeat.
    bool isRetryable() const
    {
        return kind == Kind::NoAnswer || kind == Kind::LinkLost || kind == Kind::BrokerUnavailable ||
               kind == Kind::AnswersStopped;
    }
    bool isStop() const { return kind == Kind::StoppedByUser || kind == Kind::StoppedBySignal; }

    // The kind as scripts read it: "no-answer", "refused", "answers-stopped", "link-lost",
    // "broker-unavailable", "image-unusable", "stopped-by-user", "stopped-by-signal", "held-back",
    // "already-done";
    // empty for None.
    static QString kindName(Kind kind);
};
Q_DECLARE_METATYPE(UpdateFailure)
