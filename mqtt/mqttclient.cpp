#include "mqtt/mqttclient.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QPointer>
#include <QSocketNotifier>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <mosquitto.h>
#include <mqtt_protocol.h>

#ifdef Q_OS_UNIX
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#endif

namespace {

int unreadBytes(int socket)
{
    int bytes = 0;
    return socket >= 0 && ::ioctl(socket, FIONREAD, &bytes) == 0 ? bytes : 0;
}

// A broker that holds small messages back until the last one is acknowledged (Nagle, the
// default of many) would hold each answer behind the one before it for as long as this side
// delays its acknowledgement: answer at once. The kernel forgets it now and then, so it is said
// after every read.
void acknowledgeAtOnce(int socket)
{
#ifdef TCP_QUICKACK
    int on = 1;
    if (socket >= 0)
        ::setsockopt(socket, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
#else
    Q_UNUSED(socket)
#endif
}

// The library sends its ping once the keep-alive has passed without traffic; looking four times a
// keep-alive gets the ping out well before the broker's limit of one and a half keep-alives.
constexpr int kKeepAliveChecks = 4;

void initialiseLibrary()
{
    static const bool initialised = mosquitto_lib_init() == MOSQ_ERR_SUCCESS;
    Q_UNUSED(initialised)
}

// A connect that failed after it had started leaves a socket that only ever reports a
// hang-up while the library waits on; the missing peer tells it apart.
bool socketHasPeer(int socket)
{
#ifdef Q_OS_UNIX
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    return ::getpeername(socket, reinterpret_cast<sockaddr *>(&peer), &length) == 0;
#else
    Q_UNUSED(socket)
    return true;
#endif
}

// errno is only worth reporting when it tells why a connect failed; the library's other
// calls leave all sorts of values behind.
bool refusesConnection(int error)
{
    return error == ECONNREFUSED || error == ECONNRESET || error == EHOSTUNREACH || error == ENETUNREACH ||
           error == ETIMEDOUT;
}

int pendingSocketError(int socket)
{
    int error = 0;
#ifdef Q_OS_UNIX
    socklen_t length = sizeof error;
    ::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length);
#else
    Q_UNUSED(socket)
#endif
    return error;
}

// Name resolution answers with every address; a broker listening on IPv4 only is the
// common case, so such an address goes first.
QString preferredAddress(const QList<QHostAddress> &addresses)
{
    for (const QHostAddress &address : addresses) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            return address.toString();
    }
    return addresses.first().toString();
}

QByteArray textOrNull(const QString &text)
{
    return text.isEmpty() ? QByteArray() : text.toUtf8();
}

const char *dataOrNull(const QByteArray &bytes)
{
    return bytes.isNull() ? nullptr : bytes.constData();
}

} // namespace

bool MqttClient::splitBrokerAddress(const QString &text, QString *host, quint16 *port)
{
    QUrl address;
    address.setAuthority(text, QUrl::StrictMode);
    const int number = address.port(1883);
    if (!address.isValid() || address.host().isEmpty() || !address.userInfo().isEmpty() || number <= 0)
        return false;
    *host = address.host();
    *port = quint16(number);
    return true;
}

MqttClient::MqttClient(QObject *parent) : MqttConnection(parent)
{
    initialiseLibrary();
    housekeeping.setSingleShot(true);
    connect(&housekeeping, &QTimer::timeout, this, &MqttClient::onHousekeeping);
}

MqttClient::~MqttClient()
{
    // Receivers may be half destroyed by now.
    blockSignals(true);
    disconnectFromHost();
}

void MqttClient::connectToHost()
{
    const QPointer<MqttClient> alive(this);
    disconnectFromHost();
    // A handler of `disconnected` may have connected again, or destroyed this client.
    if (!alive || clientState != Disconnected)
        return;
    protocolVersion = kMqtt5;
    startAttempt();
}

void MqttClient::startAttempt()
{
    errorText.clear();
    errorKind = NoError;
    lastLibraryError.clear();
    clientState = Connecting;
    // The slot form: Qt 5 leaks the functor form's callback when a lookup outlives its use.
    hostLookupId = QHostInfo::lookupHost(config.hostName, this, SLOT(onHostLookedUp(QHostInfo)));
}

