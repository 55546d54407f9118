#include "cloud/passworddigest.h"

#include <QCryptographicHash>

namespace PasswordDigest {

QString of(const QString &password)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(password.toUtf8(), QCryptographicHash::Sha512).toHex());
}

QString masked(const QString &secret)
{
    return secret.isEmpty() ? QString() : QStringLiteral("********");
}

} // namespace PasswordDigest
