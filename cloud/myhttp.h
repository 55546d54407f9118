#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

// Sends one HTTP request and waits for its reply in place, so that callers read as straight-line
// code. The callback runs exactly once, before the helper returns, with the reply body or with
// null when the request failed. User input is held back while a request waits; timers, network
// and repaints go on.
//
// No request waits for ever: it fails like any network error when nothing arrives for
// timeoutMs() (connecting included), or when it has run for ten times that long in all.
//
// The full URL is the base URL followed directly by the query text; callers percent-encode
// the values they put into the query. An empty base URL means no service is configured: the
// request fails at once and nothing is sent.
class MyHttp
{
public:
    using BodyCallback = std::function<void(const QByteArray *body)>;
    using ContextCallback =
        std::function<void(void *context1, const QByteArray *body, void *context2, void *context3)>;

    static constexpr int kDefaultTimeoutMs = 15000;

    // `error`, when given, receives why the request failed (it is emptied on success).
    bool get(const QString &baseUrl, const QString &query, const BodyCallback &callback,
             QString *error = nullptr);
    bool get(void *context1, void *context2, void *context3, const QString &baseUrl, const QString &query,
             const ContextCallback &callback, QString *error = nullptr);
    bool post(const QString &baseUrl, const QString &query, const QString &body, const BodyCallback &callback,
              QString *error = nullptr);

    // The silence after which a request gives up; process-wide.
    static int timeoutMs();
    static void setTimeoutMs(int ms);
};