// Only the answer to the latest lookup counts; an earlier attempt's arrives to nobody.
void MqttClient::onHostLookedUp(const QHostInfo &host)
{
    if (host.lookupId() == hostLookupId && clientState == Connecting && !handle)
        startConnection(host);
}

void MqttClient::disconnectFromHost()
{
    // Says goodbye, so that the broker does not publish the client's last will.
    if (clientState == Connected)
        mosquitto_disconnect(handle);
    teardown(NoError, QString());
}

void MqttClient::abandon(ClientError kind, const QString &reason)
{
    if (clientState != Disconnected)
        teardown(kind, reason);
}

void MqttClient::startConnection(const QHostInfo &host)
{
    if (host.error() != QHostInfo::NoError || host.addresses().isEmpty()) {
        teardown(HostNotFoundError,
                 config.hostName.isEmpty()
                     ? tr("no broker address given")
                     : tr("cannot resolve \"%1\": %2").arg(config.hostName, host.errorString()));
        return;
    }
    if (!createHandle())
        return;
    // A certificate names the host, not its address.
    const QByteArray target = (config.tls ? config.hostName : preferredAddress(host.addresses())).toUtf8();
    errno = 0;
    const int result = connectAsync(target);
    if (result != MOSQ_ERR_SUCCESS) {
        const int savedErrno = errno;
        teardownAfter(result, savedErrno);
        return;
    }
    // On a TLS connection the library carries on after a refusal it saw at once.
    connectErrno = refusesConnection(errno) ? errno : 0;
    watchSocket();
}

// The library sends CONNECT properties only from its blocking connect. Given no host, that call
// keeps the properties and returns before it connects; the asynchronous connect then sends them.
int MqttClient::connectAsync(const QByteArray &target)
{
    if (protocolVersion == kMqtt5 && config.maximumMessageBytes > 0) {
        mosquitto_property *properties = nullptr;
        mosquitto_property_add_int32(&properties, MQTT_PROP_MAXIMUM_PACKET_SIZE,
                                     uint32_t(config.maximumMessageBytes));
        mosquitto_connect_bind_v5(handle, nullptr, config.port, config.keepAliveSeconds, nullptr, properties);
        mosquitto_property_free_all(&properties);
    }
    return mosquitto_connect_bind_async(handle, target.constData(), config.port, config.keepAliveSeconds,
                                        nullptr);
}

// A broker of MQTT 3.1.1 answers a CONNECT of version 5 with "unacceptable protocol version":
// the same attempt goes on in 3.1.1, without the maximum message size, unseen by the caller.
bool MqttClient::fallBackToMqtt311(int code)
{
    if (protocolVersion != kMqtt5 ||
        (code != MQTT_RC_UNSUPPORTED_PROTOCOL_VERSION && code != CONNACK_REFUSED_PROTOCOL_VERSION))
        return false;
    protocolVersion = kMqtt311;
    clientState = Disconnected;
    teardown(NoError, QString());
    startAttempt();
    return true;
}

