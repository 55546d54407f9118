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
    QFile config(dir.filePath(QStringLiteral("mosquitto.conf")));
    if (!config.open(QIODevice::WriteOnly))
        return false;
    // Run as root, mosquitto would switch to a user that cannot read the test's files.
    config.write(QStringLiteral("listener %1 127.0.0.1\nallow_anonymous true\nuser %2\n")
                     .arg(listenPort)
                     .arg(QString::fromLocal8Bit(getpwuid(getuid())->pw_name))
                     .toLocal8Bit());
    if (tls)
        config.write(
            QStringLiteral("certfile %1\nkeyfile %2\n").arg(caFile(), dir.filePath("key.pem")).toLocal8Bit());
    config.close();
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(QStringLiteral("/usr/sbin/mosquitto"), {"-c", config.fileName()});
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
    stopChildProcess(process);
}
