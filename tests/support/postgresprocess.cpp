#include "tests/support/postgresprocess.h"

#include "tests/support/brokerprocess.h"

#include <QDir>
#include <QProcess>

#include <pwd.h>
#include <unistd.h>

namespace {

const char database[] = "plovik";

} // namespace

PostgresProcess::~PostgresProcess()
{
    stop();
}

QString PostgresProcess::binary(const QString &name)
{
    QDir versions(QStringLiteral("/usr/lib/postgresql"));
    const QStringList found = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    return found.isEmpty() ? name : versions.filePath(found.last() + "/bin/" + name);
}

bool PostgresProcess::asServerUser() const
{
    return geteuid() == 0;
}

// The server refuses to run as root, so a root test hands the cluster to the postgres user.
bool PostgresProcess::run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (asServerUser())
        process.start(QStringLiteral("runuser"),
                      QStringList{"-u", "postgres", "--", binary(program)} + arguments);
    else
        process.start(binary(program), arguments);
    const bool ended = process.waitForFinished(60000);
    lastOutput = QString::fromLocal8Bit(process.readAll());
    return ended && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool PostgresProcess::start()
{
    if (!dir.isValid())
        return false;
    if (asServerUser()) {
        const passwd *user = getpwnam("postgres");
        if (!user || chown(QFile::encodeName(dir.path()).constData(), user->pw_uid, user->pw_gid) != 0)
            return false;
    }
    listenPort = BrokerProcess::unusedPort();
    if (!run(QStringLiteral("initdb"),
             {"-D", dir.filePath("data"), "-U", "postgres", "-A", "trust", "-E", "UTF8", "--no-sync"}))
        return false;
    if (!restart())
        return false;
    return run(QStringLiteral("createdb"),
               {"-h", "127.0.0.1", "-p", QString::number(listenPort), "-U", "postgres", database});
}

bool PostgresProcess::restart()
{
    const QString options = QStringLiteral("-p %1 -c listen_addresses=127.0.0.1 -k %2 -c fsync=off")
                                .arg(listenPort)
                                .arg(dir.path());
    running = run(QStringLiteral("pg_ctl"),
                  {"-D", dir.filePath("data"), "-l", dir.filePath("log"), "-o", options, "-w", "start"});
    return running;
}

bool PostgresProcess::stop()
{
    if (!running)
        return true;
    running = !run(QStringLiteral("pg_ctl"), {"-D", dir.filePath("data"), "-m", "immediate", "-w", "stop"});
    return !running;
}

QString PostgresProcess::url() const
{
    return QStringLiteral("postgresql://postgres@127.0.0.1:%1/%2").arg(listenPort).arg(database);
}
