#include "app/accountlogin.h"

#include "cloud/accountreply.h"
#include "cloud/cloudenvelope.h"
#include "cloud/cloudservice.h"
#include "cloud/myhttp.h"
#include "cloud/myjson.h"
#include "cloud/passworddigest.h"
#include "cloud/servicetext.h"
#include "core/debugtrace.h"
#include "storage/configini.h"
#include "storage/settingskeys.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>
#include <QVBoxLayout>

namespace {

const QString loginFlagValue = QStringLiteral("OK");

} // namespace

// What the account button says while nobody is logged in.
QString AccountLogin::loggedOutText()
{
    return tr("未登录");
}

AccountLogin::AccountLogin()
{
    settings = ConfigIni::open(this);
    pushButton_account = new QPushButton;
    pushButton_account->setFixedSize(70, 70);
    pushButton_account->setStyleSheet(
        QStringLiteral("QPushButton{border-radius: 35px;border: 1px solid black;}QPushButton:hover { "
                       "background-color: #808080; }"));
    restoreSavedAccount();
    connect(pushButton_account, &QPushButton::clicked, this, [this] { openAccountWindow(); });
}

AccountLogin::~AccountLogin()
{
    for (const QPointer<QWidget> &window : accountWindows)
        delete window;
    if (!pushButton_account->parent())
        delete pushButton_account;
}

void AccountLogin::restoreSavedAccount()
{
    settingValue = settings->value(SettingsKeys::accountName);
    if (settingValue.isValid())
        accountName = settingValue.toString();
    settingValue = settings->value(SettingsKeys::passwordName);
    if (settingValue.isValid())
        accountPassword = settingValue.toString();
    settingValue = settings->value(SettingsKeys::loginFlag);
    // The remembered login waits until the main window is on screen; until it succeeds the
    // button says that nobody is logged in.
    automaticLoginDue = settingValue.toString() == loginFlagValue && !accountName.isEmpty();
    pushButton_account->setText(loggedOutText());
}

QString AccountLogin::runAutomaticLogin(CloudService &service)
{
    if (!automaticLoginDue)
        return QString();
    automaticLoginDue = false;
    return takeAutomaticLoginReply(service, service.login(accountName, accountPassword));
}

// Returns why the reply, or the user information it leads to, is no login; empty after a login.
QString AccountLogin::takeAutomaticLoginReply(CloudService &service, const HttpResult &reply)
{
    const AccountReply::Verdict verdict = AccountReply::judge(reply, &accountJson);
    if (verdict == AccountReply::Verdict::NoReply) {
        pushButton_account->setText(loggedOutText());
        return reply.error;
    }
    TRACE(lcCloud) << "plovik_clients_login getPasswordString:" << PasswordDigest::masked(accountPassword);
    TRACE(lcCloud) << "plovik_clients_login getParams_json" << accountJson;
    QString problem = QStringLiteral("the service refused it: ") + CloudEnvelope::describe(accountJson);
    if (verdict == AccountReply::Verdict::Accepted) {
        const HttpResult information = service.userInformation(accountName);
        takeAutomaticUserInformation(information);
        problem = !information.ok ? information.error
                  : loggedIn      ? QString()
                                  : QStringLiteral("the service gave no role for %1").arg(accountName);
    }
    if (!loggedIn)
        pushButton_account->setText(loggedOutText());
    return problem;
}

QList<int> AccountLogin::userRoles(const HttpResult &reply, bool anyCode)
{
    const bool parsed = reply.ok && MyJson::paser(&accountJson, reply.body);
    TRACE(lcCloud) << "user_infor/get getParams_json" << accountJson;
    return parsed ? AccountReply::roles(accountJson, anyCode) : QList<int>();
}

void AccountLogin::takeAutomaticUserInformation(const HttpResult &reply)
{
    for (const int role : userRoles(reply, true))
        becomeLoggedIn(accountName, role);
}

