#include "brokerprocess.h"

#include "childprocess.h"

#include <QFile>
#include <QTcpServer>

#include <pwd.h>
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
    return writeConfig(tls) && launch();
}

bool BrokerProcess::writeConfig(bool tls)
{
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
        return writeSubscriptionRefusal(config);
    return true;
}

// mosquitto's own ACL file never refuses a subscription; its dynamic security plugin does.
bool BrokerProcess::writeSubscriptionRefusal(QFile &config)
{
    QFile rules(dir.filePath(QStringLiteral("dynamic-security.json")));
    const QString json = QStringLiteral(
        R"({"defaultACLAccess":{"publishClientSend":true,"publishClientReceive":true,"subscribe":true,)"
        R"("unsubscribe":true},"clients":[],"anonymousGroup":"anonymous",)"
        R"("groups":[{"groupname":"anonymous","roles":[{"rolename":"refuse"}]}],)"
        R"("roles":[{"rolename":"refuse","acls":[{"acltype":"subscribePattern","topic":"%1","allow":false}]}]})");
    if (!rules.open(QIODevice::WriteOnly) || rules.write(json.arg(refusedPattern).toUtf8()) < 0)
        return false;
    config.write(
        QStringLiteral("plugin %1\nplugin_opt_config_file %2\n")
            .arg(QStringLiteral("/usr/lib/x86_64-linux-gnu/mosquitto_dynamic_security.so"), rules.fileName())
            .toLocal8Bit());
    return true;
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

bool BrokerProcess::restart()
{
    stop();
    return launch();
}

void BrokerProcess::stop()
{
    stopChildProcess(process);
}
