#pragma once

#include <QJsonObject>
#include <QList>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QVariant>
#include <cstdint>
#include <functional>

class CloudService;
class QCheckBox;
class QLineEdit;
class QSettings;
class QWidget;
struct HttpResult;

// The account: a round button in the main window's top strip that names the logged-in account
// (or says "未登录"), and the account window it opens, where the user logs in, changes the
// password and logs out. A remembered login is repeated by itself at the next start.
//
// Every account window keeps its own fields: its buttons act on what was typed into it, however
// many windows were opened after it. Each login or password change makes a request helper of its
// own rather than keeping one for the session, so that nothing of the network stays awake (see
// MyHttp).
class AccountLogin : public QPushButton
{
    Q_OBJECT
public:
    AccountLogin();
    ~AccountLogin() override;

    // Repeats a remembered login (once). The main window calls it when it is on screen. Returns
    // why it did not log in (the request failed, the service refused); empty otherwise.
    QString runAutomaticLogin(CloudService &service);
    // Builds and shows a new account window; the round button's click does the same.
    QWidget *openAccountWindow();
    // The question box titled "提示" in which the cloud's pages tell the user something.
    static void notice(const QString &text);
    // While it holds (an update runs), the account window's buttons send no request; it says why.
    void setRequestHold(std::function<bool()> hold) { holdRequests = std::move(hold); }

    QJsonObject accountJson;
    QVariant settingValue;
    QString accountName;
    QString accountPassword;
    // The account after a successful login, empty otherwise; the catalogue lists its firmware.
    QString loggedInAccount;
    QPushButton *pushButton_account = nullptr;
    // The fields of the most recently opened account window.
    QPointer<QLineEdit> lineEdit_account;
    QPointer<QLineEdit> lineEdit_password;
    QPointer<QCheckBox> checekBox_savePassword;
    QSettings *settings = nullptr;
    int32_t user_clientLevel = 0;
    bool loggedIn = false;

signals:
    // A login choice (remembered account, password, log-out) could not be stored; says why.
    void settingsNotSaved(QString reason);

private:
    struct AccountWindow
    {
        QWidget *window;
        QLineEdit *account;
        QLineEdit *password;
        QCheckBox *savePassword;
    };

    static QString loggedOutText();
    void restoreSavedAccount();
    AccountWindow buildAccountWindow();
    void connectRememberBox(QCheckBox *box);
    void manualLogin(const AccountWindow &fields);
    void takeManualLoginReply(CloudService &service, const AccountWindow &fields, const HttpResult &reply);
    void takeManualUserInformation(const AccountWindow &fields, const HttpResult &reply);
    QString takeAutomaticLoginReply(CloudService &service, const HttpResult &reply);
    void takeAutomaticUserInformation(const HttpResult &reply);
    // Parses and traces a user-information reply; its roles (see AccountReply::roles).
    QList<int> userRoles(const HttpResult &reply, bool anyCode);
    void updatePassword(const AccountWindow &fields);
    void takePasswordUpdateReply(const AccountWindow &fields, const HttpResult &reply);
    void logOut(const AccountWindow &fields);
    void saveSetting(const QString &key, const QVariant &value);
    void saveSettings(const QList<QPair<QString, QVariant>> &values);
    void becomeLoggedIn(const QString &name, int role);
    bool requestsHeldBack() const;

    bool automaticLoginDue = false;
    std::function<bool()> holdRequests;
    QList<QPointer<QWidget>> accountWindows;
};
