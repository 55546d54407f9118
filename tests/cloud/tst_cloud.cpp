// The cloud against scripts/cloud-sim: request forms and escaping, replies, silent and missing
// servers, the account window's login chains, the start-up requests, the version and catalogue
// pages and the upgrade.
#include "app/accountlogin.h"
#include "app/console/logdisplay.h"
#include "app/mainwindow.h"
#include "cloud/cloudservice.h"
#include "platform/programformat.h"
#include "storage/configini.h"
#include "storage/settingskeys.h"
#include "tests/support/cloudsimprocess.h"
#include "ui_mainwindow.h"

#include <QCheckBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTcpServer>
#include <QtTest>
#include <sys/stat.h>

namespace {

// Answers every message box as it appears and keeps its text.
struct BoxCatcher : QObject
{
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *box = qobject_cast<QMessageBox *>(watched);
        if (box && event->type() == QEvent::Show) {
            texts << box->text();
            QMetaObject::invokeMethod(box, "reject", Qt::QueuedConnection);
        }
        return false;
    }
    QStringList texts;
};

QJsonObject reply(const char *text)
{
    return QJsonDocument::fromJson(text).object();
}

QJsonObject envelope(const QJsonValue &message, const QJsonValue &code = 200)
{
    return {{"json", QJsonObject{{"code", code}, {"message", message}}}};
}

QString digest(const QByteArray &password)
{
    return QCryptographicHash::hash(password, QCryptographicHash::Sha512).toHex();
}

// A loopback address where nobody listens.
QByteArray closedUrl()
{
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost);
    return "http://127.0.0.1:" + QByteArray::number(closed.serverPort());
}

QJsonObject sentBody(const QJsonObject &request)
{
    return QJsonDocument::fromJson(request.value("body").toString().toUtf8()).object();
}

QString setting(const QString &key)
{
    return std::unique_ptr<QSettings>(ConfigIni::open(nullptr))->value(key, "<absent>").toString();
}

QWidget *typedWindow(AccountLogin &account, const QString &name, const QString &password, bool remember)
{
    QWidget *window = account.openAccountWindow();
    window->findChildren<QLineEdit *>().at(0)->setText(name);
    window->findChildren<QLineEdit *>().at(1)->setText(password);
    window->findChild<QCheckBox *>()->setChecked(remember);
    return window;
}

void press(QWidget *window, const QString &text)
{
    for (QPushButton *button : window->findChildren<QPushButton *>()) {
        if (button->text() == text)
            QTest::mouseClick(button, Qt::LeftButton);
    }
}

const QJsonObject accepted = envelope("ok");
const QJsonObject role3 = envelope(QJsonArray{QJsonObject{{"role", 3}}});
const QJsonArray records = QJsonDocument::fromJson(R"([
    {"id": 1, "originFileName": "fw_ble_v1.bin", "infor": "radio", "length": 4},
    {"id": "7", "originFileName": "string_id.bin", "infor": "BLE gateway"},
    {"id": 3, "originFileName": "no_length.bin"}])")
                               .array();

} // namespace

class tst_Cloud : public QObject
{
    Q_OBJECT

    QTemporaryDir work;
    CloudSimProcess server;
    BoxCatcher boxes;

private slots:
    void initTestCase()
    {
        QVERIFY(server.start(work.path()));
        qputenv("PLOVIKKIT_CLOUD_URL", server.url().toUtf8());
        qputenv("PLOVIKKIT_CATALOGUE_ACCOUNT", "10000000000");
        QDir::setCurrent(work.path());
        QVERIFY(QFile("startContent.html").open(QIODevice::WriteOnly));
        qApp->installEventFilter(&boxes);
    }

    void init()
    {
        std::unique_ptr<QSettings>(ConfigIni::open(nullptr))->clear();
        server.setReplies({});
        server.clearRequests();
        boxes.texts.clear();
        MyHttp::setTimeoutMs(MyHttp::kDefaultTimeoutMs);
    }