bool MqttClient::createHandle()
{
    const QByteArray id = textOrNull(config.clientId);
    handle = mosquitto_new(dataOrNull(id), config.cleanSession, this);
    if (!handle) {
        teardown(SetupError, id.isNull() && !config.cleanSession
                                 ? tr("a session kept by the broker needs a client id")
                                 : tr("cannot create the MQTT client"));
        return false;
    }
    mosquitto_int_option(handle, MOSQ_OPT_PROTOCOL_VERSION,
                         protocolVersion == kMqtt5 ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
    // Frames go one at a time and wait for their answer; holding them back for a delayed
    // acknowledgement would cost some 40 ms each.
    mosquitto_int_option(handle, MOSQ_OPT_TCP_NODELAY, 1);
    const QByteArray user = textOrNull(config.username);
    const QByteArray password = textOrNull(config.password);
    mosquitto_username_pw_set(handle, dataOrNull(user), user.isNull() ? nullptr : dataOrNull(password));
    mosquitto_connect_callback_set(handle, &MqttClient::onConnect);
    mosquitto_disconnect_callback_set(handle, &MqttClient::onDisconnect);
    mosquitto_message_callback_set(handle, &MqttClient::onMessage);
    mosquitto_subscribe_callback_set(handle, &MqttClient::onSubscribe);
    mosquitto_unsubscribe_callback_set(handle, &MqttClient::onUnsubscribe);
    mosquitto_log_callback_set(handle, &MqttClient::onLog);
    const QString tlsProblem = applyTls();
    if (!tlsProblem.isEmpty()) {
        teardown(SetupError, tlsProblem);
        return false;
    }
    return true;
}

QString MqttClient::applyTls()
{
    if (!config.tls)
        return QString();
    if (config.caFile.isEmpty()) {
        if (mosquitto_int_option(handle, MOSQ_OPT_TLS_USE_OS_CERTS, 1) != MOSQ_ERR_SUCCESS)
            return tr("TLS with the system's certificates is not available");
        return QString();
    }
    const QByteArray caFile = config.caFile.toLocal8Bit();
    if (mosquitto_tls_set(handle, caFile.constData(), nullptr, nullptr, nullptr, nullptr) != MOSQ_ERR_SUCCESS)
        return tr("cannot use the CA file \"%1\"").arg(config.caFile);
    return QString();
}

void MqttClient::watchSocket()
{
    const int socket = mosquitto_socket(handle);
    readNotifier = new QSocketNotifier(socket, QSocketNotifier::Read, this);
    connect(readNotifier, &QSocketNotifier::activated, this, [this] { onReadable(); });
    writeNotifier = new QSocketNotifier(socket, QSocketNotifier::Write, this);
    connect(writeNotifier, &QSocketNotifier::activated, this,
            [this] { onSocketActivity(&mosquitto_loop_write); });
    writeNotifier->setEnabled(mosquitto_want_write(handle));
    armHousekeeping();
}

// Only the keep-alive needs the library's time: without one nothing wakes the client but its socket.
void MqttClient::armHousekeeping()
{
    if (config.keepAliveSeconds > 0)
        housekeeping.start(config.keepAliveSeconds * 1000 / kKeepAliveChecks);
}

void MqttClient::onSocketActivity(int (*step)(mosquitto *, int))
{
    if (!handle)
        return;
    const int attempt = connectionAttempt;
    const int result = step(handle, 1);
    afterLoopStep(attempt, result, errno, true);
}

// The library takes one packet a call, and a broker hands over a burst of messages at once (a
// hundred gateways answering in the same moment): the burst is read in one go rather than one
// message a turn of the event loop.
void MqttClient::onReadable()
{
    const QPointer<MqttClient> alive(this);
    do {
        onSocketActivity(&mosquitto_loop_read);
    } while (alive && handle && unreadBytes(mosquitto_socket(handle)) > 0);
    if (alive && handle)
        acknowledgeAtOnce(mosquitto_socket(handle));
}

void MqttClient::onHousekeeping()
{
    if (!handle)
        return;
    const int attempt = connectionAttempt;
    const int result = mosquitto_loop_misc(handle);
    afterLoopStep(attempt, result, errno, false);
    if (handle && attempt == connectionAttempt)
        armHousekeeping();
}

void MqttClient::afterLoopStep(int attempt, int result, int savedErrno, bool socketEvent)
{
    // A handler may have deleted this client, or ended or replaced its connection.
    if (!dispatchEvents() || attempt != connectionAttempt || !handle)
        return;
    const int socket = mosquitto_socket(handle);
    if (result != MOSQ_ERR_SUCCESS)
        teardownAfter(result, savedErrno);
    else if (socket < 0)
        teardown(errorOf(MOSQ_ERR_CONN_LOST, 0), tr("the connection to the broker was lost"));
    else if (socketEvent && clientState == Connecting && !socketHasPeer(socket))
        failConnect(socket);
    else
        afterRequest();
}

void MqttClient::failConnect(int socket)
{
    // Reading the socket's error clears it: read it once.
    int error = pendingSocketError(socket);
    if (error == 0)
        error = connectErrno;
    const QString broker = QStringLiteral("%1:%2").arg(config.hostName).arg(config.port);
    // Over TLS the handshake is the broker's first answer: a broker that speaks no TLS hangs up there.
    if (error == 0)
        teardown(config.tls ? TlsError : UnreachableError,
                 tr("the connection to %1 ended before the broker answered").arg(broker));
    else
        teardown(error == ECONNREFUSED ? ConnectionRefusedError : UnreachableError,
                 tr("cannot connect to %1: %2").arg(broker, QString::fromLocal8Bit(std::strerror(error))));
}

void MqttClient::afterRequest()
{
    if (writeNotifier)
        writeNotifier->setEnabled(mosquitto_want_write(handle));
}

bool MqttClient::subscribe(const QString &topicFilter, int qos)
{
    if (clientState != Connected)
        return false;
    int mid = 0;
    if (mosquitto_subscribe(handle, &mid, topicFilter.toUtf8().constData(), qos) != MOSQ_ERR_SUCCESS)
        return false;
    pendingSubscriptions.insert(mid, topicFilter);
    afterRequest();
    return true;
}

bool MqttClient::unsubscribe(const QString &topicFilter)
{
    if (clientState != Connected)
        return false;
    int mid = 0;
    if (mosquitto_unsubscribe(handle, &mid, topicFilter.toUtf8().constData()) != MOSQ_ERR_SUCCESS)
        return false;
    pendingUnsubscriptions.insert(mid, topicFilter);
    afterRequest();
    return true;
}

bool MqttClient::publish(const QString &topic, const QByteArray &message, int qos, bool retain)
{
    if (clientState != Connected)
        return false;
    const bool accepted = mosquitto_publish(handle, nullptr, topic.toUtf8().constData(), message.size(),
                                            message.constData(), qos, retain) == MOSQ_ERR_SUCCESS;
    afterRequest();
    return accepted;
}

void MqttClient::onConnect(mosquitto *, void *self, int code)
{
    static_cast<MqttClient *>(self)->queueEvent(Event::Connack, code);
}

void MqttClient::onDisconnect(mosquitto *, void *self, int code)
{
    static_cast<MqttClient *>(self)->queueEvent(Event::Lost, code);
}

void MqttClient::onMessage(mosquitto *, void *self, const mosquitto_message *message)
{
    const QByteArray payload(static_cast<const char *>(message->payload), message->payloadlen);
    static_cast<MqttClient *>(self)->queueEvent(Event::Message, 0, payload,
                                                QString::fromUtf8(message->topic));
}

void MqttClient::onSubscribe(mosquitto *, void *self, int mid, int count, const int *granted)
{
    auto *client = static_cast<MqttClient *>(self);
    client->queueEvent(Event::Suback, count > 0 ? granted[0] : kSubscriptionRefused, QByteArray(),
                       client->pendingSubscriptions.take(mid));
}

void MqttClient::onUnsubscribe(mosquitto *, void *self, int mid)
{
    auto *client = static_cast<MqttClient *>(self);
    client->queueEvent(Event::Unsuback, 0, QByteArray(), client->pendingUnsubscriptions.take(mid));
}

// The library tells of a ping's answer only in its log, which also has a line for every
// message sent or received: those are looked at as they come, without a copy.
void MqttClient::onLog(mosquitto *, void *self, int level, const char *text)
{
    auto *client = static_cast<MqttClient *>(self);
    if (level & (MOSQ_LOG_ERR | MOSQ_LOG_WARNING)) {
        client->lastLibraryError = QString::fromUtf8(text);
        return;
    }
    static constexpr char pingAnswer[] = " received PINGRESP";
    const size_t length = std::strlen(text);
    if (length >= sizeof pingAnswer - 1 &&
        std::strcmp(text + length - (sizeof pingAnswer - 1), pingAnswer) == 0)
        client->queueEvent(Event::PingResponse, 0);
}

void MqttClient::queueEvent(Event::Kind kind, int code, const QByteArray &payload, const QString &topic)
{
    events.append(Event{kind, connectionAttempt, code, payload, topic});
}

bool MqttClient::dispatchEvents()
{
    const QPointer<MqttClient> alive(this);
    while (alive && !events.isEmpty()) {
        const Event event = events.takeFirst();
        if (event.attempt == connectionAttempt)
            handleEvent(event);
    }
    return !alive.isNull();
}

void MqttClient::handleEvent(const Event &event)
{
    switch (event.kind) {
    case Event::Connack:
        if (event.code != 0) {
            if (!fallBackToMqtt311(event.code))
                refuseConnection(event.code);
            return;
        }
        clientState = Connected;
        emit connected();
        return;
    case Event::Lost:
        teardownAfter(event.code, 0);
        return;
    case Event::Message:
        emit messageReceived(event.payload, event.topic);
        return;
    case Event::PingResponse:
        emit pingResponseReceived();
        return;
    case Event::Suback:
        // MQTT 3.1.1 refuses with 0x80; MQTT 5 with any reason of 0x80 and above.
        emit subscribed(event.topic, event.code < kSubscriptionRefused);
        return;
    case Event::Unsuback:
        emit unsubscribed(event.topic);
        return;
    }
}

void MqttClient::refuseConnection(int code)
{
    const bool credentials =
        protocolVersion == kMqtt5
            ? code == MQTT_RC_BAD_USERNAME_OR_PASSWORD || code == MQTT_RC_NOT_AUTHORIZED
            : code == CONNACK_REFUSED_BAD_USERNAME_PASSWORD || code == CONNACK_REFUSED_NOT_AUTHORIZED;
    const char *words =
        protocolVersion == kMqtt5 ? mosquitto_reason_string(code) : mosquitto_connack_string(code);
    teardown(credentials ? NotAuthorizedError : BrokerRefusedError,
             tr("the broker refused the connection: %1").arg(QString::fromUtf8(words)));
}

// A library call that failed ends the connection, with the kind and the words of its failure.
void MqttClient::teardownAfter(int result, int savedErrno)
{
    teardown(errorOf(result, savedErrno), describe(result, savedErrno));
}

void MqttClient::teardown(ClientError kind, const QString &reason)
{
    hostLookupId = -1;
    housekeeping.stop();
    // They may be the sender of the running slot.
    for (QSocketNotifier *notifier : {readNotifier, writeNotifier}) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
    }
    readNotifier = writeNotifier = nullptr;
    if (handle)
        mosquitto_destroy(handle);
    handle = nullptr;
    pendingSubscriptions.clear();
    pendingUnsubscriptions.clear();
    ++connectionAttempt;
    if (clientState == Disconnected)
        return;
    clientState = Disconnected;
    errorText = reason;
    errorKind = kind;
    emit disconnected();
}

