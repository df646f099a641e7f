#include "CycleView.h"

#include "CameraSet.h"
#include "ControlPort.h"
#include "Counters.h"
#include "DetectionCycle.h"
#include "StationBars.h"
#include "Globals.h"
#include "CavityNames.h"
#include "Language.h"
#include "Pictures.h"
#include "Messages.h"
#include "WizardPara.h"
#include "CammerSingleton.h"
#include "Shapes.h"

#include <QDateTime>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

CameraTile::CameraTile(int camera, QWidget* parent) : QWidget(parent), m_camera(camera)
{
    setMinimumSize(160, 120);
}

void CameraTile::setFrame(const QImage& img)
{
    m_image = img;
    // A sparse sample is enough to tell the operator the scene is too dark or too bright.
    qint64 sum = 0, n = 0;
    const QImage grey = img.format() == QImage::Format_Grayscale8 ? img : img.convertToFormat(QImage::Format_Grayscale8);
    for (int y = 0; y < grey.height(); y += 8) {
        const uchar* row = grey.constScanLine(y);
        for (int x = 0; x < grey.width(); x += 8, ++n)
            sum += row[x];
    }
    m_brightness = n ? int(sum / n) : 0;
    update();
}

void CameraTile::mouseReleaseEvent(QMouseEvent*) { emit tapped(m_camera); }

void CameraTile::setVerdict(int detection, bool ok, const std::vector<QRect>& alarms)
{
    m_detection = detection;
    m_ok = ok;
    m_judged = true;
    m_alarms = alarms;
    update();
}

void CameraTile::clearVerdict()
{
    m_judged = false;
    m_alarms.clear();
    update();
}

void CameraTile::setCounters(quint32 all, quint32 ng, bool hideNg)
{
    m_all = all;
    m_ng = ng;
    m_hideNg = hideNg;
    update();
}

QString CameraTile::infoLine() const
{
    QString line = LanStr(151).arg(m_camera + 1) + QStringLiteral(" %1 fps  \u2600%2").arg(m_fps).arg(m_brightness);
    line += QStringLiteral("   %1").arg(m_all);
    if (!m_hideNg)
        line += QStringLiteral(" / NG %1").arg(m_ng);
    return line;
}

void CameraTile::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(16, 18, 22));
    QRect target = rect().adjusted(4, 4, -4, -4);
    double sx = 1, sy = 1;
    if (!m_image.isNull()) {
        const QSize s = m_image.size().scaled(target.size(), Qt::KeepAspectRatio);
        target = QRect(target.center() - QPoint(s.width() / 2, s.height() / 2), s);
        p.drawImage(target, m_image);
        sx = double(target.width()) / m_image.width();
        sy = double(target.height()) / m_image.height();
    }
    if (!m_regions.isEmpty() && !m_image.isNull()) {
        p.save();
        p.translate(target.topLeft());
        p.scale(sx, sy);
        p.setPen(QPen(QColor(60, 170, 255), 0));
        p.setBrush(Qt::NoBrush);
        p.drawPath(m_regions);
        p.restore();
    }
    if (!m_labels.isEmpty() && !m_image.isNull()) {
        QFont lf;
        lf.setPixelSize(20);
        lf.setBold(true);
        p.setFont(lf);
        p.setPen(QColor(255, 230, 80));
        for (const auto& [at, text] : std::as_const(m_labels))
            p.drawText(QPointF(target.x() + at.x() * sx + 3, target.y() + at.y() * sy + 20), text);
    }
    if (m_judged) {
        const QColor c = m_ok ? QColor(0, 200, 0) : QColor(230, 0, 0);
        p.setPen(QPen(c, 4));
        p.drawRect(target.adjusted(-2, -2, 2, 2));
        p.setPen(QPen(QColor(255, 40, 40), 2));
        for (const QRect& a : m_alarms)
            p.drawRect(QRectF(target.x() + a.x() * sx, target.y() + a.y() * sy, a.width() * sx, a.height() * sy));
    }
    QFont f;
    f.setPixelSize(18);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(rect().adjusted(10, 6, -10, -6), Qt::AlignLeft | Qt::AlignTop, infoLine());
    if (m_judged) {
        p.setPen(m_ok ? QColor(0, 220, 0) : QColor(255, 40, 40));
        f.setPixelSize(30);
        p.setFont(f);
        p.drawText(rect().adjusted(10, 30, -10, -6), Qt::AlignLeft | Qt::AlignTop, m_ok ? "OK" : "NG");
    }
    if (m_countdown > 0) {
        p.setPen(QColor(255, 210, 60));
        f.setPixelSize(26);
        p.setFont(f);
        p.drawText(rect().adjusted(10, 6, -10, -6), Qt::AlignRight | Qt::AlignTop,
                   QString::number(m_countdown, 'f', 1) + " s");
    }
}

