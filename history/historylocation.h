#pragma once

#include <QString>

// Where the update records live: a shared PostgreSQL server when `url` is set
// (postgresql://USER@HOST:PORT/DB), else the local SQLite file. The local file is always there
// as well: with a server it holds what waits to be sent. A password never travels in the URL:
// libpq reads PGPASSWORD or ~/.pgpass itself.
struct HistoryLocation
{
    QString url;
    QString localPath = defaultLocalPath();

    bool isShared() const { return !url.isEmpty(); }

    // The URL's parts; false (and why) when the URL is not a postgresql://USER@HOST:PORT/DB one.
    struct Server
    {
        QString user;
        QString host;
        int port = 5432;
        QString database;
    };
    bool server(Server *parts, QString *problem) const;
    // The store as a message may name it: the server without any password, or the file.
    QString displayName() const;

    // The option when given, else PLOVIKKIT_HISTORY_URL, else the local store.
    static HistoryLocation fromEnvironment(const QString &urlOption = {});
    // $XDG_DATA_HOME/plovikkit/history.sqlite, or the generic data folder's.
    static QString defaultLocalPath();
};
