#include "StationBars.h"

#include "DetectionCycle.h"
#include "Messages.h"
#include "DiVeZoruzo.h"
#include "Globals.h"
#include "IOThread.h"
#include "WizardPara.h"

#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QSysInfo>

namespace {
QFont pixelFont(int px, bool bold = false)
{
    QFont f;
    f.setPixelSize(px);
    f.setBold(bold);
    return f;
}
} // namespace

TitleBar::TitleBar(QWidget* parent) : QWidget(parent), m_picture(StationPixmap("title.png"))
{
    setObjectName("titleBar");
    setFixedHeight(64);
    setStyleSheet("QLabel{color:white;}");
    auto* lay = new QHBoxLayout(this);
    lay->setContentsMargins(12, 4, 12, 4);
    m_name = new QLabel(stationName(), this);
    m_name->setObjectName("stationName");
    m_name->setFont(pixelFont(26, true));
    m_state = new QLabel(this);
    m_state->setObjectName("runState");
    m_state->setFont(pixelFont(34, true));
    m_state->setAlignment(Qt::AlignCenter);
    m_state->setMinimumWidth(260);
    m_time = new QLabel(this);
    m_time->setObjectName("clock");
    m_time->setFont(pixelFont(30, true));
    lay->addWidget(m_name);
    lay->addStretch(1);
    lay->addWidget(m_state);
    lay->addStretch(1);
    lay->addWidget(m_time);
}

void TitleBar::paintEvent(QPaintEvent*)
{
    // The maker's title picture of the factory directory under the texts.
    QPainter p(this);
    if (m_picture.isNull())
        p.fillRect(rect(), QColor(20, 48, 90));
    else
        p.drawPixmap(rect(), m_picture);
}

QString TitleBar::stationName() const
{
    // The name the plant knows the station by, else the panel's host name.
    const QString net = gpWPara ? QString(gpWPara->cnt_use_name).trimmed() : QString();
    if (!net.isEmpty() && net != "null")
        return net;
    return QSysInfo::machineHostName();
}

void TitleBar::setState(const QString& state, const QString& tone, const QString& time)
{
    m_name->setText(stationName());
    m_state->setText(state);
    const char* bg = tone == "alarm" ? "#d02020" : tone == "ok" ? "#208040" : "#505860";
    m_state->setStyleSheet(QStringLiteral("background:%1;color:white;padding:0 16px;border-radius:6px;").arg(bg));
    m_time->setText(time);
}

QString runStateText(const DetectionCycle& cycle, QString* tone)
{
    const bool alarm = gisLostCom || cycle.resultState() == DetectionCycle::Alarm;
    if (tone)
        *tone = alarm ? "alarm" : cycle.runState() == DetectionCycle::Detecting ? "ok" : "";
    if (gisLostCom)
        return LanStr(589);
    if (cycle.resultState() == DetectionCycle::Alarm)
        return LanStr(1732);
    switch (cycle.runState()) {
    case DetectionCycle::Resampling:
        return LanStr(1733);
    case DetectionCycle::Stopped:
        return LanStr(1741);
    default:
        return LanStr(1319);
    }
}