CycleView::CycleView(DetectionCycle* cycle, CameraManager* cameras, ControlPort* io, QWidget* parent)
    : QWidget(parent), m_cycle(cycle), m_cams(cameras), m_io(io)
{
    auto* lay = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    const int n = std::max(1, std::min(numCamera, cameras ? cameras->viewCount() : 0));
    const int cols = n <= 1 ? 1 : n <= 4 ? 2 : 4;
    for (int c = 0; c < n; ++c) {
        auto* t = new CameraTile(c, this);
        grid->addWidget(t, c / cols, c % cols);
        connect(t, &CameraTile::tapped, this, [this](int cam) { enlarge(m_enlarged == cam ? -1 : cam); });
        m_tiles.push_back(t);
    }
    m_lastShown.assign(size_t(n), 0);
    lay->addLayout(grid, 1);
    QFont f;
    f.setPixelSize(20);
    m_signals = new QLabel(this);
    m_signals->setFont(f);
    m_signals->setTextFormat(Qt::RichText);
    m_signals->setObjectName("signals");
    m_signals->setWordWrap(true);  // named signals take two lines on a narrow panel
    m_state = new QLabel(this);
    m_state->setFont(f);
    lay->addWidget(m_signals);
    lay->addWidget(m_state);
    connect(cycle, &DetectionCycle::frameTaken, this, &CycleView::onFrame);
    connect(cycle, &DetectionCycle::judged, this, &CycleView::onJudged);
    connect(cycle, &DetectionCycle::countdown, this, [this](int, double s) {
        for (CameraTile* t : m_tiles)
            t->setCountdown(s);
    });
    connect(cycle, &DetectionCycle::resultStateChanged, this, [this](int st) {
        if (st == DetectionCycle::Idle)
            for (CameraTile* t : m_tiles)
                t->clearVerdict();
    });
    connect(&LanguageNotifier::instance(), &LanguageNotifier::changed, this, &CycleView::refresh);
    connect(&m_refresh, &QTimer::timeout, this, &CycleView::refresh);
    m_refresh.start(100);
    refresh();
}

void CycleView::onFrame(int c)
{
    CameraTile* t = tile(c);
    CammerView* v = m_cams ? m_cams->view(c) : nullptr;
    if (!t || !v)
        return;
    // The screen needs ten pictures a second, not every frame.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (now - m_lastShown[size_t(c)] < 100)
        return;
    m_lastShown[size_t(c)] = now;
    const cv::Mat f = v->frame();
    if (f.empty())
        return;
    t->setFrame(matToImage(f));
}

void CycleView::onJudged(int c, int d, bool ok)
{
    CameraTile* t = tile(c);
    CammerView* v = m_cams ? m_cams->view(c) : nullptr;
    if (!t)
        return;
    std::vector<QRect> rects;
    if (v && v->recong && d >= 0 && d < 8)
        for (int r = 0; r < std::clamp(v->para.roi_count[d], 0, kMaxRoi); ++r)
            for (const AlarmRect& a : v->recong->alarms[d][r])
                rects.emplace_back(QPoint(a[0], a[1]), QPoint(a[2], a[3]));
    onFrame(c);
    t->setVerdict(d, ok, rects);
}

