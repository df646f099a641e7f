#include "RegionEditor.h"
#include "WholeScreen.h"

#include "Boxes.h"
#include "CameraSet.h"
#include "CammerRecong.h"
#include "DetectionCycle.h"
#include "Globals.h"
#include "ImageLib.h"
#include "Keypads.h"
#include "Language.h"
#include "Messages.h"
#include "Pictures.h"
#include "OperationRecord.h"
#include "ParamDb.h"
#include "TemplateStore.h"
#include "WizardPara.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtDebug>

namespace {
constexpr int kHandle = 24;       // px on screen: a fingertip finds a handle
constexpr int kCloseNear = 9;     // picture px: a tap this near the first vertex closes a polygon

// Moves a region by (dx, dy) picture pixels and rebuilds its mask.
void moveRegion(CammerSingleton& p, int d, int r, int dx, int dy)
{
    switch (p.roi[d][r].roi_shape) {
    case ShapeRect:
        p.rects[d][r].p1 += cv::Point(dx, dy);
        p.rects[d][r].p2 += cv::Point(dx, dy);
        break;
    case ShapeCircle:
        p.circles[d][r].centre += cv::Point(dx, dy);
        break;
    case ShapePolygon:
        for (cv::Point& pt : p.polys[d][r].points)
            pt += cv::Point(dx, dy);
        break;
    default:
        return;
    }
    if (RegionShape* s = p.shape(d, r)) {
        s->setImageRect();
        s->UpdateMask();
    }
}

const int kFunctions[] = {FuncDefect, FuncSpot, FuncIgnore, FuncPosition, FuncBlack,
                          FuncWhite,  FuncSimilarity, FuncWhiteNumber, FuncDirection, FuncDistance};
} // namespace

QString functionName(int algorithm)
{
    return algorithm >= 0 && algorithm <= 9 ? LanStr(1572 + algorithm) : QString::number(algorithm);
}

// --- the canvas ---------------------------------------------------------------------------

RegionCanvas::RegionCanvas(QWidget* parent) : QWidget(parent)
{
    setMinimumSize(320, 240);
    setAttribute(Qt::WA_AcceptTouchEvents);
}

void RegionCanvas::setImage(const QImage& img)
{
    m_image = img;
    update();
}

void RegionCanvas::setRegions(CammerSingleton* edit, int d, const WizardPara* wp)
{
    m_edit = edit;
    m_d = d;
    m_wp = wp;
    m_polygon.clear();
    m_scores.clear();
    select(-1);
}

void RegionCanvas::setTool(Tool t)
{
    m_tool = t;
    m_polygon.clear();
    update();
}

void RegionCanvas::select(int r)
{
    if (m_edit)
        for (int i = 0; i < std::clamp(m_edit->roi_count[m_d], 0, kMaxRoi); ++i)
            if (RegionShape* s = m_edit->shape(m_d, i))
                s->SetSelected(i == r);
    m_selected = r;
    emit selectionChanged(r);
    update();
}

void RegionCanvas::zoomBy(double factor)
{
    m_zoom = std::clamp(m_zoom * factor, 1.0, 8.0);
    if (m_zoom == 1.0)
        m_pan = {};
    update();
}

double RegionCanvas::scale() const
{
    if (m_image.isNull())
        return 1;
    return std::min(double(width()) / m_image.width(), double(height()) / m_image.height()) * m_zoom;
}

QPointF RegionCanvas::origin() const
{
    const double s = scale();
    const QPointF centred((width() - m_image.width() * s) / 2, (height() - m_image.height() * s) / 2);
    return centred + m_pan;
}

QPointF RegionCanvas::toImage(const QPointF& w) const { return (w - origin()) / scale(); }
QPointF RegionCanvas::toWidget(const QPointF& i) const { return i * scale() + origin(); }

