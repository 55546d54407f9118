// What the window costs at rest: builds the main window, opens the given port through the
// serial panel as a user would, leaves it alone for the given seconds and prints the CPU
// time the process used meanwhile. The port must be listed (PLOVIKKIT_EXTRA_PORTS). With a
// broker port it also connects to that broker and shows the batch page.
#include "app/batchupdatepage.h"
#include "app/mainwindow.h"
#include "app/mymqttconfig.h"
#include "app/myserialport.h"
#include "core/eventwait.h"
#include "mqtt/mqttclient.h"
#include "storage/configini.h"
#include "storage/settingskeys.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <sys/resource.h>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool openThroughPanel(MainWindow &window, const QString &portPath)
{
    auto *ports = window.findChild<QComboBox *>(QStringLiteral("comboBox_serialport"));
    const int item = ports ? ports->findText(portPath + QLatin1Char(' '), Qt::MatchStartsWith) : -1;
    if (item < 0)
        return false;
    ports->setCurrentIndex(item);
    window.findChild<QPushButton *>(QStringLiteral("pushButton_openport"))->click();
    return window.serialWorker()->channel().isPortOpen();
}

// The window connects at start with the last profile: this one.
bool storeBrokerProfile(quint16 port)
{
    const std::unique_ptr<QSettings> settings(ConfigIni::open(nullptr));
    settings->setValue(SettingsKeys::mqttProfileNameList, QStringList{"bench"});
    settings->setValue(SettingsKeys::mqttProfileName, "bench");
    settings->setValue(SettingsKeys::profileKey("bench", SettingsKeys::mqttBrokerAddress), "127.0.0.1");
    settings->setValue(SettingsKeys::profileKey("bench", SettingsKeys::mqttPort), QString::number(port));
    return ConfigIni::sync(settings.get());
}

bool connectAndShowBatchPage(MainWindow &window)
{
    MqttConnection *client = window.mqttWindow()->m_client;
    EventWait::waitUntil([client] { return client->state() == MqttClient::Connected; }, 10000);
    window.findChild<QTabWidget *>(QStringLiteral("tabWidget"))->setCurrentWidget(window.batchPage());
    return client->state() == MqttClient::Connected;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    bool secondsOk = false;
    const int seconds = arguments.value(2).toInt(&secondsOk);
    if (arguments.size() < 3 || arguments.size() > 4 || !secondsOk || seconds <= 0) {
        fprintf(stderr, "usage: plovikkit-idlebench PORT SECONDS [BROKER_PORT]\n");
        return 2;
    }
    const bool withBroker = arguments.size() == 4;
    if (withBroker && !storeBrokerProfile(quint16(arguments.at(3).toUInt()))) {
        fprintf(stderr, "plovikkit-idlebench: cannot store the broker profile\n");
        return 1;
    }
    MainWindow window;
    window.show();
    if (!openThroughPanel(window, arguments.at(1))) {
        fprintf(stderr, "plovikkit-idlebench: cannot open %s through the panel\n",
                qPrintable(arguments.at(1)));
        return 1;
    }
    if (withBroker && !connectAndShowBatchPage(window)) {
        fprintf(stderr, "plovikkit-idlebench: the broker does not answer\n");
        return 1;
    }
    // Start-up work (the start page, fonts) settles first.
    const int settleMs = 2000;
    double before = 0;
    QTimer::singleShot(settleMs, [&] { before = cpuSeconds(); });
    QTimer::singleShot(settleMs + seconds * 1000, [&] { app.quit(); });
    app.exec();
    const double used = cpuSeconds() - before;
    printf("%.3f %d %.3f\n", used, seconds, used * 100.0 / seconds);
    return 0;
}