MqttClient::ClientError MqttClient::errorOf(int result, int savedErrno) const
{
    if (result == MOSQ_ERR_KEEPALIVE)
        return BrokerSilentError;
    if (clientState == Connected)
        return ConnectionLostError;
    if (result == MOSQ_ERR_TLS || result == MOSQ_ERR_TLS_HANDSHAKE)
        return TlsError;
    if (result == MOSQ_ERR_EAI || result == MOSQ_ERR_LOOKUP)
        return HostNotFoundError;
    if (result == MOSQ_ERR_ERRNO && savedErrno == ECONNREFUSED)
        return ConnectionRefusedError;
    return UnreachableError;
}

QString MqttClient::describe(int result, int savedErrno) const
{
    // The library gives up on a broker that has not answered its ping for a keep-alive.
    if (result == MOSQ_ERR_KEEPALIVE)
        return tr("no answer from the broker for %1 s").arg(2 * config.keepAliveSeconds);
    QString text = result == MOSQ_ERR_ERRNO && savedErrno != 0
                       ? QString::fromLocal8Bit(std::strerror(savedErrno))
                       : QString::fromUtf8(mosquitto_strerror(result));
    if (!lastLibraryError.isEmpty())
        text += QStringLiteral(" (%1)").arg(lastLibraryError);
    return text;
}
