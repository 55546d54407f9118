#pragma once

#include "cloud/httpresult.h"
#include "cloud/myhttp.h"

#include <QString>

// The cloud service's endpoints and the requests the tool makes on them. Values are escaped
// where they go: percent-encoded in queries, JSON-escaped inside the request bodies, so that an
// account name with a quote, "&", "#" or a blank reaches the service as typed.
//
// Each call returns the request's outcome with the reply unchanged; what it means is up to the
// caller. JSON answers are bounded by MyHttp's JSON limit, downloads by the size the caller allows.
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
    HttpResult login(const QString &account, const QString &password);
    HttpResult userInformation(const QString &account);
    HttpResult updatePassword(const QString &account, const QString &newPassword, const QString &oldPassword);

    // Catalogue and self-update requests. Downloads always use the built-in catalogue account and
    // take at most `maxBytes`.
    HttpResult firmwareList(const QString &account);
    HttpResult firmwareDownload(const QString &id, qint64 maxBytes);
    HttpResult newestAppVersion();
    HttpResult appDownload(qint64 maxBytes);

private:
    MyHttp &http;
};
