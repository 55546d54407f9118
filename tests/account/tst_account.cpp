// The account button and window against scripts/cloud-sim: manual and automatic login chains,
// the password update, log-out, and windows that act on their own fields.
#include "accountlogin.h"
#include "boxcatcher.h"
#include "cloudsimprocess.h"
#include "configini.h"
#include "passworddigest.h"
#include "settingskeys.h"

#include <QApplication>
#include <QCheckBox>
#include <QJsonDocument>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QJsonObject reply(const char *text)
{
    return QJsonDocument::fromJson(text).object();
}

const QJsonObject accepted = reply(R"({"json": {"code": 200, "message": "ok"}})");
const QString failure = QStringLiteral("出错了，请联系管理员\r\ncode：%1\r\nmessage：%2");

QString setting(const QString &key)
{
    QSettings settings(ConfigIni::open(nullptr)->fileName(), QSettings::IniFormat);
    return settings.value(key, QStringLiteral("<absent>")).toString();
}

void typeInto(QWidget *window, const QString &account, const QString &password, bool remember)
{
    const QList<QLineEdit *> fields = window->findChildren<QLineEdit *>();
    fields.at(0)->setText(account);
    fields.at(1)->setText(password);
    window->findChild<QCheckBox *>()->setChecked(remember);
}

void press(QWidget *window, const QString &text)
{
    for (QPushButton *button : window->findChildren<QPushButton *>()) {
        if (button->text() == text)
            QTest::mouseClick(button, Qt::LeftButton);
    }
}

} // namespace

class tst_Account : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void manualLogin_data();
    void manualLogin();
    void automaticLogin_data();
    void automaticLogin();
    void passwordUpdate_data();
    void passwordUpdate();
    void windowsUseTheirOwnFieldsAndLogOut();

private:
    QString sentAccount(int index);

    QTemporaryDir images;
    CloudSimProcess server;
};

void tst_Account::initTestCase()
{
    QVERIFY(server.start(images.path()));
    qputenv("PLOVIKKIT_CLOUD_URL", server.url().toUtf8());
}

void tst_Account::init()
{
    std::unique_ptr<QSettings> settings(ConfigIni::open(nullptr));
    settings->clear();
    settings->sync();
    server.setReplies({});
    server.clearRequests();
}

QString tst_Account::sentAccount(int index)
{
    const QList<QJsonObject> requests = server.requests();
    if (index >= requests.size())
        return QStringLiteral("<not sent>");
    return QJsonDocument::fromJson(requests.at(index).value("body").toString().toUtf8())
        .object()
        .value("account")
        .toString();
}

void tst_Account::manualLogin_data()
{
    QTest::addColumn<QJsonObject>("loginReply");
    QTest::addColumn<QJsonObject>("userReply");
    QTest::addColumn<bool>("remember");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<int>("level"); // 0: not logged in
    QTest::addColumn<QString>("savedPassword");

    const QJsonObject role3 = reply(R"({"json": {"code": 200, "message": [{"role": 3}]}})");
    const QString loginFailure = QStringLiteral("登录出错了，请联系管理员\r\ncode：%1\r\nmessage：%2");
    QTest::newRow("role 3, remembered") << accepted << role3 << true << QStringList{"登录成功"} << 3 << "pw";
    QTest::newRow("role 3, not remembered")
        << accepted << role3 << false << QStringList{"登录成功"} << 3 << "";
    QTest::newRow("two roles: two boxes, the second counts")
        << accepted << reply(R"({"json": {"code": 200, "message": [{"role": 3}, {"x": 1}, {"role": 5}]}})")
        << true << QStringList{"登录成功", "登录成功"} << 5 << "pw";
    QTest::newRow("user information with another code")
        << accepted << reply(R"({"json": {"code": 201, "message": [{"role": 3}]}})") << true << QStringList()
        << 0 << "<absent>";
    QTest::newRow("code as text") << reply(R"({"json": {"code": "4000"}})") << role3 << true
                                  << QStringList{loginFailure.arg("4000", "用户权限不足")} << 0 << "<absent>";
    QTest::newRow("code as number") << reply(R"({"json": {"code": 4000}})") << role3 << true << QStringList()
                                    << 0 << "<absent>";
    QTest::newRow("not JSON") << reply(R"({"body": "<html>"})") << role3 << true
                              << QStringList{loginFailure.arg("5001", "数据出错")} << 0 << "<absent>";
    QTest::newRow("HTTP error") << reply(R"({"status": 502, "body": ""})") << role3 << true
                                << QStringList{loginFailure.arg("404", "数据出错")} << 0 << "<absent>";
}

