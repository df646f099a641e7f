#include "AlarmPage.h"
#include "Counters.h"
#include "WholeScreen.h"

#include "Boxes.h"
#include "CameraSet.h"
#include "CammerRecong.h"
#include "CycleView.h"
#include "DetectionCycle.h"
#include "Globals.h"
#include "Language.h"
#include "Messages.h"
#include "Pictures.h"
#include "OperationRecord.h"
#include "TemplateStore.h"
#include "WizardPara.h"

#include <QGridLayout>
#include <QTimer>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <functional>


AlarmPage::AlarmPage(DetectionCycle* cycle, CameraManager* cameras, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), m_cycle(cycle), m_cams(cameras)
{
    setObjectName("alarmPage");
    setStyleSheet("#alarmPage{background:#3a1014;} QLabel{color:white;}");
    auto* lay = new QVBoxLayout(this);
    QFont big;
    big.setPixelSize(30);
    m_title = new QLabel(this);
    m_title->setFont(big);
    m_title->setStyleSheet("color:#ff6060;");
    lay->addWidget(m_title);
    m_grid = new QGridLayout;
    lay->addLayout(m_grid, 1);
    QFont f;
    f.setPixelSize(20);
    m_detail = new QLabel(this);
    m_detail->setFont(f);
    m_detail->setWordWrap(true);
    lay->addWidget(m_detail);
    auto* row = new QHBoxLayout;
    auto add = [&](int text, const char* name, std::function<void()> action) {
        QPushButton* b = lanButton(this, text, name, 20, {0, 64});
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        connect(b, &QPushButton::clicked, this, std::move(action));
        row->addWidget(b);
    };
    add(1317, "reDetect", [this] { reDetect(); });
    add(1314, "dontDetectAll", [this] { dontDetectAll(); });
    add(1569, "dontDetectCamera", [this] { dontDetectSelected(); });
    add(1312, "addTemplate", [this] { addAsTemplate(); });
    add(1571, "ignorePoints", [this] { ignoreAlarmPoints(); });
    lay->addLayout(row);
    checkPassword = [] { return int(gPasswordLevel); };
    if (m_cycle) {
        connect(m_cycle, &DetectionCycle::alarmEntered, this, &AlarmPage::showAlarm);
        connect(m_cycle, &DetectionCycle::alarmCleared, this, &QWidget::hide);
        connect(m_cycle, &DetectionCycle::countersChanged, this, &AlarmPage::refreshFigures);
        connect(m_cycle, &DetectionCycle::resultStateChanged, this, [this](int st) {
            if (st != DetectionCycle::Alarm)
                hide();
        });
    }
    connect(&LanguageNotifier::instance(), &LanguageNotifier::changed, this, &AlarmPage::buildTexts);
    m_refresh = new QTimer(this);
    m_refresh->setInterval(1000);
    connect(m_refresh, &QTimer::timeout, this, [this] {
        if (isVisible())
            refreshFigures();
        else
            m_refresh->stop();
    });
}

void AlarmPage::showAlarm(const QList<int>& cameras, int detection)
{
    m_cameras = cameras;
    m_detection = detection;
    for (QWidget* w : std::as_const(m_tileHolders))
        delete w;
    m_tileHolders.clear();
    m_tiles.clear();
    const int n = int(cameras.size());
    const int cols = n <= 1 ? 1 : n <= 4 ? 2 : 4;
    for (int i = 0; i < n; ++i) {
        const int c = cameras[i];
        auto* tile = new CameraTile(c, this);
        CammerView* v = m_cams ? m_cams->view(c) : nullptr;
        std::vector<QRect> rects;
        if (v) {
            tile->setFrame(matToImage(v->frame()));
            if (v->recong && detection >= 0 && detection < 8)
                for (int r = 0; r < std::clamp(v->para.roi_count[detection], 0, kMaxRoi); ++r)
                    for (const AlarmRect& a : v->recong->alarms[detection][r])
                        rects.emplace_back(QPoint(a[0], a[1]), QPoint(a[2], a[3]));
        }
        tile->setVerdict(detection, false, rects);
        connect(tile, &CameraTile::tapped, this, &AlarmPage::select);
        m_grid->addWidget(tile, i / cols, i % cols);
        m_tiles << tile;
        m_tileHolders << tile;
    }
    select(cameras.isEmpty() ? -1 : cameras.first());
    buildTexts();
    refreshFigures();
    m_refresh->start();
    if (!isVisible())
        showOnWholeScreen(this);
    raise();
}

