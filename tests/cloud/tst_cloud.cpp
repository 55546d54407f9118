// The widget-free cloud library against scripts/cloud-sim: request forms and escaping, what a
// reply, a silent or a missing server make of a request, and the reply rules.
#include "cloudenvelope.h"
#include "cloudservice.h"
#include "cloudsimprocess.h"
#include "downloadcheck.h"
#include "firmwarecatalogue.h"
#include "myjson.h"
#include "passworddigest.h"
#include "selfupdate.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString catalogueAccount = QStringLiteral("12345678901");

QJsonObject json(const char *text)
{
    return QJsonDocument::fromJson(text).object();
}

} // namespace

class tst_Cloud : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void requestForms_data();
    void requestForms();
    void replyOutcomes_data();
    void replyOutcomes();
    void serverDownOrNotConfigured();
    void envelopeAndParse_data();
    void envelopeAndParse();
    void catalogueFilter();
    void downloadPlausibility_data();
    void downloadPlausibility();
    void versionQuery_data();
    void versionQuery();
    void handOverWritesThenStartsScript();

private:
    QTemporaryDir images;
    CloudSimProcess server;
    MyHttp http;
};

void tst_Cloud::initTestCase()
{
    QVERIFY(server.start(images.path()));
    qputenv("PLOVIKKIT_CLOUD_URL", server.url().toUtf8() + "/");
    qputenv("PLOVIKKIT_CATALOGUE_ACCOUNT", catalogueAccount.toUtf8());
}

void tst_Cloud::init()
{
    server.setReplies({});
    server.clearRequests();
    MyHttp::setTimeoutMs(MyHttp::kDefaultTimeoutMs);
}

void tst_Cloud::requestForms_data()
{
    QTest::addColumn<int>("request");
    QTest::addColumn<QString>("account");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("body");

    const QString digest = PasswordDigest::of(QStringLiteral("pw"));
    const QString oldDigest = PasswordDigest::of(QString());
    QTest::newRow("login") << 0 << "demo"
                           << "/user_infor/login"
                           << "" << QStringLiteral("{\"account\":\"demo\",\"password\":\"%1\"}").arg(digest);
    QTest::newRow("login escapes")
        << 0 << "a\"b\\c"
        << "/user_infor/login"
        << "" << QStringLiteral("{\"account\":\"a\\\"b\\\\c\",\"password\":\"%1\"}").arg(digest);
    QTest::newRow("login, non-ASCII")
        << 0 << "用户 é"
        << "/user_infor/login"
        << "" << QStringLiteral("{\"account\":\"用户 é\",\"password\":\"%1\"}").arg(digest);
    QTest::newRow("user information encodes") << 1 << "a&b #c+d"
                                              << "/user_infor/get"
                                              << "account=a%26b%20%23c%2Bd"
                                              << "";
    QTest::newRow("password update")
        << 2 << "demo"
        << "/user_infor/password/update"
        << ""
        << QStringLiteral("{\"account\":\"demo\",\"password\":\"%1\",\"oldPassword\":\"%2\"}")
               .arg(digest, oldDigest);
    QTest::newRow("catalogue list") << 3 << "x y"
                                    << "/file_infor/get"
                                    << "account=x%20y"
                                    << "";
    QTest::newRow("firmware download") << 4 << ""
                                       << "/file/download"
                                       << "account=" + catalogueAccount + "&id=7%26"
                                       << "";
    QTest::newRow("version query") << 5 << ""
                                   << "/file_infor/get"
                                   << "projectModel=plovikKit-update&account=" + catalogueAccount << "";
    QTest::newRow("build download") << 6 << ""
                                    << "/file/download"
                                    << "account=" + catalogueAccount + "&projectModel=plovikKit-update"
                                    << "";
}

void tst_Cloud::requestForms()
{
    QFETCH(int, request);
    QFETCH(QString, account);
    QFETCH(QString, path);
    QFETCH(QString, query);
    QFETCH(QString, body);

    CloudService service(http);
    const auto ignore = [](const QByteArray *) {};
    const auto ignoreContext = [](void *, const QByteArray *, void *, void *) {};
    switch (request) {
    case 0:
        service.login(account, QStringLiteral("pw"), ignore);
        break;
    case 1:
        service.userInformation(account, ignore);
        break;
    case 2:
        service.updatePassword(account, QStringLiteral("pw"), QString(), ignore);
        break;
    case 3:
        service.firmwareList(nullptr, account, ignoreContext);
        break;
    case 4:
        service.firmwareDownload(nullptr, QStringLiteral("7&"), ignoreContext);
        break;
    case 5:
        service.newestAppVersion(nullptr, ignoreContext);
        break;
    default:
        service.appDownload(nullptr, ignoreContext);
        break;
    }
    const QList<QJsonObject> requests = server.requests();
    QCOMPARE(requests.size(), 1);
    const QJsonObject sent = requests.first();
    QCOMPARE(sent.value("method").toString(),
             body.isEmpty() ? QStringLiteral("GET") : QStringLiteral("POST"));
    QCOMPARE(sent.value("path").toString(), path);
    QCOMPARE(sent.value("query").toString(), query);
    QCOMPARE(sent.value("body").toString(), body);
    if (!body.isEmpty()) {
        const QJsonObject headers = sent.value("headers").toObject();
        QCOMPARE(headers.value("Content-Type").toString(), QStringLiteral("application/json"));
        QCOMPARE(headers.value("Content-Length").toString().toInt(), body.toUtf8().size());
    }
}

