#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A PostgreSQL server of its own for a test: a cluster made by initdb in a temporary folder,
// run by pg_ctl on a free loopback port (as the postgres system user when the test runs as
// root), trusting local connections, with one database. Stopped when the object is destroyed.
class PostgresProcess
{
public:
    PostgresProcess() = default;
    ~PostgresProcess();

    bool start();
    bool stop();
    // The same cluster again on the same port, after a stop().
    bool restart();

    quint16 port() const { return listenPort; }
    QString url() const;
    QString output() const { return lastOutput; }

private:
    bool run(const QString &program, const QStringList &arguments);
    bool asServerUser() const;
    static QString binary(const QString &name);

    QTemporaryDir dir;
    quint16 listenPort = 0;
    bool running = false;
    QString lastOutput;
};