cv::Point RegionCanvas::imagePoint(const QPointF& widget) const
{
    const QPointF p = toImage(widget);
    const int w = m_image.isNull() ? 1 : m_image.width(), h = m_image.isNull() ? 1 : m_image.height();
    return {std::clamp(int(std::lround(p.x())), 0, w - 1), std::clamp(int(std::lround(p.y())), 0, h - 1)};
}

int RegionCanvas::regionAt(cv::Point p) const
{
    if (!m_edit)
        return -1;
    // The newest region lies on top.
    for (int r = std::clamp(m_edit->roi_count[m_d], 0, kMaxRoi) - 1; r >= 0; --r)
        if (const RegionShape* s = m_edit->shape(m_d, r); s && s->Contains(p))
            return r;
    return -1;
}

void RegionCanvas::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), QColor(16, 18, 22));
    if (m_image.isNull())
        return;
    p.save();
    p.translate(origin());
    p.scale(scale(), scale());
    p.drawImage(QPointF(0, 0), m_image);
    if (m_edit) {
        QFont f;
        f.setPixelSize(std::max(8, int(16 / scale())));
        p.setFont(f);
        for (int r = 0; r < std::clamp(m_edit->roi_count[m_d], 0, kMaxRoi); ++r) {
            const bool sel = r == m_selected;
            p.setPen(QPen(sel ? QColor(255, 200, 40) : QColor(60, 170, 255), 2 / scale()));
            p.setBrush(Qt::NoBrush);
            const QPainterPath path = regionPath(*m_edit, m_d, r);
            p.drawPath(path);
            QString label = QString::number(r + 1);
            if (r < m_scores.size())
                label += QStringLiteral(": %1").arg(m_scores[r]);
            p.drawText(path.boundingRect().topLeft() + QPointF(2, -3), label);
        }
    }
    if (!m_polygon.empty()) {
        p.setPen(QPen(QColor(120, 255, 120), 2 / scale()));
        QPolygonF poly;
        for (const cv::Point& pt : m_polygon)
            poly << QPointF(pt.x, pt.y);
        p.drawPolyline(poly);
        p.drawEllipse(poly.first(), kCloseNear, kCloseNear);
    }
    p.restore();
}

void RegionCanvas::mousePressEvent(QMouseEvent* e)
{
    if (!m_edit || m_image.isNull())
        return;
    m_pressWidget = e->position();
    m_pressImage = m_lastImage = imagePoint(e->position());
    m_drag = None;
    if (m_tool == Rect || m_tool == Ring) {
        m_drag = Creating;
        return;
    }
    if (m_tool == Polygon)
        return;  // a vertex on release
    // Select: a handle of the selected region, else a region, else the picture (pan).
    if (m_selected >= 0)
        if (RegionShape* s = m_edit->shape(m_d, m_selected)) {
            m_handle = s->PtInCtrl(m_pressImage, std::max(6, int(kHandle / scale())));
            if (m_handle >= 0) {
                m_drag = Resizing;
                return;
            }
        }
    const int r = regionAt(m_pressImage);
    if (r >= 0) {
        select(r);
        m_drag = Moving;
    } else {
        select(-1);
        m_drag = m_zoom > 1.0 ? Panning : None;
    }
}

void RegionCanvas::mouseMoveEvent(QMouseEvent* e)
{
    if (!m_edit || m_drag == None)
        return;
    const cv::Point now = imagePoint(e->position());
    if (m_drag == Moving && m_selected >= 0) {
        moveRegion(*m_edit, m_d, m_selected, now.x - m_lastImage.x, now.y - m_lastImage.y);
        emit regionsChanged();
    } else if (m_drag == Resizing && m_selected >= 0) {
        if (RegionShape* s = m_edit->shape(m_d, m_selected)) {
            s->Resize(m_handle, now);
            s->setImageRect();
            s->UpdateMask();
            emit regionsChanged();
        }
    } else if (m_drag == Panning) {
        m_pan += e->position() - m_pressWidget;
        m_pressWidget = e->position();
    }
    m_lastImage = now;
    update();
}

