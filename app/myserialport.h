#pragma once

#include "serialchannel.h"

#include <QPointer>
#include <QStringList>

class MyComboBox;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QPushButton;
class QSettings;

// The serial channel together with its panel: port choice, baud rate, open, close and the
// status light. The panel's widgets have no parent until the window installs getUi().
// The channel underneath knows no widgets; only this panel does.
class mySerialPort : public SerialChannel
{
    Q_OBJECT
public:
    explicit mySerialPort(QObject *parent = nullptr);
    ~mySerialPort() override;

    // The port name in a port list item: the text before the first blank.
    static QString portNameOfItem(const QString &itemText);

public slots:
    QHBoxLayout *getUi();

signals:
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

    bool portListRefreshing = false;
    QStringList baudList;
    QPointer<QHBoxLayout> panelLayout;
    MyComboBox *portListBox = nullptr;
    QComboBox *baudBox = nullptr;
    QPushButton *openButton = nullptr;
    QPushButton *closeButton = nullptr;
    QLabel *indicator = nullptr;
    QSettings *settings = nullptr;
};
