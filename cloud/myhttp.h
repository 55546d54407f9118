#pragma once

#include "cloud/httpresult.h"

#include <QString>
#include <memory>

class QNetworkAccessManager;

// Sends HTTP requests and waits for each reply in place, so that callers read as straight-line
// code: a request returns its outcome. User input is held back while a request waits; timers,
// network and repaints go on.
//
// Only a 2xx status is an answer: a redirect is never followed, and it fails naming its status
// and where it points. No request waits for ever: it fails like any network error when nothing
// arrives for timeoutMs() (connecting included), or when it runs longer than its limit allows in
// all (or than a RequestBudget in force). Nor does any reply grow without end: reading stops,
// and the request fails, at the limit's size. Replies are asked for uncompressed, so the size
// counted is the size kept; a compressed one is refused.
//
// The full URL is the base URL followed directly by the query text; callers percent-encode
// the values they put into the query. An empty base URL means no service is configured: the
// request fails at once and nothing is sent.
//
// All requests of one helper go through one network access manager, made at the first request
// that is sent, so that a chain of requests shares its connections. Each request stands alone
// all the same: no cookie is sent or kept, and nothing of a reply outlives its request. Make a
// helper for one piece of work (a login and its user information, a query and its download), not
// for the whole run: as long as a manager lives, Qt's bearer management looks at the network
// interfaces every 10 s, which would wake an idle window for good.
class MyHttp
{
public:
    static constexpr int kDefaultTimeoutMs = 15000;
    // The service's JSON answers are a few KiB; one beyond this is no answer of it.
    static constexpr qint64 kMaxJsonBytes = 4 * 1024 * 1024;

    // What one reply may take: its body's size, and the time of the whole request.
    struct Limit
    {
        qint64 maxBytes;
        qint64 wholeMs;
    };
    // A JSON answer: kMaxJsonBytes, and the silence limit in all, as it comes at once.
    static Limit jsonReply();
    // A file of at most `maxBytes`, which may take ten silence limits in all.
    static Limit download(qint64 maxBytes);

    MyHttp();
    ~MyHttp();
    MyHttp(const MyHttp &) = delete;
    MyHttp &operator=(const MyHttp &) = delete;

    HttpResult get(const QString &baseUrl, const QString &query, const Limit &limit = jsonReply());
    // Sends `body` as UTF-8 JSON.
    HttpResult post(const QString &baseUrl, const QString &query, const QString &body,
                    const Limit &limit = jsonReply());

    // The silence after which a request gives up; process-wide.
    static int timeoutMs();
    static void setTimeoutMs(int ms);

private:
    HttpResult send(const char *function, const QString &baseUrl, const QString &query,
                    const QByteArray *postBody, const Limit &limit);

    std::unique_ptr<QNetworkAccessManager> manager;
};