void RegionCanvas::mouseReleaseEvent(QMouseEvent* e)
{
    if (!m_edit || m_image.isNull())
        return;
    const cv::Point at = imagePoint(e->position());
    int message = 0;
    int added = -1;
    if (m_drag == Creating && m_tool == Rect) {
        if (std::abs(at.x - m_pressImage.x) >= 2 && std::abs(at.y - m_pressImage.y) >= 2)
            added = m_edit->AddRect(m_d, m_pressImage, at, *m_wp, &message);
    } else if (m_drag == Creating && m_tool == Ring) {
        const int outer = int(std::lround(std::hypot(at.x - m_pressImage.x, at.y - m_pressImage.y)));
        if (outer >= 3)
            added = m_edit->AddCircle(m_d, m_pressImage, outer, outer / 2, *m_wp, &message);
    } else if (m_tool == Polygon) {
        const bool closes = m_polygon.size() > 2 && std::abs(at.x - m_polygon.front().x) <= kCloseNear &&
                            std::abs(at.y - m_polygon.front().y) <= kCloseNear;
        if (closes) {
            added = m_edit->AddPolygon(m_d, m_polygon, *m_wp, &message);
            m_polygon.clear();
        } else if (int(m_polygon.size()) < RePolygon::kMaxPoints) {
            m_polygon.push_back(at);
        } else {
            emit refused(1309);
        }
    }
    m_drag = None;
    if (added >= 0) {
        select(added);
        emit regionsChanged();
    } else if (message) {
        emit refused(message);
    }
    update();
}

// --- the editor page ----------------------------------------------------------------------

bool DrawROIWidget::ask(const QString& question) { return gpChooseBox && gpChooseBox->ask(question) == 1; }

void DrawROIWidget::warn(const QString& text)
{
    if (gpWarnBox)
        gpWarnBox->showMessage(text);
}