void tst_Account::manualLogin()
{
    QFETCH(QJsonObject, loginReply);
    QFETCH(QJsonObject, userReply);
    QFETCH(bool, remember);
    QFETCH(QStringList, boxes);
    QFETCH(int, level);
    QFETCH(QString, savedPassword);
    server.setReplies({{"/user_infor/login", loginReply}, {"/user_infor/get", userReply}});

    BoxCatcher catcher;
    AccountLogin account;
    QWidget *window = account.openAccountWindow();
    typeInto(window, QStringLiteral("demo"), QStringLiteral("pw"), remember);
    press(window, QStringLiteral("登录"));

    QCOMPARE(catcher.texts, boxes);
    QCOMPARE(account.user_clientLevel, level);
    QCOMPARE(account.loggedIn, level != 0);
    QCOMPARE(account.loggedInAccount, level ? QStringLiteral("demo") : QString());
    QCOMPARE(account.pushButton_account->text(), level ? QStringLiteral("demo") : QStringLiteral("未登录"));
    QCOMPARE(setting(SettingsKeys::loginFlag), level ? QStringLiteral("OK") : QStringLiteral("<absent>"));
    QCOMPARE(setting(SettingsKeys::passwordName), savedPassword);
    const QString sentDigest =
        QJsonDocument::fromJson(server.requests().value(0).value("body").toString().toUtf8())
            .object()
            .value("password")
            .toString();
    QCOMPARE(sentDigest, PasswordDigest::of(QStringLiteral("pw")));
}

void tst_Account::automaticLogin_data()
{
    QTest::addColumn<QString>("loginFlag");
    QTest::addColumn<QJsonObject>("loginReply");
    QTest::addColumn<QJsonObject>("userReply");
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("requests");

    const QJsonObject anyCodeRole = reply(R"({"json": {"code": 201, "message": [{"role": 2}]}})");
    QTest::newRow("remembered: any code with a role") << "OK" << accepted << anyCodeRole << "demo" << 2;
    QTest::newRow("refused") << "OK" << reply(R"({"json": {"code": 4001}})") << anyCodeRole << "未登录" << 1;
    QTest::newRow("server error") << "OK" << reply(R"({"status": 500})") << anyCodeRole << "未登录" << 1;
    QTest::newRow("logged out: nothing sent") << "" << accepted << anyCodeRole << "未登录" << 0;
}

void tst_Account::automaticLogin()
{
    QFETCH(QString, loginFlag);
    QFETCH(QJsonObject, loginReply);
    QFETCH(QJsonObject, userReply);
    QFETCH(QString, button);
    QFETCH(int, requests);
    server.setReplies({{"/user_infor/login", loginReply}, {"/user_infor/get", userReply}});
    {
        std::unique_ptr<QSettings> settings(ConfigIni::open(nullptr));
        settings->setValue(SettingsKeys::accountName, "demo");
        settings->setValue(SettingsKeys::passwordName, "pw");
        settings->setValue(SettingsKeys::loginFlag, loginFlag);
    }
    BoxCatcher catcher;
    AccountLogin account;
    QVERIFY(server.requests().isEmpty()); // nothing before the window is on screen
    account.runAutomaticLogin();
    account.runAutomaticLogin(); // once per start
    QCOMPARE(account.pushButton_account->text(), button);
    QCOMPARE(account.loggedInAccount, button == "demo" ? button : QString());
    QVERIFY(catcher.texts.isEmpty());
    QCOMPARE(server.requests().size(), requests);
    if (requests)
        QCOMPARE(sentAccount(0), QStringLiteral("demo"));
}