void AlarmPage::refreshFigures()
{
    // The same figures as the main screen's tiles, not a tile's zeros.
    for (qsizetype i = 0; i < m_tiles.size() && i < m_cameras.size(); ++i) {
        const int c = m_cameras[i];
        if (c >= 0 && c < 8)
            m_tiles[i]->setCounters(gAllNum[c], gFailNum[c], gpWPara && gpWPara->hide_ng_number);
        if (CammerView* v = m_cams ? m_cams->view(c) : nullptr) {
            m_tiles[i]->setFps(v->fps);
            // An alarm kept over a restart has no picture of its own: the
            // camera's first one, rather than a black tile.
            if (!m_tiles[i]->hasFrame())
                if (const cv::Mat f = v->frame(); !f.empty())
                    m_tiles[i]->setFrame(matToImage(f));
        }
        m_tiles[i]->update();
    }
}

QString AlarmPage::tileLine(int camera) const
{
    const qsizetype i = m_cameras.indexOf(camera);
    return i >= 0 && i < m_tiles.size() ? m_tiles[i]->infoLine() : QString();
}

bool AlarmPage::tileShowsPicture(int camera) const
{
    const qsizetype i = m_cameras.indexOf(camera);
    return i >= 0 && i < m_tiles.size() && m_tiles[i]->hasFrame();
}

void AlarmPage::select(int camera)
{
    m_selected = camera;
    for (CameraTile* t : std::as_const(m_tiles))
        t->setStyleSheet(QString());
    buildTexts();
}

void AlarmPage::buildTexts()
{
    if (!m_cycle)
        return;
    m_title->setText(LanStr(152) + "   " + m_cycle->DetectionName(m_detection));
    QStringList lines;
    for (int c : std::as_const(m_cameras)) {
        CammerView* v = m_cams ? m_cams->view(c) : nullptr;
        QStringList failed;
        if (v && v->recong && m_detection >= 0 && m_detection < 8)
            for (int r = 0; r < std::clamp(v->para.roi_count[m_detection], 0, kMaxRoi); ++r)
                if (!v->recong->regionVerdict[m_detection][r])
                    failed << QStringLiteral("%1 (%2)").arg(r + 1).arg(v->recong->score[m_detection][r]);
        QString line = LanStr(1566).arg(c + 1).arg(m_cycle->DetectionName(m_detection), failed.join(", "));
        if (c == m_selected)
            line = QString::fromUtf8("▶ ") + line;
        lines << line;
    }
    m_detail->setText(lines.join('\n'));
}

QString AlarmPage::detailText() const { return m_detail->text(); }

bool AlarmPage::ask(const QString& question) { return gpChooseBox && gpChooseBox->ask(question) == 1; }

bool AlarmPage::allowed(int protect) { return !protect || (checkPassword && checkPassword() >= 1); }

void AlarmPage::reDetect() { m_cycle->SlotReCheck(); }
void AlarmPage::dontDetectAll() { m_cycle->SlotNoCheckCur(-1); }
void AlarmPage::dontDetectSelected()
{
    if (m_selected >= 0)
        m_cycle->SlotNoCheckCur(m_selected);
}

bool AlarmPage::addAsTemplate()
{
    CammerView* v = m_cams ? m_cams->view(m_selected) : nullptr;
    if (!v || !v->store || !allowed(gpWPara->enable_template_pass_protect))
        return false;
    if (!ask(LanStr(1300)))
        return false;
    const cv::Mat frame = v->frame();
    if (frame.empty()) {
        gpWarnBox->showMessage(LanStr(1707).arg(m_selected + 1));
        return false;
    }
    const TemplateStore::Outcome o = v->store->AddTemplate(m_detection, frame.clone());
    // The models learn the new template before the next judgement.
    if (o.ok && v->recong)
        v->recong->VarTrain(m_detection);
    reportOutcome(o, [](const QString& t) { gpWarnBox->showMessage(t); });
    return o.ok;
}

bool AlarmPage::ignoreAlarmPoints()
{
    CammerView* v = m_cams ? m_cams->view(m_selected) : nullptr;
    if (!v || !v->store || !v->recong || !allowed(gpWPara->enable_ignore_pass_protect))
        return false;
    if (!ask(LanStr(1301)))
        return false;
    const int d = m_detection;
    std::vector<TemplateStore::AlarmedRegion> regions;
    for (int r = 0; r < std::clamp(v->para.roi_count[d], 0, kMaxRoi); ++r) {
        if (v->recong->regionVerdict[d][r])
            continue;
        TemplateStore::AlarmedRegion a;
        a.score = v->recong->score[d][r];
        for (const AlarmRect& q : v->recong->alarms[d][r])
            a.rects.emplace_back(cv::Point(q[0], q[1]), cv::Point(q[2] + 1, q[3] + 1));
        regions.push_back(a);
    }
    const TemplateStore::Outcome o = v->store->IgnoreAlarmPoints(d, regions, v->recong->alarmImage);
    // The inspected mask leaves the ignored points out from the next judgement on.
    if (o.ok)
        v->recong->VarTrain(d);
    reportOutcome(o, [](const QString& t) { gpWarnBox->showMessage(t); });
    return o.ok;
}