DrawROIWidget::DrawROIWidget(CameraManager* cameras, DetectionCycle* cycle, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), m_cams(cameras), m_cycle(cycle)
{
    stylePage(this, "regionEditor", "QComboBox{min-height:52px;}");
    for (int c = 0; c < kMaxCameras; ++c)
        m_edits.push_back(std::make_unique<CammerSingleton>(c));

    auto* lay = new QHBoxLayout(this);
    auto* left = new QVBoxLayout;
    m_canvas = new RegionCanvas(this);
    m_canvas->setObjectName("canvas");
    left->addWidget(m_canvas, 1);
    m_info = new QLabel(this);
    QFont f;
    f.setPixelSize(18);
    m_info->setFont(f);
    m_info->setWordWrap(true);
    left->addWidget(m_info);
    lay->addLayout(left, 1);

    auto* side = new QGridLayout;
    constexpr int kColumns = 3;
    int n = 0;
    auto place = [&](QWidget* w, int span) {
        if (n % kColumns + span > kColumns)
            n += kColumns - n % kColumns;
        side->addWidget(w, n / kColumns, n % kColumns, 1, span);
        n += span;
    };
    auto add = [&](int text, const char* name, std::function<void()> action) {
        QPushButton* b = lanButton(this, text, name, 16, {150, 52});
        connect(b, &QPushButton::clicked, this, std::move(action));
        place(b, 1);
        return b;
    };
    m_cameraBox = new QComboBox(this);
    m_detectionBox = new QComboBox(this);
    m_function = new QComboBox(this);
    m_cameraBox->setObjectName("cameraBox");
    m_detectionBox->setObjectName("detectionBox");
    m_function->setObjectName("functionBox");
    // Their lists, for the geometry dump: a tap chooses a row.
    m_cameraBox->view()->setObjectName("cameraList");
    m_detectionBox->view()->setObjectName("detectionList");
    m_function->view()->setObjectName("functionList");
    for (QComboBox* box : {m_cameraBox, m_detectionBox, m_function})
        box->setFont(f);
    place(m_cameraBox, 1);
    place(m_detectionBox, 2);
    add(1585, "toolSelect", [this] { m_canvas->setTool(RegionCanvas::Select); });
    add(1582, "toolRect", [this] { m_canvas->setTool(RegionCanvas::Rect); });
    add(1583, "toolRing", [this] { m_canvas->setTool(RegionCanvas::Ring); });
    add(1584, "toolPolygon", [this] { m_canvas->setTool(RegionCanvas::Polygon); });
    place(m_function, 2);
    add(1588, "minSize", [this] { editParameter(0); });
    add(1589, "sensitivity", [this] { editParameter(1); });
    add(1590, "maxArea", [this] { editParameter(2); });
    add(1597, "innerRadius", [this] { editParameter(3); });
    add(1586, "deleteRegion", [this] { deleteSelected(); });
    add(1591, "copyRegions", [this] { CopyPara(); });
    add(1592, "testRun", [this] { RunTest(); });
    add(1593, "autoRegion", [this] { autoRegion(); });
    add(1312, "addTemplate", [this] { addTemplate(); });
    add(1607, "deleteTemplate", [this] { deleteTemplate(); });
    add(1341, "deleteTemplates", [this] { deleteTemplates(); });
    add(1313, "resample", [this] { resample(); });
    add(1606, "deleteIgnore", [this] { deleteIgnorePoints(); });
    add(1595, "zoomIn", [this] { m_canvas->zoomBy(1.5); });
    add(1596, "zoomOut", [this] { m_canvas->zoomBy(1 / 1.5); });
    add(1594, "save", [this] { SlotSaveData(); });
    add(1528, "cancel", [this] { cancel(); });
    side->setRowStretch(side->rowCount(), 1);
    lay->addLayout(side);

    connect(m_cameraBox, &QComboBox::activated, this, [this](int i) { show(i, m_detection); });
    connect(m_detectionBox, &QComboBox::activated, this, [this](int i) { show(m_camera, i); });
    connect(m_function, &QComboBox::activated, this, [this](int i) { setFunction(kFunctions[i]); });
    connect(m_canvas, &RegionCanvas::selectionChanged, this, &DrawROIWidget::refreshInfo);
    connect(m_canvas, &RegionCanvas::regionsChanged, this, &DrawROIWidget::refreshInfo);
    connect(m_canvas, &RegionCanvas::refused, this, [this](int m) { warn(LanStr(m)); });
    connect(&LanguageNotifier::instance(), &LanguageNotifier::changed, this, [this] { show(m_camera, m_detection); });
}

void DrawROIWidget::open(int camera, int detection)
{
    for (int c = 0; c < kMaxCameras; ++c)
        if (CammerView* v = m_cams ? m_cams->view(c) : nullptr) {
            CammerSingleton& e = *m_edits[size_t(c)];
            e = v->para;
            // While editing, a region's NG counter holds where it came from (-1 - index):
            // every move, copy and deletion of the editor carries it with the region,
            // and a new region starts at 0. The save looks the live counter up by it.
            for (int d = 0; d < 8; ++d)
                for (int r = 0; r < kMaxRoi; ++r)
                    e.roi_ng_count[d][r] = -1 - r;
        }
    show(camera, detection);
    if (!isVisible())
        showOnWholeScreen(this);
}

void DrawROIWidget::show(int camera, int detection)
{
    const int cameras = std::max(1, m_cams ? m_cams->viewCount() : 1);
    m_camera = std::clamp(camera, 0, cameras - 1);
    m_detection = std::clamp(detection, 0, 7);
    m_cameraBox->clear();
    for (int c = 0; c < cameras; ++c)
        m_cameraBox->addItem(LanStr(151).arg(c + 1));
    m_cameraBox->setCurrentIndex(m_camera);
    m_detectionBox->clear();
    for (int d = 0; d < 8; ++d)
        m_detectionBox->addItem(m_cycle ? m_cycle->DetectionName(d) : LanStr(1713).arg(d + 1));
    m_detectionBox->setCurrentIndex(m_detection);
    m_function->clear();
    for (int a : kFunctions)
        m_function->addItem(functionName(a));
    loadPicture();
    m_canvas->setRegions(m_edits[size_t(m_camera)].get(), m_detection, gpWPara);
    refreshInfo();
}