void AccountLogin::becomeLoggedIn(const QString &name, int role)
{
    user_clientLevel = role;
    TRACE(lcCloud) << "account_ui->user_clientLevel" << user_clientLevel;
    pushButton_account->setText(name);
    loggedIn = true;
    loggedInAccount = name;
}

QWidget *AccountLogin::openAccountWindow()
{
    TRACE(lcCloud) << "pushButton_account PK_CLIENT_DATA_PARAMS 3";
    const AccountWindow fields = buildAccountWindow();
    settingValue = settings->value(SettingsKeys::savePasswordFlag);
    if (settingValue.isValid())
        fields.savePassword->setChecked(settingValue.toBool());
    // Connected only now, so that opening the window writes nothing.
    connectRememberBox(fields.savePassword);
    lineEdit_account = fields.account;
    lineEdit_password = fields.password;
    checekBox_savePassword = fields.savePassword;
    accountWindows << fields.window;
    return fields.window;
}

AccountLogin::AccountWindow AccountLogin::buildAccountWindow()
{
    AccountWindow fields;
    fields.window = new QWidget;
    fields.window->setFixedSize(300, 400);
    fields.window->setWindowTitle(tr("账户"));
    fields.window->show();
    fields.account = new QLineEdit(accountName);
    fields.password = new QLineEdit(accountPassword);
    fields.savePassword = new QCheckBox(tr("记住密码"));
    auto *update = new QPushButton(tr("更新密码"));
    auto *login = new QPushButton(tr("登录"));
    auto *quit = new QPushButton(tr("退出登录"));
    auto *layout = new QVBoxLayout(fields.window);
    layout->addWidget(new QLabel(tr("账号：")));
    layout->addWidget(fields.account);
    layout->addWidget(new QLabel(tr("密码：")));
    layout->addWidget(fields.password);
    for (QWidget *widget : std::initializer_list<QWidget *>{fields.savePassword, update, login, quit})
        layout->addWidget(widget);
    connect(update, &QPushButton::clicked, this, [this, fields] {
        if (!requestsHeldBack())
            updatePassword(fields);
    });
    connect(login, &QPushButton::clicked, this, [this, fields] {
        if (!requestsHeldBack())
            manualLogin(fields);
    });
    connect(quit, &QPushButton::clicked, this, [this, fields] { logOut(fields); });
    return fields;
}

void AccountLogin::connectRememberBox(QCheckBox *box)
{
    connect(box, &QCheckBox::stateChanged, this, [this, box] {
        TRACE(lcCloud) << "checekBox_savePassword  3--" << (box->isChecked() ? "true" : "false");
        saveSetting(SettingsKeys::savePasswordFlag, box->isChecked());
    });
}

void AccountLogin::manualLogin(const AccountWindow &fields)
{
    TRACE(lcCloud) << "pushButton_account_login  3--" << PasswordDigest::masked(fields.password->text());
    user_clientLevel = 0;
    loggedIn = false;
    loggedInAccount.clear();
    accountName = fields.account->text();
    accountPassword = fields.password->text();
    TRACE(lcCloud) << "plovik_clients_login getPasswordString" << PasswordDigest::masked(accountPassword);
    TRACE(lcCloud) << "plovik_clients_login getAccountString" << accountName;
    MyHttp http;
    CloudService service(http);
    takeManualLoginReply(service, fields, service.login(accountName, accountPassword));
}

void AccountLogin::takeManualLoginReply(CloudService &service, const AccountWindow &fields,
                                        const HttpResult &reply)
{
    const AccountReply::Verdict verdict = AccountReply::judge(reply, &accountJson);
    if (verdict != AccountReply::Verdict::NoReply)
        TRACE(lcCloud) << "plovik_clients_login getParams_json" << accountJson;
    switch (verdict) {
    case AccountReply::Verdict::NoReply:
        notice(tr("登录出错了，请联系管理员\r\ncode：404\r\nmessage：数据出错"));
        break;
    case AccountReply::Verdict::NotJson:
        notice(tr("登录出错了，请联系管理员\r\ncode：5001\r\nmessage：数据出错"));
        break;
    case AccountReply::Verdict::CodeNotNumber:
        notice(tr("登录出错了，请联系管理员\r\ncode：4000\r\nmessage：用户权限不足"));
        break;
    case AccountReply::Verdict::Refused:
        notice(tr("登录出错了，请联系管理员\r\ncode：%1\r\nmessage：%2")
                   .arg(accountJson.value(QStringLiteral("code")).toInt())
                   .arg(CloudEnvelope::messageText(accountJson)));
        break;
    case AccountReply::Verdict::Accepted:
        takeManualUserInformation(fields, service.userInformation(accountName));
        break;
    }
    if (!loggedIn)
        pushButton_account->setText(loggedOutText());
}