void tst_Cloud::replyOutcomes_data()
{
    QTest::addColumn<QJsonObject>("reply");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("body"); // what the callback got; "<null>" for a null body

    QTest::newRow("200, empty body") << json(R"({"body": ""})") << true << QByteArray();
    QTest::newRow("200, bytes") << json(R"({"hex": "00ff7b"})") << true << QByteArray("\x00\xff{", 3);
    QTest::newRow("HTTP 404") << json(R"({"status": 404, "json": {"code": 200, "message": []}})") << false
                              << QByteArray("<null>");
    QTest::newRow("HTTP 500") << json(R"({"status": 500, "body": "oops"})") << false << QByteArray("<null>");
    QTest::newRow("never answers") << json(R"({"silent": true})") << false << QByteArray("<null>");
}

void tst_Cloud::replyOutcomes()
{
    QFETCH(QJsonObject, reply);
    QFETCH(bool, ok);
    QFETCH(QByteArray, body);
    server.setReplies({{"/file_infor/get", reply}});
    MyHttp::setTimeoutMs(500);

    int calls = 0;
    QByteArray got;
    QString error;
    const bool result = CloudService(http).firmwareList(
        nullptr, QStringLiteral("demo"),
        [&](void *, const QByteArray *received, void *, void *) {
            ++calls;
            got = received ? *received : QByteArray("<null>");
        },
        &error);
    QCOMPARE(result, ok);
    QCOMPARE(calls, 1);
    QCOMPARE(got, body);
    QCOMPARE(error.isEmpty(), ok);
}

void tst_Cloud::serverDownOrNotConfigured()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const QByteArray downUrl = "http://127.0.0.1:" + QByteArray::number(closed.serverPort());
    closed.close();

    for (const QByteArray &url : {downUrl, QByteArray()}) {
        qputenv("PLOVIKKIT_CLOUD_URL", url);
        bool gotNull = false;
        QString error;
        QVERIFY(!CloudService(http).login(
            QStringLiteral("demo"), QStringLiteral("pw"), [&](const QByteArray *body) { gotNull = !body; },
            &error));
        QVERIFY(gotNull);
        QVERIFY2(error.contains(url.isEmpty() ? "no cloud service" : "Connection refused"),
                 qPrintable(error));
    }
    qputenv("PLOVIKKIT_CLOUD_URL", server.url().toUtf8());
    QVERIFY(server.requests().isEmpty());
}

void tst_Cloud::envelopeAndParse_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("parses");
    QTest::addColumn<bool>("success");

    QTest::newRow("success") << QByteArray(R"({"code":200,"message":[{"id":1}]})") << true << true;
    QTest::newRow("code as text") << QByteArray(R"({"code":"200","message":[]})") << true << false;
    QTest::newRow("other number") << QByteArray(R"({"code":201,"message":[]})") << true << false;
    QTest::newRow("message not an array") << QByteArray(R"({"code":200,"message":"ok"})") << true << false;
    QTest::newRow("top-level array") << QByteArray(R"([{"code":200}])") << true << false;
    QTest::newRow("malformed") << QByteArray(R"({"code":200,)") << false << false;
    QTest::newRow("empty") << QByteArray() << false << false;
}

void tst_Cloud::envelopeAndParse()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, parses);
    QFETCH(bool, success);
    QJsonObject parsed{{"previous", true}};
    QCOMPARE(MyJson::paser(&parsed, bytes) == &parsed, parses);
    if (!parses)
        QCOMPARE(parsed, (QJsonObject{{"previous", true}}));
    QJsonArray message;
    QCOMPARE(CloudEnvelope::successMessage(parsed, &message), success);
}