    void requestForms_data()
    {
        QTest::addColumn<int>("request");
        QTest::addColumn<QString>("account");
        QTest::addColumn<QString>("sent"); // method, path?query, body

        const QString login = QStringLiteral(R"(POST /user_infor/login? {"account":"%1","password":"%2"})");
        QTest::newRow("login: escaped, non-ASCII")
            << 0 << QString("a\"b\\ 用户") << login.arg(R"(a\"b\\ 用户)", digest("pw"));
        QTest::newRow("user information")
            << 1 << QString("a&b #c+d") << QString("GET /user_infor/get?account=a%26b%20%23c%2Bd ");
        QTest::newRow("password update")
            << 2 << QString("demo")
            << QStringLiteral(
                   R"(POST /user_infor/password/update? {"account":"demo","password":"%1","oldPassword":"%2"})")
                   .arg(digest("pw"), digest(""));
        QTest::newRow("version query")
            << 3 << QString()
            << QString("GET /file_infor/get?projectModel=plovikKit-update&account=10000000000 ");
        QTest::newRow("build download")
            << 4 << QString()
            << QString("GET /file/download?account=10000000000&projectModel=plovikKit-update ");
    }

    void requestForms()
    {
        QFETCH(int, request);
        QFETCH(QString, account);
        QFETCH(QString, sent);
        MyHttp http;
        CloudService service(http);
        const std::function<HttpResult()> send[] = {
            [&] { return service.login(account, "pw"); }, [&] { return service.userInformation(account); },
            [&] { return service.updatePassword(account, "pw", QString()); },
            [&] { return service.newestAppVersion(); }, [&] { return service.appDownload(1); }};
        send[request]();

        QCOMPARE(server.requests().size(), 1); // the server reads as many bytes as Content-Length says
        const QJsonObject got = server.requests().first();
        QCOMPARE(got["method"].toString() + ' ' + got["path"].toString() + '?' + got["query"].toString() +
                     ' ' + got["body"].toString(),
                 sent);
        if (sent.startsWith("POST"))
            QCOMPARE(got["headers"]["Content-Type"].toString(), QStringLiteral("application/json"));
    }

    void replyOutcomes_data()
    {
        QTest::addColumn<QJsonObject>("answer"); // {"down": 1}: nobody listens
        QTest::addColumn<QString>("error");

        QTest::newRow("HTTP 404") << reply(R"({"status": 404, "json": {"code": 200}})") << "HTTP status 404";
        QTest::newRow("never answers") << reply(R"({"silent": true})") << "timed out";
        QTest::newRow("server down") << reply(R"({"down": 1})") << "Connection refused";
        QTest::newRow("redirect with a body")
            << reply(R"({"status": 302, "headers": {"Location": "/elsewhere/fw"}, "body": "Found."})")
            << R"(HTTP status 302 Found, redirecting to "/elsewhere/fw")";
        QTest::newRow("endless body") << reply(R"({"endless": true})") << "reading stopped";
        QTest::newRow("inflates to 8 MiB") << reply(R"({"gzip": 8388608})") << "compressed (gzip)";
    }

    void replyOutcomes()
    {
        QFETCH(QJsonObject, answer);
        QFETCH(QString, error);
        if (answer.contains("down"))
            qputenv("PLOVIKKIT_CLOUD_URL", closedUrl());
        server.setReplies({{"/user_infor/get", answer}});
        if (answer.contains("silent"))
            MyHttp::setTimeoutMs(300);
        MyHttp http;
        const HttpResult got = CloudService(http).userInformation("demo");
        qputenv("PLOVIKKIT_CLOUD_URL", server.url().toUtf8());
        QVERIFY(!got.ok);
        QCOMPARE(got.body, QByteArray()); // nothing of a failed reply
        QVERIFY2(got.error.contains(error), qPrintable(got.error));
    }

    // One helper serves a chain of requests, yet each stands alone: a cookie that one reply sets
    // does not ride along on the next.
    void chainedRequestsCarryNoCookie()
    {
        const QJsonObject cookie{{"Set-Cookie", "session=1; Path=/"}};
        server.setReplies(
            {{"/user_infor/login", QJsonObject{{"json", accepted["json"]}, {"headers", cookie}}}});
        MyHttp http;
        CloudService service(http);
        QVERIFY(service.login("demo", "pw").ok && service.userInformation("demo").ok);
        QCOMPARE(server.requests().size(), 2);
        const QJsonObject headers = server.requests().last()["headers"].toObject();
        QVERIFY2(!QJsonDocument(headers).toJson().contains("session"),
                 QJsonDocument(headers).toJson().constData());
    }

