// The main screen's status line and the operator's buttons.
#include "Boxes.h"
#include "ControlPort.h"
#include "DetectionCycle.h"
#include "CycleView.h"
#include "DiVeZoruzo.h"
#include "Keypads.h"
#include "ParaFields.h"
#include "RegionEditor.h"
#include "StationBars.h"
#include "Globals.h"
#include "Language.h"
#include "Messages.h"
#include "UserManager.h"
#include "WizardPara.h"

#include <QDateTime>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

namespace {
constexpr int kButtonHeight = 60;  // a fingertip and some: above the 48-px minimum
} // namespace

void DiVeZoruzo::updateStatus()
{
    if (m_startStop)
        setLan(m_startStop, isDetecting() ? 1551 : 1550);
    if (m_login)
        setLan(m_login, gPasswordLevel > 0 ? 1557 : 1556);
    if (m_titleBar && cycle()) {
        QString tone;
        const QString state = runStateText(*cycle(), &tone);
        m_titleBar->setState(state, tone, QDateTime::currentDateTime().toString("hh:mm:ss"));
    }
    if (!m_status)
        return;
    QStringList parts;
    if (gpWPara)
        parts << LanStr(1562).arg(gpWPara->machine_mode);
    if (cycle())
        parts << cycle()->DetectionName(cycle()->curDetect());
    QString who = levelLabel();
    const QString user = UserManager::instance().currentName();
    if (!user.isEmpty())
        who += ' ' + user;
    parts << who;
    parts << (gisLostCom ? LanStr(1563) : LanStr(1564));
    // A detection with no region checks nothing: the operator must see that the mould is not guarded.
    if (cycle())
        for (int d = 0; d < 8; ++d)
            if (cycle()->nothingCheckedMask() & (1 << d))
                parts << LanStr(1716).arg(cycle()->DetectionName(d));
    parts << QDateTime::currentDateTime().toString("yyyy-MM-dd");
    m_status->setText(parts.join("   "));
}

bool DiVeZoruzo::openRegionEditor()
{
    if (CheckPassword() < 1)
        return false;
    regionEditor()->open(std::max(0, m_view ? m_view->enlarged() : 0), cycle()->curDetect());
    return true;
}

QString DiVeZoruzo::statusText() const { return m_status ? m_status->text() : QString(); }

QWidget* DiVeZoruzo::buildButtons()
{
    auto* bar = new QWidget(this);
    bar->setObjectName("mainButtons");
    auto* grid = new QGridLayout(bar);
    grid->setContentsMargins(0, 0, 0, 0);
    int n = 0;
    auto add = [&](int text, const char* name, std::function<void()> action) {
        QPushButton* b = lanButton(bar, text, name, 17, {0, kButtonHeight});
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        connect(b, &QPushButton::clicked, this, std::move(action));
        grid->addWidget(b, n / 7, n % 7);
        ++n;
        return b;
    };
    m_startStop = add(1550, "startStop", [this] {
        cycle()->SlotStartStop();
        updateStatus();
    });
    add(1560, "productShot", [this] { cycle()->SlotManualTrig(0); });
    add(1561, "mouldShot", [this] { cycle()->SlotManualTrig(1); });
    add(1552, "skip", [this] { cycle()->SlotStartSkipDetect(); });
    add(1553, "resample", [this] { cycle()->SlotReTrain(); });
    m_login = add(1556, "login", [this] {
        if (gPasswordLevel > 0) {
            TimerLogout();
        } else if (!gpWPara || !gpWPara->is_psw_used) {
            // Nothing to log in to: said, not silently ignored.
            if (gpWarnBox)
                gpWarnBox->showMessage(LanStr(1745));
        } else {
            CheckPassword();
        }
        updateStatus();
    });
    add(1646, "accounts", [this] { showAccountPage(); });
    add(1558, "language", [] { SetLanguage((gLan + 1) % kLanguageCount); });
    add(1554, "statistics", [this] { showStatisticsPage(); })->setEnabled(m_statisticsPage != nullptr);
    add(1555, "cycleLog", [this] { showCycleLogPage(); });
    add(1598, "regionEditor", [this] { openRegionEditor(); });
    add(1654, "settings", [this] { showSettingsPage(); });
    add(1559, "help", [this] { showHelpPage(); });
    // The insert-wear warning count, shown on its button and set through the number pad.
    QPushButton* warnCount = add(1884, "ngWarnCount", [this] {
        if (CheckPassword() < 1 || !gpNumPad)
            return;
        if (const auto v = gpNumPad->getNumber(LanStr(1844), gpWPara->roi_ng_warn_count, 0, 10000))
            SetNgWarnCount(int(*v));
    });
    warnCount->setProperty("lanMessage", QVariant());  // its text carries the count
    auto showCount = [this, warnCount] { warnCount->setText(LanStr(1884).arg(gpWPara ? gpWPara->roi_ng_warn_count : 0)); };
    connect(&LanguageNotifier::instance(), &LanguageNotifier::changed, warnCount, showCount);
    connect(this, &DiVeZoruzo::ngWarnCountChanged, warnCount, showCount);
    showCount();
    connect(&LanguageNotifier::instance(), &LanguageNotifier::changed, this, &DiVeZoruzo::updateStatus);
    connect(&m_clock, &QTimer::timeout, this, &DiVeZoruzo::updateStatus);
    m_clock.start(1000);
    return bar;
}