void tst_Cloud::catalogueFilter()
{
    FirmwareCatalogue catalogue;
    QVERIFY(!catalogue.takeReply(json(R"({"code":"200","message":[]})")));
    QVERIFY(catalogue.takeReply(json(R"({"code":200,"message":[
        {"id":1,"originFileName":"fw_ble_v1.bin","infor":"radio"},
        {"id":"7","originFileName":"gw.bin","infor":"Gateway with BLE"},
        {"id":3,"length":5},
        {"id":4,"infor":"sensor"}]})")));
    QCOMPARE(FirmwareCatalogue::numberText(catalogue.all().at(1), "id"), QString()); // a string id is no id
    catalogue.filter(QStringLiteral("BLE"));
    QCOMPARE(catalogue.shown().size(), 2);
    QCOMPARE(catalogue.shown().at(1).value("originFileName").toString(), QStringLiteral("gw.bin"));
    catalogue.filter(QString());
    QCOMPARE(catalogue.shown().size(), 3); // every record with a name or a description, in order
    QCOMPARE(catalogue.shown().at(2).value("id").toInt(), 4);
    QVERIFY(catalogue.takeReply(json(R"({"code":200,"message":[]})")));
    QVERIFY(catalogue.all().isEmpty() && catalogue.shown().isEmpty());
}

void tst_Cloud::downloadPlausibility_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<qint64>("length");
    QTest::addColumn<QString>("problem");

    QTest::newRow("image of its length") << QByteArray(4, 'x') << qint64(4) << QString();
    QTest::newRow("no length given") << QByteArray(4, 'x') << qint64(-1) << QString();
    QTest::newRow("empty") << QByteArray() << qint64(-1) << "empty";
    QTest::newRow("error envelope") << QByteArray(R"({"code":404,"message":"no such file"})") << qint64(-1)
                                    << "code 404, message no such file";
    QTest::newRow("short") << QByteArray(3, 'x') << qint64(4) << "3 bytes where the record gives 4";
}

void tst_Cloud::downloadPlausibility()
{
    QFETCH(QByteArray, body);
    QFETCH(qint64, length);
    QFETCH(QString, problem);
    const QString found = DownloadCheck::problem(body, length);
    QVERIFY2(problem.isEmpty() ? found.isEmpty() : found.contains(problem), qPrintable(found));
}

void tst_Cloud::versionQuery_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("newest"); // "<none>": no record
    QTest::addColumn<bool>("newer");

    QTest::newRow("last record counts")
        << QByteArray(
               R"({"code":200,"message":[{"appVersion":"202401010000"},{"appVersion":"202501010000"}]})")
        << "202501010000" << true;
    QTest::newRow("older last")
        << QByteArray(
               R"({"code":200,"message":[{"appVersion":"202501010000"},{"appVersion":"202401010000"}]})")
        << "202401010000" << false;
    QTest::newRow("equal") << QByteArray(R"({"code":200,"message":[{"appVersion":"202410071921"}]})")
                           << "202410071921" << false;
    QTest::newRow("not a number") << QByteArray(R"({"code":200,"message":[{"appVersion":"beta"}]})") << "beta"
                                  << false;
    QTest::newRow("empty list") << QByteArray(R"({"code":200,"message":[]})") << "<none>" << false;
}

void tst_Cloud::versionQuery()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, newest);
    QFETCH(bool, newer);
    QJsonObject record;
    const bool found = SelfUpdate::newestRecord(QJsonDocument::fromJson(reply).object(), &record);
    QCOMPARE(found ? record.value("appVersion").toString() : QStringLiteral("<none>"), newest);
    QCOMPARE(SelfUpdate::isNewer(newest, QStringLiteral("202410071921")), newer);
}

void tst_Cloud::handOverWritesThenStartsScript()
{
    QTemporaryDir folder;
    const QString build = folder.filePath(QStringLiteral("plovikKit-update-temp"));
    QVERIFY(SelfUpdate::handOver(QByteArray(R"({"code":500})"), folder.path()).contains("code 500"));
    QVERIFY(SelfUpdate::handOver(QByteArray(), folder.path()).contains("empty"));
    QVERIFY(!QFile::exists(build));

    // Without the script the build is written, but nothing is started.
    QVERIFY(SelfUpdate::handOver("new build", folder.path()).contains("restart.sh not found"));

    QFile script(folder.filePath(QStringLiteral("restart.sh")));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("cp plovikKit-update-temp copy && mv copy started\n");
    script.close();
    QCOMPARE(SelfUpdate::handOver("newer build", folder.path()), QString());
    QTRY_VERIFY(QFile::exists(folder.filePath(QStringLiteral("started"))));
    QFile started(folder.filePath(QStringLiteral("started")));
    QVERIFY(started.open(QIODevice::ReadOnly));
    QCOMPARE(started.readAll(), QByteArray("newer build"));
}

QTEST_GUILESS_MAIN(tst_Cloud)
#include "tst_cloud.moc"