void DrawROIWidget::loadPicture()
{
    CammerView* v = m_cams ? m_cams->view(m_camera) : nullptr;
    m_picture = v ? v->frame().clone() : cv::Mat();
    // No live picture: the base template is what the regions were drawn on.
    if (m_picture.empty() && v && v->store && v->store->used(m_detection, 0))
        m_picture = v->store->slot(m_detection, 0).clone();
    m_canvas->setImage(matToImage(m_picture));
}

void DrawROIWidget::refreshInfo()
{
    const CammerSingleton& e = *m_edits[size_t(m_camera)];
    const int r = m_canvas->selected();
    QString text = QStringLiteral("%1  %2: %3").arg(LanStr(151).arg(m_camera + 1), m_detectionBox->currentText())
                       .arg(e.roi_count[m_detection]);
    if (r >= 0 && r < e.roi_count[m_detection]) {
        const RoiParam& p = e.roi[m_detection][r];
        text += QStringLiteral("   #%1 %2   %3 %4   %5 %6   %7 %8")
                    .arg(r + 1)
                    .arg(functionName(p.algorithm), LanStr(1588))
                    .arg(p.min_size)
                    .arg(LanStr(1589))
                    .arg(p.sensibility)
                    .arg(LanStr(1590))
                    .arg(p.max_area);
        for (int i = 0; i < 10; ++i)
            if (kFunctions[i] == p.algorithm)
                m_function->setCurrentIndex(i);
    }
    m_info->setText(text);
}

QString DrawROIWidget::infoText() const { return m_info->text(); }

bool DrawROIWidget::deleteSelected()
{
    const int r = m_canvas->selected();
    CammerSingleton& e = *m_edits[size_t(m_camera)];
    if (r < 0 || r >= e.roi_count[m_detection])
        return false;
    e.DeleteROI(m_detection, r);
    m_canvas->select(-1);
    refreshInfo();
    return true;
}

bool DrawROIWidget::setFunction(int algorithm)
{
    const int r = m_canvas->selected();
    CammerSingleton& e = *m_edits[size_t(m_camera)];
    if (r < 0 || r >= e.roi_count[m_detection])
        return false;
    e.roi[m_detection][r].algorithm = algorithm;
    refreshInfo();
    return true;
}

bool DrawROIWidget::editParameter(int which)
{
    const int r = m_canvas->selected();
    CammerSingleton& e = *m_edits[size_t(m_camera)];
    if (r < 0 || r >= e.roi_count[m_detection] || !gpNumPad)
        return false;
    RoiParam& p = e.roi[m_detection][r];
    if (which == 3) {
        if (p.roi_shape != ShapeCircle)
            return false;
        Circle& c = e.circles[m_detection][r];
        const auto v = gpNumPad->getNumber(LanStr(1597), c.inner, 0, std::max(0, c.outer - 1));
        if (!v)
            return false;
        c.inner = int(*v);
        c.setImageRect();
        c.UpdateMask();
    } else {
        int* field = which == 0 ? &p.min_size : which == 1 ? &p.sensibility : &p.max_area;
        const int label = which == 0 ? 1588 : which == 1 ? 1589 : 1590;
        const int max = which == 1 ? 255 : 1000000;
        const auto v = gpNumPad->getNumber(LanStr(label), *field, 0, max);
        if (!v)
            return false;
        *field = int(*v);
    }
    refreshInfo();
    m_canvas->update();
    return true;
}

void DrawROIWidget::CopyPara()
{
    m_edits[size_t(m_camera)]->CopyPara(gpWPara ? gpWPara->machine_mode : 0);
    m_canvas->select(-1);
    refreshInfo();
}

