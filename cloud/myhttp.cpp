#include "myhttp.h"

#include "debugtrace.h"
#include "eventwait.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>
#include <atomic>
#include <memory>

// The helper-module trace names this helper by its class, whatever the file is called.
#define HTTP_TRACE(function) MODULE_TRACE_NAMED("MyHttp.cpp", function)

namespace {

std::atomic<int> silenceLimitMs{MyHttp::kDefaultTimeoutMs};
constexpr int kWholeRequestFactor = 10;

struct Outcome
{
    bool ok = false;
    QByteArray body;
    QString error;
};

QString describeFailure(QNetworkReply *reply, bool timedOut, int limitMs)
{
    const QString url = reply->url().toString();
    if (timedOut)
        return QStringLiteral("%1 timed out: nothing received for %2 s, or no complete answer in %3 s")
            .arg(url)
            .arg(limitMs / 1000.0)
            .arg(limitMs * kWholeRequestFactor / 1000.0);
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid())
        return QStringLiteral("%1 answered with HTTP status %2 %3")
            .arg(url, status.toString(),
                 reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString());
    return QStringLiteral("cannot reach %1: %2").arg(url, reply->errorString());
}

// Waits for the reply while anything at all arrives, at most silenceLimitMs between two pieces
// and ten times that in all; aborts it otherwise. Returns false when it had to abort.
bool waitForReply(QNetworkReply *reply)
{
    bool finished = false;
    bool progressed = false;
    QObject::connect(reply, &QNetworkReply::finished, [&finished] { finished = true; });
    QObject::connect(reply, &QNetworkReply::downloadProgress, [&progressed] { progressed = true; });
    QObject::connect(reply, &QNetworkReply::uploadProgress, [&progressed] { progressed = true; });
    const int limitMs = silenceLimitMs;
    QElapsedTimer whole;
    whole.start();
    while (!finished) {
        progressed = false;
        const qint64 left = qint64(limitMs) * kWholeRequestFactor - whole.elapsed();
        const bool heard =
            EventWait::waitUntil([&] { return finished || progressed; }, qMin<qint64>(limitMs, left),
                                 QEventLoop::ExcludeUserInputEvents);
        if (!heard || (!finished && whole.elapsed() >= qint64(limitMs) * kWholeRequestFactor)) {
            reply->abort();
            return false;
        }
    }
    return true;
}

Outcome send(const char *function, const QString &baseUrl, const QString &query, const QByteArray *postBody)
{
    Outcome outcome;
    const QString fullUrl = baseUrl + query;
    HTTP_TRACE(function) << fullUrl;
    if (baseUrl.isEmpty()) {
        outcome.error = QStringLiteral("no cloud service configured (set PLOVIKKIT_CLOUD_URL)");
        HTTP_TRACE(function) << "http reply error" << outcome.error;
        return outcome;
    }
    QNetworkRequest request(QUrl(fullUrl, QUrl::TolerantMode));
    QNetworkAccessManager manager;
    std::unique_ptr<QNetworkReply> reply;
    if (postBody) {
        request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
        request.setHeader(QNetworkRequest::ContentLengthHeader, postBody->size());
        reply.reset(manager.post(request, *postBody));
    } else {
        reply.reset(manager.get(request));
    }
    const bool answered = waitForReply(reply.get());
    HTTP_TRACE(function) << "http reply end";
    if (!answered || reply->error() != QNetworkReply::NoError) {
        outcome.error = describeFailure(reply.get(), !answered, silenceLimitMs);
        HTTP_TRACE(function) << "http reply error" << outcome.error;
        return outcome;
    }
    outcome.ok = true;
    outcome.body = reply->readAll();
    HTTP_TRACE(function) << outcome.body.size();
    return outcome;
}

bool finish(const Outcome &outcome, QString *error)
{
    if (error)
        *error = outcome.error;
    return outcome.ok;
}

} // namespace

bool MyHttp::get(const QString &baseUrl, const QString &query, const BodyCallback &callback, QString *error)
{
    const Outcome outcome = send("get", baseUrl, query, nullptr);
    callback(outcome.ok ? &outcome.body : nullptr);
    return finish(outcome, error);
}

bool MyHttp::get(void *context1, void *context2, void *context3, const QString &baseUrl, const QString &query,
                 const ContextCallback &callback, QString *error)
{
    const Outcome outcome = send("get", baseUrl, query, nullptr);
    callback(context1, outcome.ok ? &outcome.body : nullptr, context2, context3);
    return finish(outcome, error);
}

bool MyHttp::post(const QString &baseUrl, const QString &query, const QString &body,
                  const BodyCallback &callback, QString *error)
{
    const QByteArray bytes = body.toUtf8();
    const Outcome outcome = send("post", baseUrl, query, &bytes);
    callback(outcome.ok ? &outcome.body : nullptr);
    return finish(outcome, error);
}

int MyHttp::timeoutMs()
{
    return silenceLimitMs;
}

void MyHttp::setTimeoutMs(int ms)
{
    silenceLimitMs = qMax(1, ms);
}