void tst_Account::passwordUpdate_data()
{
    QTest::addColumn<bool>("loggedIn");
    QTest::addColumn<QJsonObject>("updateReply");
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("password"); // accountPassword afterwards

    QTest::newRow("logged out") << false << accepted << "出错了，请先登录"
                                << "old";
    QTest::newRow("success") << true << accepted << "更新成功"
                             << "new";
    QTest::newRow("HTTP error") << true << reply(R"({"status": 500})") << failure.arg("404", "数据出错")
                                << "old";
    QTest::newRow("not JSON") << true << reply(R"({"body": "x"})") << failure.arg("5001", "数据出错")
                              << "old";
    QTest::newRow("code as text") << true << reply(R"({"json": {"code": "200"}})") << failure.arg("5000", "")
                                  << "old";
    QTest::newRow("refused: 4000 whatever the code")
        << true << reply(R"({"json": {"code": 4003, "message": "wrong old password"}})")
        << failure.arg("4000", "wrong old password") << "old";
}

void tst_Account::passwordUpdate()
{
    QFETCH(bool, loggedIn);
    QFETCH(QJsonObject, updateReply);
    QFETCH(QString, box);
    QFETCH(QString, password);
    server.setReplies({{"/user_infor/password/update", updateReply}});

    BoxCatcher catcher;
    AccountLogin account;
    account.loggedIn = loggedIn;
    account.accountName = QStringLiteral("demo");
    account.accountPassword = QStringLiteral("old");
    QWidget *window = account.openAccountWindow();
    typeInto(window, QStringLiteral("demo"), QStringLiteral("new"), false);
    press(window, QStringLiteral("更新密码"));

    QCOMPARE(catcher.texts, QStringList{box});
    QCOMPARE(account.accountPassword, password);
    QCOMPARE(server.requests().size(), loggedIn ? 1 : 0);
    if (password == "new")
        QCOMPARE(setting(SettingsKeys::passwordName), QString()); // not remembered
    if (loggedIn) {
        const QJsonObject sent =
            QJsonDocument::fromJson(server.requests().first().value("body").toString().toUtf8()).object();
        QCOMPARE(sent.value("password").toString(), PasswordDigest::of(QStringLiteral("new")));
        QCOMPARE(sent.value("oldPassword").toString(), PasswordDigest::of(QStringLiteral("old")));
    }
}

void tst_Account::windowsUseTheirOwnFieldsAndLogOut()
{
    server.setReplies({{"/user_infor/login", accepted},
                       {"/user_infor/get", reply(R"({"json": {"code": 200, "message": [{"role": 1}]}})")}});
    BoxCatcher catcher;
    AccountLogin account;
    QWidget *first = account.openAccountWindow();
    typeInto(first, QStringLiteral("first"), QStringLiteral("pw1"), true);
    QWidget *second = account.openAccountWindow();
    typeInto(second, QStringLiteral("second"), QStringLiteral("pw2"), true);

    press(first, QStringLiteral("登录"));
    QCOMPARE(sentAccount(0), QStringLiteral("first"));
    QCOMPARE(account.loggedInAccount, QStringLiteral("first"));
    QCOMPARE(setting(SettingsKeys::passwordName), QStringLiteral("pw1"));

    press(second, QStringLiteral("退出登录"));
    QVERIFY(!second->isVisible());
    QVERIFY(first->isVisible());
    QVERIFY(!account.loggedIn);
    QCOMPARE(account.pushButton_account->text(), QStringLiteral("未登录"));
    QCOMPARE(setting(SettingsKeys::loginFlag), QString());
    QCOMPARE(setting(SettingsKeys::accountName), QStringLiteral("first"));

    // The next start does not log in by itself.
    server.clearRequests();
    AccountLogin next;
    next.runAutomaticLogin();
    QVERIFY(server.requests().isEmpty());
    QCOMPARE(next.openAccountWindow()->findChild<QLineEdit *>()->text(), QStringLiteral("first"));
}

QTEST_MAIN(tst_Account)
#include "tst_account.moc"