    void manualLogin_data()
    {
        QTest::addColumn<QJsonObject>("loginReply");
        QTest::addColumn<QJsonObject>("userReply");
        QTest::addColumn<bool>("remember");
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<int>("level"); // 0: not logged in
        QTest::addColumn<QString>("savedPassword");

        const QString failed = QStringLiteral("登录出错了，请联系管理员\r\ncode：%1\r\nmessage：%2");
        QTest::newRow("role 3, remembered")
            << accepted << role3 << true << QStringList{"登录成功"} << 3 << "pw";
        QTest::newRow("role 3, not remembered")
            << accepted << role3 << false << QStringList{"登录成功"} << 3 << "";
        QTest::newRow("two roles: two boxes, the second counts")
            << accepted << envelope(QJsonArray{QJsonObject{{"role", 3}}, 7, QJsonObject{{"role", 5}}}) << true
            << QStringList{"登录成功", "登录成功"} << 5 << "pw";
        QTest::newRow("code as text") << envelope("", "4000") << role3 << true
                                      << QStringList{failed.arg("4000", "用户权限不足")} << 0 << "<absent>";
        QTest::newRow("code as number")
            << envelope("wrong password", 4001) << role3 << true
            << QStringList{failed.arg("4001", "wrong password")} << 0 << "<absent>";
        QTest::newRow("not JSON") << reply(R"({"body": "<html>"})") << role3 << true
                                  << QStringList{failed.arg("5001", "数据出错")} << 0 << "<absent>";
        QTest::newRow("HTTP error") << reply(R"({"status": 502})") << role3 << true
                                    << QStringList{failed.arg("404", "数据出错")} << 0 << "<absent>";
    }

    void manualLogin()
    {
        QFETCH(QJsonObject, loginReply);
        QFETCH(QJsonObject, userReply);
        QFETCH(bool, remember);
        QFETCH(QStringList, boxes);
        QFETCH(int, level);
        QFETCH(QString, savedPassword);
        server.setReplies({{"/user_infor/login", loginReply}, {"/user_infor/get", userReply}});

        AccountLogin account;
        press(typedWindow(account, "demo", "pw", remember), QStringLiteral("登录"));
        QCOMPARE(this->boxes.texts, boxes);
        QCOMPARE(account.user_clientLevel, level);
        QCOMPARE(account.loggedInAccount, QString(level ? "demo" : ""));
        QCOMPARE(account.pushButton_account->text(), QString(level ? "demo" : "未登录"));
        QCOMPARE(setting(SettingsKeys::loginFlag), QString(level ? "OK" : "<absent>"));
        QCOMPARE(setting(SettingsKeys::passwordName), savedPassword);
    }

    void passwordUpdate_data()
    {
        QTest::addColumn<bool>("loggedIn");
        QTest::addColumn<QString>("password"); // accountPassword afterwards
        QTest::addColumn<QJsonObject>("updateReply");
        QTest::addColumn<QString>("box");

        const QString failed = QStringLiteral("出错了，请联系管理员\r\ncode：%1\r\nmessage：%2");
        QTest::newRow("logged out") << false << "old" << accepted << "出错了，请先登录";
        QTest::newRow("success") << true << "new" << accepted << "更新成功";
        QTest::newRow("HTTP error") << true << "old" << reply(R"({"status": 500})")
                                    << failed.arg("404", "数据出错");
        QTest::newRow("not JSON") << true << "old" << reply(R"({"body": "x"})")
                                  << failed.arg("5001", "数据出错");
        QTest::newRow("code as text") << true << "old" << envelope("", "200") << failed.arg("5000", "");
        QTest::newRow("refused: 4000 whatever the code")
            << true << "old" << envelope("wrong old password", 4003)
            << failed.arg("4000", "wrong old password");
    }