void AccountLogin::takeManualUserInformation(const AccountWindow &fields, const HttpResult &reply)
{
    for (const int role : userRoles(reply, false)) {
        accountName = fields.account->text();
        // Kept for the session (a password update sends it as the old one); on disk only when
        // the user asked for it.
        accountPassword = fields.password->text();
        becomeLoggedIn(accountName, role);
        saveSettings(
            {{SettingsKeys::accountName, accountName},
             {SettingsKeys::passwordName, fields.savePassword->isChecked() ? accountPassword : QString()},
             {SettingsKeys::loginFlag, loginFlagValue}});
        notice(tr("登录成功"));
    }
}

void AccountLogin::updatePassword(const AccountWindow &fields)
{
    if (!loggedIn) {
        notice(tr("出错了，请先登录"));
        return;
    }
    MyHttp http;
    takePasswordUpdateReply(
        fields, CloudService(http).updatePassword(accountName, fields.password->text(), accountPassword));
}

void AccountLogin::takePasswordUpdateReply(const AccountWindow &fields, const HttpResult &reply)
{
    const AccountReply::Verdict verdict = AccountReply::judge(reply, &accountJson);
    if (verdict != AccountReply::Verdict::NoReply)
        TRACE(lcCloud) << "user_infor/password/update getParams_json" << accountJson;
    const QString failed = tr("出错了，请联系管理员\r\ncode：%1\r\nmessage：%2");
    switch (verdict) {
    case AccountReply::Verdict::NoReply:
        notice(failed.arg(QStringLiteral("404"), tr("数据出错")));
        break;
    case AccountReply::Verdict::NotJson:
        notice(failed.arg(QStringLiteral("5001"), tr("数据出错")));
        break;
    case AccountReply::Verdict::CodeNotNumber:
        notice(failed.arg(QStringLiteral("5000"), QString()));
        break;
    case AccountReply::Verdict::Refused:
        notice(failed.arg(QStringLiteral("4000"), CloudEnvelope::messageText(accountJson)));
        break;
    case AccountReply::Verdict::Accepted:
        notice(tr("更新成功"));
        accountPassword = fields.password->text();
        saveSetting(SettingsKeys::passwordName,
                    fields.savePassword->isChecked() ? fields.password->text() : QString());
        break;
    }
}

void AccountLogin::logOut(const AccountWindow &fields)
{
    TRACE(lcCloud) << "pushButton_account_quit  3";
    user_clientLevel = 0;
    saveSetting(SettingsKeys::loginFlag, QString());
    pushButton_account->setText(loggedOutText());
    fields.window->close();
    loggedIn = false;
    loggedInAccount.clear();
}

bool AccountLogin::requestsHeldBack() const
{
    return holdRequests && holdRequests();
}

void AccountLogin::saveSetting(const QString &key, const QVariant &value)
{
    saveSettings({{key, value}});
}

// The keys of one step go to the file in one write.
void AccountLogin::saveSettings(const QList<QPair<QString, QVariant>> &values)
{
    for (const auto &value : values)
        settings->setValue(value.first, value.second);
    QString why;
    if (!ConfigIni::sync(settings, &why))
        emit settingsNotSaved(why);
}

void AccountLogin::notice(const QString &text)
{
    QMessageBox::question(nullptr, tr("提示"), text, QMessageBox::Yes | QMessageBox::No,
                          QMessageBox::NoButton);
}
