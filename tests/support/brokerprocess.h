#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A mosquitto broker of its own for a test, on a free loopback port, anonymous access
// allowed; with `tls` it speaks TLS only, with a certificate made for 127.0.0.1 whose
// file caFile() names. Stopped when the object is destroyed.
class BrokerProcess
{
public:
    BrokerProcess() = default;
    ~BrokerProcess();

    // Before start(): refuse clients without a user name, or refuse subscriptions to topic
    // filters that match `topicPattern`.
    void refuseAnonymous() { anonymous = false; }
    void refuseSubscriptions(const QString &topicPattern) { refusedPattern = topicPattern; }

    bool start(bool tls = false);
    void stop();
    // The same broker again on the same port, after a stop() or a crash.
    bool restart();
    // A broker that hangs: its process is stopped (SIGSTOP) and goes on after thaw() (SIGCONT).
    void freeze();
    void thaw();

    quint16 port() const { return listenPort; }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(listenPort); }
    QString caFile() const { return dir.filePath(QStringLiteral("cert.pem")); }
    // A port nothing listens on: taken for a moment and given back.
    static quint16 unusedPort();

private:
    bool makeCertificate();
    QString subscriptionRefusal();
    bool launch();

    QTemporaryDir dir;
    QProcess process;
    quint16 listenPort = 0;
    bool anonymous = true;
    QString refusedPattern;
};
