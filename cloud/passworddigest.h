#pragma once

#include <QString>

// Passwords never travel in clear and never reach the trace.
namespace PasswordDigest {

// Lower-case hexadecimal SHA-512 of the password's UTF-8 bytes (128 characters).
QString of(const QString &password);

// What the trace shows instead of a password or its digest: a fixed mask that gives away
// neither the text nor its length; empty for an empty secret.
QString masked(const QString &secret);

} // namespace PasswordDigest
