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
// tool's one serial channel, which knows no widgets and never waits. The panel keeps the
// worker's blocking slots for whoever calls them by name: each waits in a local event loop
// for what the channel signals, so the window keeps drawing and the port keeps receiving.
class mySerialPort : public QWidget
{
    Q_OBJECT
public:
    // Status of `callBack`: a write or wait was requested while the port is closed.
    enum CallBackStatus
    {
        SPOS_SERIALPORT_ERROR_WRITE = 7
    };

    explicit mySerialPort(QWidget *parent = nullptr);
    ~mySerialPort() override;

    SerialChannel &channel() { return serialChannel; }
    const SerialChannel &channel() const { return serialChannel; }

    // The port name in a port list item: the text before the first blank.
    static QString portNameOfItem(const QString &itemText);
    // The device an item's port is now: a serial:SN item names the adapter holding SN at this
    // moment; one that none or several hold stays its own name and will not open.
    static QString portPathOfItem(const QString &itemText);
    // The port as the user chose it: a serial:SN choice stays so, whichever tty it opened.
    QString chosenPortName() const;

public slots:
    // The worker's operations, kept for callers that invoke them by name; the tool itself goes
    // through channel(). getUi() is the panel's own row of controls.
    QHBoxLayout *getUi();
    void uartPortCallBack();
    // Both writes return once the bytes are handed to the system (at most a second for bytes
    // with a length, the text's time on the line for a text).
    void write(const char *data);
    void write(const char *data, qlonglong len);
    // Whether any byte arrives before the time-out, counted from when the line is free.
    bool readWait(int timeout_ms);
    // The next reply, or an empty array once the time-out (counted from when the line is
    // free) has passed or the port has closed.
    QByteArray getRecv(int timeout_ms);

signals:
    // `status` is a CallBackStatus; the bytes are what was received and never taken.
    void callBack(int status, QByteArray bytesArray);
    void threadCallBack(int status);
    // The chosen port and rate could not be stored; the text says why.
    void settingsNotSaved(QString reason);
    // The chosen serial:SN item names an adapter that is not there, or several are: nothing is
    // opened, and the text says which.
    void portNotFound(QString problem);

private:
    void buildPortGroup();
    void buildBaudGroup();
    void buildButtons();
    void buildIndicator();
    void applyPanelToPort();
    bool choosePortOfItem(const QString &itemText);
    void fillPortList();
    void reopenPort();
    void showOpenState(bool open);
    void writeAndWait(const QByteArray &bytes, int waitMs);
    QByteArray takeReply(int timeoutMs);
    void emitClosedPortError();

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