    void passwordUpdate()
    {
        QFETCH(bool, loggedIn);
        QFETCH(QString, password);
        QFETCH(QJsonObject, updateReply);
        QFETCH(QString, box);
        server.setReplies({{"/user_infor/password/update", updateReply}});
        AccountLogin account;
        account.loggedIn = loggedIn;
        account.accountName = QStringLiteral("demo");
        account.accountPassword = QStringLiteral("old");
        press(typedWindow(account, "demo", "new", false), QStringLiteral("更新密码"));

        QCOMPARE(boxes.texts, QStringList{box});
        QCOMPARE(account.accountPassword, password);
        QCOMPARE(server.requests().size(), loggedIn ? 1 : 0);
        if (loggedIn)
            QCOMPARE(sentBody(server.requests().first()).value("oldPassword").toString(), digest("old"));
        if (password == "new")
            QCOMPARE(setting(SettingsKeys::passwordName), QString()); // not remembered
    }

    void passwordUpdateAfterLoginNotRemembered()
    {
        server.setReplies({{"/user_infor/login", accepted},
                           {"/user_infor/get", role3},
                           {"/user_infor/password/update", accepted}});
        AccountLogin account;
        QWidget *window = typedWindow(account, "demo", "typed", false);
        press(window, QStringLiteral("登录"));
        window->findChildren<QLineEdit *>().at(1)->setText("new");
        press(window, QStringLiteral("更新密码"));
        QCOMPARE(boxes.texts, (QStringList{"登录成功", "更新成功"}));
        QCOMPARE(sentBody(server.requests().last()).value("oldPassword").toString(), digest("typed"));
        QCOMPARE(setting(SettingsKeys::passwordName), QString()); // never on disk
    }

    void windowsUseTheirOwnFieldsAndLogOut()
    {
        server.setReplies({{"/user_infor/login", accepted}, {"/user_infor/get", role3}});
        AccountLogin account;
        QWidget *first = typedWindow(account, "first", "pw1", true);
        QWidget *second = typedWindow(account, "second", "pw2", true);
        press(first, QStringLiteral("登录"));
        QCOMPARE(sentBody(server.requests().first()).value("account").toString(), QStringLiteral("first"));
        QCOMPARE(account.loggedInAccount, QStringLiteral("first"));

        press(second, QStringLiteral("退出登录"));
        QVERIFY(!second->isVisible() && first->isVisible());
        QCOMPARE(account.pushButton_account->text(), QStringLiteral("未登录"));
        QCOMPARE(setting(SettingsKeys::loginFlag), QString()); // the next start will not log in
    }

    void versionPage_data()
    {
        QTest::addColumn<QJsonObject>("versionReply");
        QTest::addColumn<QString>("label");
        QTest::addColumn<bool>("dot");

        const auto versions = [](const QJsonValue &first, const QJsonValue &last,
                                 const QJsonValue &code = 200) {
            return envelope(QJsonArray{QJsonObject{{"appVersion", first}}, QJsonObject{{"appVersion", last}}},
                            code);
        };
        const QString layout = QStringLiteral("未知");
        QTest::newRow("newer last") << versions("202401010000", "202501010000") << "202501010000" << true;
        QTest::newRow("older last") << versions("202501010000", "202401010000") << "202401010000" << false;
        QTest::newRow("equal") << versions("1", "202410071921") << "202410071921" << false;
        QTest::newRow("number, not text") << versions("1", 209901010000.0) << layout << false;
        QTest::newRow("not numeric") << versions("1", "beta") << "beta" << false;
        QTest::newRow("empty list") << envelope(QJsonArray()) << layout << false;
        QTest::newRow("code as text") << versions("1", "209901010000", "200") << layout << false;
        QTest::newRow("code 201") << versions("1", "209901010000", 201) << layout << false;
        QTest::newRow("service error") << reply(R"({"status": 503, "body": "down"})") << layout << false;
    }

