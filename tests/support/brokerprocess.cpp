#include "tests/support/brokerprocess.h"

#include "tests/support/childprocess.h"

#include <QFile>
#include <QTcpServer>

#include <csignal>
#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

BrokerProcess::~BrokerProcess()
{
    stop();
}

quint16 BrokerProcess::unusedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

bool BrokerProcess::makeCertificate()
{
    return QProcess::execute(QStringLiteral("openssl"),
                             {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                              "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout",
                              dir.filePath("key.pem"), "-out", caFile()}) == 0;
}

bool BrokerProcess::start(bool tls)
{
    if (!dir.isValid() || (tls && !makeCertificate()))
        return false;
    listenPort = unusedPort();
    QFile config(dir.filePath(QStringLiteral("mosquitto.conf")));
    if (!config.open(QIODevice::WriteOnly))
        return false;
    // Run as root, mosquitto would switch to a user that cannot read the test's files.
    config.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous %2\nuser %3\n")
                     .arg(listenPort)
                     .arg(anonymous ? "true" : "false")
                     .arg(QString::fromLocal8Bit(getpwuid(getuid())->pw_name))
                     .toLocal8Bit());
    if (tls)
        config.write(
            QStringLiteral("certfile %1\nkeyfile %2\n").arg(caFile(), dir.filePath("key.pem")).toLocal8Bit());
    if (!refusedPattern.isEmpty())
        config.write(subscriptionRefusal().toLocal8Bit());
    config.close();
    return launch();
}

// mosquitto's ACL file never refuses a subscription; its dynamic security plugin does.
QString BrokerProcess::subscriptionRefusal()
{
    QFile rules(dir.filePath(QStringLiteral("dynsec.json")));
    if (rules.open(QIODevice::WriteOnly))
        rules.write(QStringLiteral(
                        R"({"defaultACLAccess":{"publishClientSend":true,"subscribe":true},)"
                        R"("anonymousGroup":"a","groups":[{"groupname":"a","roles":[{"rolename":"r"}]}],)"
                        R"("roles":[{"rolename":"r","acls":[{"acltype":"subscribePattern","topic":"%1"}]}]})")
                        .arg(refusedPattern)
                        .toUtf8());
    return QStringLiteral("plugin /usr/lib/x86_64-linux-gnu/mosquitto_dynamic_security.so\n"
                          "plugin_opt_config_file %1\n")
        .arg(rules.fileName());
}

bool BrokerProcess::restart()
{
    stop();
    return launch();
}

bool BrokerProcess::launch()
{
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("/usr/sbin/mosquitto"),
                  {"-c", dir.filePath(QStringLiteral("mosquitto.conf"))});
    QByteArray log;
    while (process.waitForReadyRead(5000)) {
        log += process.readAll();
        if (log.contains(" running"))
            return true;
    }
    qWarning("mosquitto did not start: %s", log.constData());
    return false;
}

void BrokerProcess::stop()
{
    // A stopped process would hold SIGTERM until it goes on.
    thaw();
    stopChildProcess(process);
}

void BrokerProcess::freeze()
{
    if (process.state() == QProcess::Running)
        ::kill(pid_t(process.processId()), SIGSTOP);
}

void BrokerProcess::thaw()
{
    if (process.state() == QProcess::Running)
        ::kill(pid_t(process.processId()), SIGCONT);
}
