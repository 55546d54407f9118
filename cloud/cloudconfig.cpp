#include "cloud/cloudconfig.h"

#include <QtGlobal>

namespace CloudConfig {

namespace {

QString setting(const char *variable, const char *builtIn)
{
    if (qEnvironmentVariableIsSet(variable))
        return qEnvironmentVariable(variable).trimmed();
    return QString::fromUtf8(builtIn).trimmed();
}

} // namespace

QString serviceUrl()
{
    QString url = setting("PLOVIKKIT_CLOUD_URL", PLOVIKKIT_BUILT_IN_CLOUD_URL);
    while (url.endsWith(QLatin1Char('/')))
        url.chop(1);
    return url;
}

QString catalogueAccount()
{
    return setting("PLOVIKKIT_CATALOGUE_ACCOUNT", PLOVIKKIT_BUILT_IN_CATALOGUE_ACCOUNT);
}

QString endpoint(const QString &path)
{
    const QString url = serviceUrl();
    return url.isEmpty() ? QString() : url + path;
}

} // namespace CloudConfig