    void versionPage()
    {
        QFETCH(QJsonObject, versionReply);
        QFETCH(QString, label);
        QFETCH(bool, dot);
        std::unique_ptr<QSettings>(ConfigIni::open(nullptr))->setValue(SettingsKeys::loginFlag, "OK");
        std::unique_ptr<QSettings>(ConfigIni::open(nullptr))->setValue(SettingsKeys::accountName, "demo");
        server.setReplies({{"/file_infor/get", versionReply},
                           {"/user_infor/login", accepted},
                           {"/user_infor/get", envelope(role3["json"]["message"], 201)}});
        MainWindow window;
        QVERIFY(server.requests().isEmpty()); // construction sends nothing and never waits
        window.show();
        QCoreApplication::processEvents(); // the queued start-up requests: version, remembered login
        QCOMPARE(server.requests().at(0).value("path").toString(), QStringLiteral("/file_infor/get"));
        QCOMPARE(window.account()->pushButton_account->text(), QStringLiteral("demo")); // any code will do
        QCOMPARE(window.form()->label_newAppVersion->text(), label);
        QCOMPARE(!window.form()->label_14->pixmap(Qt::ReturnByValue).isNull(), dot);
    }

    void startupRequestsGiveUpSoon()
    {
        std::unique_ptr<QSettings>(ConfigIni::open(nullptr))->setValue(SettingsKeys::loginFlag, "OK");
        std::unique_ptr<QSettings>(ConfigIni::open(nullptr))->setValue(SettingsKeys::accountName, "demo");
        server.setReplies({{"/file_infor/get", reply(R"({"trickle": 500})")}}); // never silent for long
        MainWindow window;
        window.show();
        QCoreApplication::processEvents(); // the queued start-up requests
        const QString console = window.console()->textArea()->toPlainText();
        QVERIFY2(console.contains("start-up version query given up: ") &&
                     console.contains("remembered login given up: "),
                 qPrintable(console));
        for (const QJsonObject &request : server.requests())
            QVERIFY(request["path"] != "/user_infor/login"); // the version query took all the time
    }

    void catalogueSaysWhenTheServiceIsDown()
    {
        MainWindow window;
        window.account()->loggedInAccount = QStringLiteral("demo");
        qputenv("PLOVIKKIT_CLOUD_URL", closedUrl());
        QTest::mouseClick(window.form()->pushButton, Qt::LeftButton);
        qputenv("PLOVIKKIT_CLOUD_URL", server.url().toUtf8());
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY2(boxes.texts.first().startsWith("获取固件失败") && boxes.texts.first().contains("refused"),
                 qPrintable(boxes.texts.first()));
    }

    void catalogueListAndFilter()
    {
        MainWindow window;
        Ui::MainWindow *ui = window.form();
        server.setReplies({{"/file_infor/get", QJsonArray{envelope(records), envelope(QJsonArray())}}});
        window.account()->loggedInAccount = QStringLiteral("demo");
        QTest::mouseClick(ui->pushButton, Qt::LeftButton);
        QCOMPARE(server.requests().last().value("query").toString(), QStringLiteral("account=demo"));
        QCOMPARE(ui->tableWidget->rowCount(), 3);
        QCOMPARE(ui->tableWidget->item(0, 0)->text() + ui->tableWidget->item(0, 3)->text(), "1radio");
        QVERIFY(!ui->tableWidget->item(1, 0)); // an id given as text is no id

        ui->lineEdit_filter_text->setText(QStringLiteral("ble"));
        QCOMPARE(ui->tableWidget->rowCount(), 2);
        QCOMPARE(ui->tableWidget->item(1, 1)->text() + ui->tableWidget->item(1, 3)->text(),
                 "string_id.binBLE gateway");
        ui->lineEdit_filter_text->clear();
        QCOMPARE(ui->tableWidget->rowCount(), 3);
        QVERIFY(!ui->tableWidget->item(0, 2) && !ui->tableWidget->item(1, 2)); // nothing moved under MCU型号

        QTest::mouseClick(ui->pushButton, Qt::LeftButton); // an empty catalogue
        QCOMPARE(ui->tableWidget->rowCount(), 0);
    }

