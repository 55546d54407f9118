#include "cloud/myhttp.h"

#include "cloud/requestbudget.h"
#include "cloud/servicetext.h"
#include "core/debugtrace.h"
#include "core/eventwait.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>
#include <atomic>
#include <memory>

// The helper-module trace names this helper by its class, whatever the file is called.
#define HTTP_TRACE(function) MODULE_TRACE_NAMED(lcCloud, "MyHttp.cpp", function)

namespace {

std::atomic<int> silenceLimitMs{MyHttp::kDefaultTimeoutMs};
constexpr int kWholeDownloadFactor = 10;
// The network thread reads at most this far ahead of the body taken so far, so that a reply
// that never ends costs no more than its limit and this.
constexpr qint64 kReadAheadBytes = 1024 * 1024;

// One reply being received: the body taken so far, never more than one byte beyond its limit.
struct Transfer
{
    QNetworkReply *reply;
    qint64 maxBytes;
    QByteArray body;
    bool finished = false;
    bool progressed = false;

    bool tooLarge() const { return body.size() > maxBytes; }
    void takeBytes()
    {
        body += reply->read(maxBytes + 1 - body.size());
        progressed = true;
    }
};

QString statusFailure(QNetworkReply *reply, int status)
{
    QString text = QStringLiteral("%1 answered with HTTP status %2 %3")
                       .arg(reply->url().toString())
                       .arg(status)
                       .arg(ServiceText::oneLine(
                           reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString()));
    if (status >= 300 && status < 400)
        text += QStringLiteral(", redirecting to \"%1\" (a redirect is not followed)")
                    .arg(ServiceText::oneLine(QString::fromUtf8(reply->rawHeader("Location"))));
    return text;
}

// Why a finished reply is no answer; empty for a 2xx status without a transport error.
QString replyFailure(QNetworkReply *reply)
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QByteArray encoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299))
        return statusFailure(reply, status.toInt());
    if (reply->error() != QNetworkReply::NoError)
        return QStringLiteral("cannot reach %1: %2").arg(reply->url().toString(), reply->errorString());
    if (!status.isValid())
        return QStringLiteral("%1 gave no HTTP status").arg(reply->url().toString());
    if (!encoding.isEmpty() && encoding != "identity")
        return QStringLiteral("%1 sent its answer compressed (%2), though it was asked not to")
            .arg(reply->url().toString(), ServiceText::oneLine(QString::fromLatin1(encoding)));
    return QString();
}

QString timeoutFailure(QNetworkReply *reply, qint64 wholeMs)
{
    return QStringLiteral("%1 timed out: nothing received for %2 s, or no complete answer in %3 s")
        .arg(reply->url().toString())
        .arg(silenceLimitMs / 1000.0)
        .arg(wholeMs / 1000.0);
}

// Waits while anything arrives, at most the silence limit between two pieces and `wholeMs` in
// all, and stops at the size limit. Returns why the transfer ended early; empty once finished.
QString receive(Transfer &transfer, qint64 wholeMs)
{
    QNetworkReply *reply = transfer.reply;
    QObject::connect(reply, &QNetworkReply::readyRead, [&transfer] { transfer.takeBytes(); });
    QObject::connect(reply, &QNetworkReply::finished, [&transfer] { transfer.finished = true; });
    QObject::connect(reply, &QNetworkReply::uploadProgress, [&transfer] { transfer.progressed = true; });
    QElapsedTimer whole;
    whole.start();
    while (!transfer.finished && !transfer.tooLarge()) {
        transfer.progressed = false;
        const qint64 left = wholeMs - whole.elapsed();
        if (!EventWait::waitUntil([&transfer] { return transfer.finished || transfer.progressed; },
                                  qMin<qint64>(silenceLimitMs, left), QEventLoop::ExcludeUserInputEvents))
            return timeoutFailure(reply, wholeMs);
    }
    if (!transfer.tooLarge())
        transfer.takeBytes();
    // A redirect or an error status says more than the size of the page that came with it.
    const QString failure = replyFailure(reply);
    if (failure.isEmpty() && transfer.tooLarge())
        return QStringLiteral("%1 sent more than %2 bytes; reading stopped there")
            .arg(reply->url().toString())
            .arg(transfer.maxBytes);
    return failure;
}