void CycleView::enlarge(int camera)
{
    if (m_tiles.size() < 2)
        camera = -1;
    m_enlarged = camera;
    for (size_t c = 0; c < m_tiles.size(); ++c)
        m_tiles[c]->setVisible(camera < 0 || int(c) == camera);
}

QPainterPath CycleView::regionsOf(int camera, int d) const
{
    QPainterPath path;
    CammerView* v = m_cams ? m_cams->view(camera) : nullptr;
    if (!v || d < 0 || d >= 8)
        return path;
    for (int r = 0; r < std::clamp(v->para.roi_count[d], 0, kMaxRoi); ++r)
        path.addPath(regionPath(v->para, d, r));
    return path;
}

QList<QPair<QPointF, QString>> CycleView::cavityLabels(int camera, int d) const
{
    QList<QPair<QPointF, QString>> labels;
    CammerView* v = m_cams ? m_cams->view(camera) : nullptr;
    if (!v || d < 0 || d >= 8)
        return labels;
    // Region r shows cavity r's name; without one, its number.
    for (int r = 0; r < std::clamp(v->para.roi_count[d], 0, kMaxRoi); ++r)
        if (const RegionShape* s = v->para.shape(d, r)) {
            const cv::Vec4i box = s->imageRect();
            const QString name = gpCavity ? gpCavity->getResult(camera, r) : QString();
            labels.append({QPointF(box[0], box[1]), name.isEmpty() ? QString::number(r + 1) : name});
        }
    return labels;
}

QString CycleView::stateText() const { return m_state ? m_state->text() : QString(); }

void CycleView::refresh()
{
    auto box = [](const QString& name, bool on, const char* colour) {
        return QStringLiteral("<span style='background:%1;color:%2'>&nbsp;%3&nbsp;</span> ")
            .arg(on ? colour : "#303540", on ? "black" : "#a0a8b0", name);
    };
    // The first four of each by the names the machine's wiring gives them.
    auto name = [](const char* prefix, int k) {
        const QString n = gpWPara && k < 4 ? gpWPara->signal_names[(*prefix == 'O' ? 4 : 0) + k].toHtmlEscaped() : QString();
        return n.isEmpty() ? QStringLiteral("%1%2").arg(QLatin1String(prefix)).arg(k + 1) : n;
    };
    QString s;
    for (int k = 0; k < 8; ++k)
        s += box(name("I", k), m_io && m_io->IOState(0, k), "#40c0ff");
    s += "&nbsp;&nbsp;&nbsp;";
    for (int k = 0; k < 9; ++k)
        s += box(name("O", k), m_io && m_io->outputOn(k), k == 2 ? "#ff5050" : "#ffc040");
    m_signals->setText(s);

    QString state = runStateText(*m_cycle);
    state += QStringLiteral("   %1").arg(m_cycle->DetectionName(m_cycle->curDetect()));
    if (m_cycle->missedTriggers() || m_cycle->droppedBusyTriggers())
        state += QStringLiteral("   missed %1 / dropped %2").arg(m_cycle->missedTriggers()).arg(m_cycle->droppedBusyTriggers());
    m_state->setText(state);
    const bool showRegions = gpWPara && gpWPara->enable_show_roi;
    for (size_t c = 0; c < m_tiles.size(); ++c) {
        m_tiles[c]->setCounters(gAllNum[c], gFailNum[c], gpWPara && gpWPara->hide_ng_number);
        m_tiles[c]->setRegions(showRegions ? regionsOf(int(c), m_cycle->curDetect()) : QPainterPath());
        m_tiles[c]->setLabels(gpWPara && gpWPara->enable_show_mold_no ? cavityLabels(int(c), m_cycle->curDetect())
                                                                      : QList<QPair<QPointF, QString>>());
        if (CammerView* v = m_cams ? m_cams->view(int(c)) : nullptr)
            m_tiles[c]->setFps(v->fps);
    }
}
