#pragma once

#include "myhttp.h"

#include <QString>

// The cloud service's endpoints and the requests the tool makes on them. Values are escaped
// where they go: percent-encoded in queries, JSON-escaped inside the request bodies, so that an
// account name with a quote, "&", "#" or a blank reaches the service as typed.
//
// Replies go to the caller's callback unchanged; what they mean is up to the caller. JSON answers
// are bounded by MyHttp's JSON limit, downloads by the size the caller allows.
class CloudService
{
public:
    static inline const QString kFileInforPath = QStringLiteral("/file_infor/get");
    static inline const QString kFileDownloadPath = QStringLiteral("/file/download");
    static inline const QString kLoginPath = QStringLiteral("/user_infor/login");
    static inline const QString kUserInforPath = QStringLiteral("/user_infor/get");
    static inline const QString kPasswordUpdatePath = QStringLiteral("/user_infor/password/update");
    static inline const QString kAppProjectModel = QStringLiteral("plovikKit-update");

    explicit CloudService(MyHttp &http);

    // Account requests; passwords are sent as their SHA-512 digests.
    bool login(const QString &account, const QString &password, const MyHttp::BodyCallback &callback,
               QString *error = nullptr);
    bool userInformation(const QString &account, const MyHttp::BodyCallback &callback,
                         QString *error = nullptr);
    bool updatePassword(const QString &account, const QString &newPassword, const QString &oldPassword,
                        const MyHttp::BodyCallback &callback, QString *error = nullptr);

    // Catalogue and self-update requests; `context` is handed to the callback as its first
    // context, the other two are null. Downloads always use the built-in catalogue account and
    // take at most `maxBytes`.
    bool firmwareList(void *context, const QString &account, const MyHttp::ContextCallback &callback,
                      QString *error = nullptr);
    bool firmwareDownload(void *context, const QString &id, qint64 maxBytes,
                          const MyHttp::ContextCallback &callback, QString *error = nullptr);
    bool newestAppVersion(void *context, const MyHttp::ContextCallback &callback, QString *error = nullptr);
    bool appDownload(void *context, qint64 maxBytes, const MyHttp::ContextCallback &callback,
                     QString *error = nullptr);

private:
    MyHttp &http;
};
