#include "history/historylocation.h"

#include <QDir>
#include <QStandardPaths>
#include <QUrl>

bool HistoryLocation::server(Server *parts, QString *problem) const
{
    const QUrl parsed(url, QUrl::StrictMode);
    const QString database = parsed.path().mid(1);
    if (!parsed.isValid() || (parsed.scheme() != "postgresql" && parsed.scheme() != "postgres") ||
        parsed.host().isEmpty() || database.isEmpty() || database.contains('/')) {
        if (problem)
            *problem = QStringLiteral("the history URL must read postgresql://USER@HOST:PORT/DB");
        return false;
    }
    if (!parsed.password().isEmpty()) {
        if (problem)
            *problem =
                QStringLiteral("the history URL must not hold a password: use PGPASSWORD or ~/.pgpass");
        return false;
    }
    parts->user = parsed.userName();
    parts->host = parsed.host();
    parts->port = parsed.port(5432);
    parts->database = database;
    return true;
}

QString HistoryLocation::displayName() const
{
    if (!isShared())
        return localPath;
    Server parts;
    if (!server(&parts, nullptr))
        return QStringLiteral("the history server");
    return QStringLiteral("postgresql://%1@%2:%3/%4")
        .arg(parts.user, parts.host)
        .arg(parts.port)
        .arg(parts.database);
}

HistoryLocation HistoryLocation::fromEnvironment(const QString &urlOption)
{
    HistoryLocation location;
    location.url = urlOption.isEmpty() ? qEnvironmentVariable("PLOVIKKIT_HISTORY_URL") : urlOption;
    return location;
}

QString HistoryLocation::defaultLocalPath()
{
    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    const QString base =
        !xdg.isEmpty() ? xdg : QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return QDir(base).filePath(QStringLiteral("plovikkit/history.sqlite"));
}
