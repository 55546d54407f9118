#include "app/stationtile.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace {

// The bar counts in tenths of a percent, so a tile is redrawn at most a thousand times a unit.
constexpr int kBarSteps = 1000;

const char *colourOf(StationTile::Look look)
{
    switch (look) {
    case StationTile::Look::Waiting:
        return "#e0e0e0";
    case StationTile::Look::Busy:
        return "#90caf9";
    case StationTile::Look::Pass:
        return "#81c784";
    case StationTile::Look::Fail:
        return "#e57373";
    case StationTile::Look::Remove:
        return "#fff176";
    }
    return "#e0e0e0";
}

QFont scaled(QFont font, double factor, bool bold)
{
    font.setPointSizeF(font.pointSizeF() * factor);
    font.setBold(bold);
    return font;
}

} // namespace

StationTile::StationTile(const QString &slotName, QWidget *parent)
    : QFrame(parent), name(new QLabel(slotName, this)), state(new QLabel(this)), detail(new QLabel(this)),
      bar(new QProgressBar(this))
{
    setObjectName(QStringLiteral("stationTile"));
    setFrameShape(QFrame::StyledPanel);
    setMinimumSize(220, 150);
    name->setFont(scaled(font(), 1.2, true));
    state->setFont(scaled(font(), 2.4, true));
    state->setAlignment(Qt::AlignCenter);
    detail->setFont(scaled(font(), 1.3, false));
    detail->setWordWrap(true);
    detail->setTextInteractionFlags(Qt::TextSelectableByMouse);
    bar->setRange(0, kBarSteps);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(name);
    layout->addWidget(state, 1);
    layout->addWidget(bar);
    layout->addWidget(detail);
    showWaiting(QString());
}

QString StationTile::stateText() const
{
    return state->text();
}

QString StationTile::detailText() const
{
    return detail->text();
}

void StationTile::showWaiting(const QString &text)
{
    setLook(Look::Waiting, tr("等待"), text);
}

void StationTile::showBusy(const QString &device)
{
    bar->setValue(0);
    setLook(Look::Busy, tr("更新中"), device);
}

void StationTile::showProgress(qint64 done, qint64 total)
{
    if (total <= 0)
        return;
    const int step = int(qBound<qint64>(0, done, total) * kBarSteps / total);
    if (bar->value() != step)
        bar->setValue(step);
}

void StationTile::showPass(const QString &device, const QString &text)
{
    bar->setValue(kBarSteps);
    setLook(Look::Pass, QStringLiteral("PASS"), text.isEmpty() ? device : device + QLatin1Char('\n') + text);
}

void StationTile::showFail(const QString &device, const QString &reason, const QString &whatToCheck)
{
    QStringList lines{reason};
    if (!device.isEmpty())
        lines.prepend(device);
    if (!whatToCheck.isEmpty())
        lines << tr("请检查：") + whatToCheck;
    setLook(Look::Fail, QStringLiteral("FAIL"), lines.join(QLatin1Char('\n')));
}

void StationTile::showRemove(const QString &device)
{
    setLook(Look::Remove, tr("请取下"), tr("%1 已更新，请取下设备").arg(device));
}

// The bar stays visible in every look so the tile keeps its height as the slot changes state.
void StationTile::setLook(Look look, const QString &word, const QString &text)
{
    shown = look;
    state->setText(word);
    detail->setText(text);
    bar->setEnabled(look == Look::Busy);
    setStyleSheet(QStringLiteral("QFrame#stationTile { background: %1; border-radius: 6px; }")
                      .arg(QLatin1String(colourOf(look))));
}