QList<int> DrawROIWidget::RunTest()
{
    QList<int> scores;
    CammerView* v = m_cams ? m_cams->view(m_camera) : nullptr;
    if (!v || !v->store || m_picture.empty() || !gpWPara)
        return scores;
    // The judgement of the cycle on this picture, with the regions as edited.
    CammerSingleton& e = *m_edits[size_t(m_camera)];
    WizardPara only = *gpWPara;
    for (int j = 0; j < 8; ++j)
        only.detect_enable[j] = j == m_detection ? 1 : 0;
    CammerRecong engine(&e, v->store.get(), &only);
    cv::Mat judged, valid;
    engine.ShapeMatch(m_detection, m_picture, judged, &valid);
    engine.Run(m_detection, judged, false, valid);
    for (int r = 0; r < std::clamp(e.roi_count[m_detection], 0, kMaxRoi); ++r)
        scores << engine.score[m_detection][r];
    m_canvas->setScores(scores);
    return scores;
}

bool DrawROIWidget::autoRegion()
{
    CammerView* v = m_cams ? m_cams->view(m_camera) : nullptr;
    if (!v || !v->store || !gpWPara || !ask(LanStr(1308)))
        return false;
    const bool ok = AutogenerationRegion(*m_edits[size_t(m_camera)], *v->store, m_detection, *gpWPara);
    m_canvas->select(ok ? 0 : -1);
    refreshInfo();
    return ok;
}

bool DrawROIWidget::templateOutcome(const TemplateStore::Outcome& o)
{
    reportOutcome(o, warn);
    const bool ok = o.ok;
    // The live engine learns at once what the templates now hold.
    if (ok)
        if (CammerView* v = m_cams ? m_cams->view(m_camera) : nullptr; v && v->recong)
            v->recong->VarTrain(m_detection);
    return ok;
}

bool DrawROIWidget::addTemplate()
{
    CammerView* v = m_cams ? m_cams->view(m_camera) : nullptr;
    if (!v || !v->store || m_picture.empty() || !ask(LanStr(1300)))
        return false;
    const TemplateStore::Outcome o = v->store->AddTemplate(m_detection, m_picture.clone());
    return templateOutcome(o);
}

bool DrawROIWidget::deleteTemplate(std::optional<int> slot)
{
    CammerView* v = m_cams ? m_cams->view(m_camera) : nullptr;
    if (!v || !v->store)
        return false;
    // Which one: slot 0 is the base the others are compared with.
    if (!slot) {
        if (!gpNumPad)
            return false;
        const auto k = gpNumPad->getNumber(LanStr(1608), 1, 0, v->store->slotCount() - 1);
        if (!k)
            return false;
        slot = int(*k);
    }
    if (*slot != 0 && !ask(LanStr(1339)))
        return false;
    const TemplateStore::Outcome o = v->store->DeleteCurrent(m_detection, *slot);
    return templateOutcome(o);
}

bool DrawROIWidget::deleteTemplates()
{
    CammerView* v = m_cams ? m_cams->view(m_camera) : nullptr;
    if (!v || !v->store || !ask(LanStr(1340)))
        return false;
    const TemplateStore::Outcome o = v->store->DeleteAll();
    return templateOutcome(o);
}

bool DrawROIWidget::resample()
{
    CammerView* v = m_cams ? m_cams->view(m_camera) : nullptr;
    if (!v || !v->store || m_picture.empty() || !ask(LanStr(137)))
        return false;
    const TemplateStore::Outcome o = v->store->SaveReTrainImage(m_detection, m_picture.clone());
    return templateOutcome(o);
}

bool DrawROIWidget::deleteIgnorePoints()
{
    CammerView* v = m_cams ? m_cams->view(m_camera) : nullptr;
    if (!v || !v->store || !ask(LanStr(1342)))
        return false;
    const TemplateStore::Outcome o = v->store->DeleteIgnorePoints(m_detection);
    return templateOutcome(o);
}

