#pragma once

#include "serial/serialchannel.h"

#include <QStringList>
#include <QWidget>

class MyComboBox;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QSettings;

// The serial port panel: port choice, baud rate, open, close and the status light, over the
// tool's one serial channel, which knows no widgets. The panel keeps the worker's slots for
// whoever calls them by name; they act on the channel.
class mySerialPort : public QWidget
{
    Q_OBJECT
public:
    explicit mySerialPort(QWidget *parent = nullptr);
    ~mySerialPort() override;

    SerialChannel &channel() { return serialChannel; }
    const SerialChannel &channel() const { return serialChannel; }

    // The port name in a port list item: the text before the first blank.
    static QString portNameOfItem(const QString &itemText);

public slots:
    // The worker's operations, kept for callers that invoke them by name; the tool itself goes
    // through channel(). getUi() is the panel's own row of controls.
    QHBoxLayout *getUi();
    void uartPortCallBack();
    void write(const char *data);
    void write(const char *data, qlonglong len);
    bool readWait(int timeout_ms);
    QByteArray getRecv(int timeout_ms);

signals:
    void callBack(int status, QByteArray bytesArray);
    void threadCallBack(int status);
    // The chosen port and rate could not be stored; the text says why.
    void settingsNotSaved(QString reason);

private:
    void buildPortGroup();
    void buildBaudGroup();
    void buildButtons();
    void buildIndicator();
    void applyPanelToPort();
    void fillPortList();
    void reopenPort();
    void showOpenState(bool open);

    void onPortListPressed();
    void onPortSelected(int index);
    void onBaudRateSelected(int index);
    void onOpenPressed();
    void onClosePressed();

    SerialChannel serialChannel;
    bool portListRefreshing = false;
    QStringList baudList;
    QHBoxLayout *panelLayout = nullptr;
    MyComboBox *portListBox = nullptr;
    QComboBox *baudBox = nullptr;
    QPushButton *openButton = nullptr;
    QPushButton *closeButton = nullptr;
    QLabel *indicator = nullptr;
    QSettings *settings = nullptr;
};
