#pragma once

#include "httpresult.h"

#include <QString>

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

    HttpResult get(const QString &baseUrl, const QString &query, const Limit &limit = jsonReply());
    // Sends `body` as UTF-8 JSON.
    HttpResult post(const QString &baseUrl, const QString &query, const QString &body,
                    const Limit &limit = jsonReply());

    // The silence after which a request gives up; process-wide.
    static int timeoutMs();
    static void setTimeoutMs(int ms);
};