qint64 allowedMs(const MyHttp::Limit &limit)
{
    const qint64 budget = RequestBudget::remainingMs();
    return budget < 0 ? limit.wholeMs : qMin(limit.wholeMs, budget);
}

QNetworkReply *sendRequest(QNetworkAccessManager &manager, const QString &fullUrl, const QByteArray *postBody)
{
    QNetworkRequest request(QUrl(fullUrl, QUrl::TolerantMode));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    // Qt would ask for gzip and inflate a whole burst at once, before any limit is looked at: a
    // few MiB on the wire could take GiBs. Asked for none, the bytes counted are the bytes kept.
    request.setRawHeader("Accept-Encoding", "identity");
    // The manager serves a whole chain of requests, yet each stands alone: a cookie that one reply
    // sets must not ride along on the next request.
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    if (!postBody)
        return manager.get(request);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setHeader(QNetworkRequest::ContentLengthHeader, postBody->size());
    return manager.post(request, *postBody);
}

// Why the request is not sent at all; empty when it may go.
QString reasonNotToSend(const QString &baseUrl, const QString &fullUrl, qint64 wholeMs)
{
    if (baseUrl.isEmpty())
        return QStringLiteral("no cloud service configured (set PLOVIKKIT_CLOUD_URL)");
    if (wholeMs <= 0)
        return QStringLiteral("%1 not asked: the time for these requests has run out").arg(fullUrl);
    return QString();
}

// Sends the request and takes its reply, within `wholeMs` and the size limit.
HttpResult exchange(QNetworkAccessManager &manager, const QString &fullUrl, const QByteArray *postBody,
                    qint64 maxBytes, qint64 wholeMs)
{
    // Deleted before returning: the manager stays, and a reply left to it would go on reading.
    const std::unique_ptr<QNetworkReply> reply(sendRequest(manager, fullUrl, postBody));
    reply->setReadBufferSize(kReadAheadBytes);
    Transfer transfer{reply.get(), maxBytes, QByteArray()};
    const QString failure = receive(transfer, wholeMs);
    if (!transfer.finished)
        reply->abort();
    if (!failure.isEmpty())
        return {false, QByteArray(), failure};
    return {true, std::move(transfer.body), QString()};
}

} // namespace

MyHttp::Limit MyHttp::jsonReply()
{
    return {kMaxJsonBytes, silenceLimitMs};
}

MyHttp::Limit MyHttp::download(qint64 maxBytes)
{
    return {maxBytes, qint64(silenceLimitMs) * kWholeDownloadFactor};
}

MyHttp::MyHttp() = default;
MyHttp::~MyHttp() = default;

HttpResult MyHttp::get(const QString &baseUrl, const QString &query, const Limit &limit)
{
    return send("get", baseUrl, query, nullptr, limit);
}

HttpResult MyHttp::post(const QString &baseUrl, const QString &query, const QString &body, const Limit &limit)
{
    const QByteArray bytes = body.toUtf8();
    return send("post", baseUrl, query, &bytes, limit);
}

HttpResult MyHttp::send(const char *function, const QString &baseUrl, const QString &query,
                        const QByteArray *postBody, const Limit &limit)
{
    HttpResult outcome;
    const QString fullUrl = baseUrl + query;
    const qint64 wholeMs = allowedMs(limit);
    HTTP_TRACE(function) << fullUrl;
    outcome.error = reasonNotToSend(baseUrl, fullUrl, wholeMs);
    if (!outcome.error.isEmpty()) {
        HTTP_TRACE(function) << "http reply error" << outcome.error;
        return outcome;
    }
    if (!manager)
        manager = std::make_unique<QNetworkAccessManager>();
    outcome = exchange(*manager, fullUrl, postBody, limit.maxBytes, wholeMs);
    HTTP_TRACE(function) << "http reply end";
    if (!outcome.ok) {
        HTTP_TRACE(function) << "http reply error" << outcome.error;
        return outcome;
    }
    HTTP_TRACE(function) << outcome.body.size();
    return outcome;
}

int MyHttp::timeoutMs()
{
    return silenceLimitMs;
}

void MyHttp::setTimeoutMs(int ms)
{
    silenceLimitMs = qMax(1, ms);
}