QStringList DrawROIWidget::changeRecords(int camera, const CammerSingleton& live, const CammerSingleton& edit) const
{
    QStringList lines;
    for (int d = 0; d < 8; ++d) {
        const QString where = LanStr(151).arg(camera + 1) + (m_cycle ? m_cycle->DetectionName(d) : QString::number(d + 1));
        const int before = std::clamp(live.roi_count[d], 0, kMaxRoi), after = std::clamp(edit.roi_count[d], 0, kMaxRoi);
        for (int r = 0; r < std::max(before, after); ++r) {
            if (r >= before) {
                lines << LanStr(1305).arg(where).arg(r + 1).arg(functionName(edit.roi[d][r].algorithm));
            } else if (r >= after) {
                lines << LanStr(1306).arg(where).arg(r + 1).arg(functionName(live.roi[d][r].algorithm));
            } else {
                const RoiParam &a = live.roi[d][r], &b = edit.roi[d][r];
                const bool moved = live.mask(d, r).size() != edit.mask(d, r).size() ||
                                   live.shape(d, r) == nullptr || edit.shape(d, r) == nullptr ||
                                   live.shape(d, r)->imageRect() != edit.shape(d, r)->imageRect();
                if (!(a == b) || moved) {
                    // What changed: the function, the sensitivity, the maximum area.
                    const QString fn = a.algorithm != b.algorithm ? functionName(b.algorithm) : QString();
                    const QString sens = a.sensibility != b.sensibility
                                             ? QStringLiteral(" %1 %2→%3").arg(LanStr(1589)).arg(a.sensibility).arg(b.sensibility)
                                             : QString();
                    const QString area = a.max_area != b.max_area ? LanStr(1014).arg(a.max_area).arg(b.max_area) : QString();
                    lines << LanStr(1307).arg(where).arg(r + 1).arg(fn, sens, area);
                }
            }
        }
    }
    return lines;
}

bool DrawROIWidget::SlotSaveData()
{
    QList<int> changed;
    for (int c = 0; c < (m_cams ? m_cams->viewCount() : 0); ++c)
        if (CammerView* v = m_cams->view(c); v && m_edits[size_t(c)]->differsFrom(v->para))
            changed << c;
    if (changed.isEmpty())
        return true;
    if (!ask(LanStr(1021)))
        return false;
    bool ok = true;
    for (int c : std::as_const(changed)) {
        CammerView* v = m_cams->view(c);
        const QStringList lines = changeRecords(c, v->para, *m_edits[size_t(c)]);
        // Each region keeps its own live counter (production went on meanwhile); a new one starts at 0.
        CammerSingleton next = *m_edits[size_t(c)];
        for (int d = 0; d < 8; ++d)
            for (int r = 0; r < kMaxRoi; ++r) {
                const int from = -1 - next.roi_ng_count[d][r];
                next.roi_ng_count[d][r] = from >= 0 && from < kMaxRoi ? v->para.roi_ng_count[d][from] : 0;
            }
        if (!next.SaveDatatoFile()) {
            ok = false;
            warn(LanStr(1600));
            continue;
        }
        v->para = next;
        // Saved: the open copy's regions now come from the saved positions.
        for (int d = 0; d < 8; ++d)
            for (int r = 0; r < kMaxRoi; ++r)
                m_edits[size_t(c)]->roi_ng_count[d][r] = -1 - r;
        for (const QString& l : lines)
            OperationRecord::instance().InsertRecord(l);
        if (v->recong)
            for (int d = 0; d < 8; ++d)
                v->recong->VarTrain(d);
    }
    return ok;
}

void DrawROIWidget::cancel()
{
    hide();
}

void DrawROIWidget::hideEvent(QHideEvent* e)
{
    QWidget::hideEvent(e);
    if (m_cycle && m_cycle->resultState() == DetectionCycle::Editing)
        m_cycle->BackTrain();
}