    void rowClickDownloads_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("length");
        QTest::addColumn<QJsonObject>("download");
        QTest::addColumn<QByteArray>("image"); // netserverFirmware afterwards
        QTest::addColumn<QString>("consoleLine");

        const QByteArray previous("previous");
        const QJsonObject twoBytes = reply(R"({"hex": "0a0b"})");
        QTest::newRow("image of the record's length")
            << 0 << "4" << reply(R"({"hex": "01020304"})") << QByteArray("\x01\x02\x03\x04") << QString();
        QTest::newRow("short image") << 0 << "" << reply(R"({"hex": "010203"})") << previous
                                     << "3 bytes where the record gives 4";
        QTest::newRow("error envelope")
            << 2 << "" << envelope("no such file", 404) << previous << "code 404, message no such file";
        QTest::newRow("longer than the record")
            << 0 << "" << reply(R"({"hex": "0102030405"})") << previous << "sent more than 4 bytes";
        QTest::newRow("no length given")
            << 2 << "2" << twoBytes << QByteArray("\x0a\x0b") << "warning: the record gives no usable length";
        // A proxy's or captive portal's page, with HTTP 200, is no image.
        QTest::newRow("web page") << 2 << "" << reply(R"({"hex": "3c21444f43545950452068746d6c3e"})")
                                  << previous << "the download is a web page";
        QTest::newRow("id as text: no download") << 1 << "" << twoBytes << previous << QString();
    }

    void rowClickDownloads()
    {
        QFETCH(int, row);
        QFETCH(QString, length);
        QFETCH(QJsonObject, download);
        QFETCH(QByteArray, image);
        QFETCH(QString, consoleLine);
        server.setReplies({{"/file_infor/get", envelope(records)}, {"/file/download", download}});
        MainWindow window;
        window.account()->loggedInAccount = QStringLiteral("demo");
        QTest::mouseClick(window.form()->pushButton, Qt::LeftButton);
        window.downloadedFirmware() = "previous";

        window.on_tableWidget_cellClicked(row, 1);
        QCOMPARE(window.downloadedFirmware(), image);
        QCOMPARE(window.form()->lineEdit__firmware_length->text(), length);
        QCOMPARE(window.form()->comboBox_update_link->currentText().isEmpty(),
                 length.isEmpty()); // what is sent
        QCOMPARE(server.requests().last().value("query").toString(),
                 row == 1 ? QStringLiteral("account=demo")
                          : QStringLiteral("account=10000000000&id=%1").arg(row + 1));
        const QString console = window.console()->textArea()->toPlainText();
        QVERIFY2(console.contains(consoleLine), qPrintable(console));
    }

    void upgrade_data()
    {
        QTest::addColumn<QByteArray>("build");     // served as the newest build
        QTest::addColumn<QJsonObject>("download"); // instead, when not empty
        QTest::addColumn<QJsonValue>("length");    // the record's; undefined: none
        QTest::addColumn<int>("script");           // mode of the working directory's restart.sh, 0: none
        QTest::addColumn<QString>("consoleLine");  // empty: handed over

        const QByteArray elf = ProgramFormat::headerOf(QCoreApplication::applicationFilePath()).left(64);
        QByteArray otherMachine = elf;
        otherMachine[18] = char(otherMachine[18] ^ 0x70);
        const QJsonObject none;
        const QString refused = QStringLiteral("new version not installed: ");
        QTest::newRow("handed over") << elf << none << QJsonValue(64) << 0644 << QString();
        QTest::newRow("no restart script")
            << elf << none << QJsonValue(64) << 0 << refused + "restart script";
        QTest::newRow("restart script others may write")
            << elf << none << QJsonValue(64) << 0664 << "is not used: other users may write it";
        QTest::newRow("error envelope") << elf << envelope("none", 404) << QJsonValue(64) << 0644 << refused;
        QTest::newRow("redirect") << elf
                                  << reply(R"({"status": 302, "headers": {"Location": "/x"}, "body": "x"})")
                                  << QJsonValue(1) << 0644 << "HTTP status 302";
        QTest::newRow("record without length")
            << elf << none << QJsonValue() << 0644 << "no build of a usable length";
        QTest::newRow("Windows header")
            << QByteArray("MZ").leftJustified(23, '\x90') << none << QJsonValue(23) << 0644
            << "no program for this system: it is no ELF program";
        QTest::newRow("ELF for another machine")
            << otherMachine << none << QJsonValue(64) << 0644 << "an ELF program for another machine";
    }

    void upgrade()
    {
        QFETCH(QByteArray, build);
        QFETCH(QJsonObject, download);
        QFETCH(QJsonValue, length);
        QFETCH(int, script);
        QFETCH(QString, consoleLine);
        const QJsonObject record{{"appVersion", "209912312359"}, {"length", length}};
        server.setReplies({{"/file_infor/get", envelope(QJsonArray{record})},
                           {"/file/download",
                            download.isEmpty() ? QJsonObject{{"hex", QString(build.toHex())}} : download}});
        for (const char *name : {"plovikKit-update-temp", "started", "restart.sh"})
            QFile::remove(name);
        QFile restart("restart.sh");
        if (script)
            QVERIFY(restart.open(QIODevice::WriteOnly) && restart.write("touch started\n") > 0 &&
                    chmod("restart.sh", mode_t(script)) == 0);
        restart.close();
        MainWindow window;
        window.downloadedFirmware() = "firmware";
        QTest::mouseClick(window.form()->pushButton_2, Qt::LeftButton);

        const bool written = consoleLine.isEmpty() || script != 0644; // only the script was missing
        QFile temporary("plovikKit-update-temp");
        QCOMPARE(temporary.open(QIODevice::ReadOnly) ? temporary.readAll() : QByteArray(),
                 written ? build : QByteArray());
        QCOMPARE(window.downloadedFirmware(), QByteArray("firmware")); // never the device's image
        const QString console = window.console()->textArea()->toPlainText();
        QVERIFY2(console.contains(consoleLine), qPrintable(console));
        if (consoleLine.isEmpty())
            QTRY_VERIFY(QFile::exists("started"));
        QVERIFY(consoleLine.isEmpty() || !QFile::exists("started"));
    }

    void restartScriptKeepsTheOldProgram_data()
    {
        QTest::addColumn<QByteArray>("newBuild"); // shell text of the new build
        QTest::addColumn<QString>("started");     // the program in place, which the script started

        QTest::newRow("new build starts") << QByteArray("echo \"new$*\" >> log") << "new";
        QTest::newRow("new build does not start")
            << QByteArray("[ \"$1\" = --version ] && exit 1; echo \"new$*\" >> log") << "old";
    }

    void restartScriptKeepsTheOldProgram()
    {
        QFETCH(QByteArray, newBuild);
        QFETCH(QString, started);
        QTemporaryDir folder;
        const auto program = [&folder](const char *name, const QByteArray &text) {
            QFile file(folder.filePath(name));
            return file.open(QIODevice::WriteOnly) && file.write("#!/bin/sh\n" + text + "\n") > 0 &&
                   file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
        };
        QVERIFY(program("plovikKit", "echo \"old$*\" >> log") && program("new-build", newBuild));
        QProcess script;
        script.setWorkingDirectory(folder.path());
        script.start("sh", {PLOVIKKIT_SOURCE_DIR "/dist/restart.sh", "new-build", "./plovikKit"});
        QVERIFY(script.waitForFinished(30000));
        QFile log(folder.filePath("log"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll().split('\n').at(started == "new" ? 1 : 0), started.toUtf8());
        QCOMPARE(QFile::exists(folder.filePath("plovikKit.previous")), started == "new"); // the old one kept
    }

    void versionNeedsNoDisplay()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        environment.insert("QT_QPA_PLATFORM", "xcb");
        QProcess tool;
        tool.setProcessEnvironment(environment);
        tool.start(PLOVIKKIT_BINARY_DIR "/bin/plovikKit", {"--version"});
        QVERIFY(tool.waitForFinished(30000));
        QCOMPARE(tool.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.readAllStandardOutput().trimmed(), ("plovikKit " + MainWindow::appVersion()).toUtf8());
    }
};

QTEST_MAIN(tst_Cloud)
#include "tst_cloud.moc"
