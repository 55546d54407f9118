#pragma once

#include <QFrame>

class QLabel;
class QProgressBar;

// One slot of the station as the operator sees it from a step away: the port's name, a word in
// large type on a colour (grey waiting, blue busy with its progress, green PASS, red FAIL,
// yellow remove) and a line of detail (the device's address, the reason and what to check).
// A slot keeps its tile for the whole run, however many units pass through it.
class StationTile : public QFrame
{
    Q_OBJECT
public:
    enum class Look
    {
        Waiting,
        Busy,
        Pass,
        Fail,
        Remove,
    };

    explicit StationTile(const QString &slotName, QWidget *parent = nullptr);

    Look look() const { return shown; }
    QString stateText() const;
    QString detailText() const;

    void showWaiting(const QString &detail);
    void showBusy(const QString &device);
    void showProgress(qint64 done, qint64 total);
    void showPass(const QString &device, const QString &detail);
    void showFail(const QString &device, const QString &reason, const QString &whatToCheck);
    void showRemove(const QString &device);

private:
    void setLook(Look look, const QString &word, const QString &detail);

    QLabel *name;
    QLabel *state;
    QLabel *detail;
    QProgressBar *bar;
    Look shown = Look::Waiting;
};
