#include "CammerSingleton.h"

#include "ImageLib.h"
#include "ParamDb.h"
#include "WizardPara.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QtDebug>

std::function<void(const CammerSingleton&)> CammerSingleton::savedHook;

CammerSingleton::CammerSingleton(int cameraIndex) : camera_index(cameraIndex) {}

QString CammerSingleton::tableName() const { return QStringLiteral("cammer%1").arg(camera_index); }

RegionShape* CammerSingleton::shape(int d, int r)
{
    return const_cast<RegionShape*>(static_cast<const CammerSingleton*>(this)->shape(d, r));
}

const RegionShape* CammerSingleton::shape(int d, int r) const
{
    if (d < 0 || d > 7 || r < 0 || r >= kMaxRoi)
        return nullptr;
    switch (roi[d][r].roi_shape) {
    case ShapeRect: return &rects[d][r];
    case ShapeCircle: return &circles[d][r];
    case ShapePolygon: return &polys[d][r];
    default: return nullptr;
    }
}

cv::Mat CammerSingleton::mask(int d, int r) const
{
    const RegionShape* s = shape(d, r);
    return s ? s->mask() : cv::Mat();
}

void CammerSingleton::setDefaultRegion(int d, int r)
{
    roi[d][r] = {3, 45, 100, 0, ShapeRect, 0};
    rects[d][r].set({50, 50}, {100, 100});
    rects[d][r].UpdateMask();
}

void CammerSingleton::LoadDatafromFile(const Warn& warn)
{
    const QSqlDatabase db = paramdb::paramDb();
    const QString table = tableName();
    for (int d = 0; d < 8; ++d) {
        QString v;
        const QString detKey = QStringLiteral("detect%1").arg(d);
        if (paramdb::readValue(db, table, detKey, &v)) {
            const QList<int> n = paramdb::parseInts(v, 1 + kDetectFlags);
            roi_count[d] = n[0];
            for (int k = 0; k < kDetectFlags; ++k)
                detect_flags[d][k] = n[1 + k];
        } else {
            roi_count[d] = 0;
            paramdb::ensureKey(db, table, detKey, "0");
        }
        const QString ngKey = QStringLiteral("detect%1NGCount").arg(d);
        if (paramdb::readValue(db, table, ngKey, &v)) {
            const QList<int> n = paramdb::parseInts(v, kMaxRoi);
            for (int r = 0; r < kMaxRoi; ++r)
                roi_ng_count[d][r] = n[r];
        } else {
            paramdb::ensureKey(db, table, ngKey, "0");
        }
        if (static_cast<unsigned>(roi_count[d]) > unsigned(kMaxRoi)) {
            if (warn)
                warn(kMessageFileError);
            roi_count[d] = 0;
            continue;
        }
        for (int r = 0; r < roi_count[d]; ++r) {
            if (!paramdb::readValue(db, table, QStringLiteral("ROI%1-%2").arg(d).arg(r), &v))
                continue;
            const QList<int> head = paramdb::parseInts(v, 7);
            RoiParam& p = roi[d][r];
            p = {head[0], head[1], head[2], head[3], head[4], head[5]};
            if (static_cast<unsigned>(p.output_point) > 3u)
                p.output_point = 0;
            const int count = head[6];
            if (p.roi_shape == ShapeRect) {
                QList<int> n = paramdb::parseInts(v, 11);
                CheckInRange(n[7], 1);
                CheckInRange(n[8], 0);
                CheckInRange(n[9], 1);
                CheckInRange(n[10], 0);
                rects[d][r].set({n[7], n[8]}, {n[9], n[10]});
                rects[d][r].UpdateMask();
            } else if (p.roi_shape == ShapeCircle) {
                QList<int> n = paramdb::parseInts(v, 10);
                CheckInRange(n[7], 1);
                CheckInRange(n[8], 0);
                const unsigned packed = static_cast<unsigned>(n[9]);
                circles[d][r].set({n[7], n[8]}, int(packed % 65536u), int(packed / 65536u));
                circles[d][r].UpdateMask();
            } else if (p.roi_shape == ShapePolygon) {
                if (count < 1 || count > RePolygon::kMaxPoints) {
                    setDefaultRegion(d, r);
                } else {
                    const QList<int> n = paramdb::parseInts(v, 7 + 2 * count);
                    std::vector<cv::Point> pts(static_cast<size_t>(count));
                    for (int i = 0; i < count; ++i) {
                        int x = n[7 + 2 * i], y = n[8 + 2 * i];
                        CheckInRange(x, 1);
                        CheckInRange(y, 0);
                        pts[size_t(i)] = {x, y};
                    }
                    polys[d][r].set(pts);
                    polys[d][r].UpdateMask();
                }
            }
        }
    }
}

QString CammerSingleton::geometryText(int d, int r) const
{
    switch (roi[d][r].roi_shape) {
    case ShapePolygon: {
        QString s = QStringLiteral("%1 ").arg(polys[d][r].points.size());
        for (const cv::Point& p : polys[d][r].points)
            s += QStringLiteral("%1 %2 ").arg(p.x).arg(p.y);
        return s;
    }
    case ShapeCircle: {
        const Circle& c = circles[d][r];
        const qint64 packed = qint64(unsigned(c.inner) * 65536u + unsigned(c.outer));
        return QStringLiteral("0 %1 %2 %3").arg(c.centre.x).arg(c.centre.y).arg(qint32(packed));
    }
    case ShapeRect: {
        const ClustomRect& c = rects[d][r];
        return QStringLiteral("0 %1 %2 %3 %4").arg(c.p1.x).arg(c.p1.y).arg(c.p2.x).arg(c.p2.y);
    }
    default:
        return {};
    }
}

bool CammerSingleton::SaveDatatoFile()
{
    QSqlDatabase db = paramdb::paramDb();
    const QString table = tableName();
    // Inside the editor's transaction when there is one; otherwise our own.
    const bool own = db.transaction();
    bool ok = true;
    for (int d = 0; d < 8 && ok; ++d) {
        QList<int> det{roi_count[d]};
        for (int k = 0; k < kDetectFlags; ++k)
            det << detect_flags[d][k];
        const QString detKey = QStringLiteral("detect%1").arg(d);
        ok = paramdb::ensureKey(db, table, detKey) && paramdb::writeValue(db, table, detKey, paramdb::joinInts(det));
        QString ng;
        for (int r = 0; r < kMaxRoi; ++r)
            ng += QStringLiteral("%1 ").arg(roi_ng_count[d][r]);
        const QString ngKey = QStringLiteral("detect%1NGCount").arg(d);
        ok = ok && paramdb::ensureKey(db, table, ngKey) && paramdb::writeValue(db, table, ngKey, ng);
        const int count = std::clamp(roi_count[d], 0, kMaxRoi);
        for (int r = 0; r < count && ok; ++r) {
            const RoiParam& p = roi[d][r];
            const QString value = QStringLiteral("%1 %2 %3 %4 %5 %6 ")
                                      .arg(p.min_size).arg(p.sensibility).arg(p.max_area)
                                      .arg(p.algorithm).arg(p.roi_shape).arg(p.output_point) +
                                  geometryText(d, r);
            const QString key = QStringLiteral("ROI%1-%2").arg(d).arg(r);
            ok = paramdb::ensureKey(db, table, key) && paramdb::writeValue(db, table, key, value);
        }
        for (int r = count; r < kMaxRoi && ok; ++r) {
            QSqlQuery q(db);
            q.prepare(QStringLiteral("delete from %1 where name=?").arg(table));
            q.addBindValue(QStringLiteral("ROI%1-%2").arg(d).arg(r));
            ok = q.exec();
        }
    }
    if (own) {
        if (!ok || !db.commit()) {
            qWarning() << "regions of camera" << camera_index + 1 << "not saved:" << db.lastError().text();
            db.rollback();
            return false;
        }
    }
    if (ok && savedHook)
        savedHook(*this);
    return ok;
}

int CammerSingleton::prepareNew(int d, const WizardPara& p, int* message)
{
    if (d < 0 || d > 7)
        return -1;
    if (roi_count[d] >= kMaxRoi) {
        if (message)
            *message = kMessageTooMany;
        return -1;
    }
    const int r = roi_count[d];
    if (r > 0) {
        roi[d][r] = roi[d][r - 1];
    } else {
        RoiParam& q = roi[d][r];
        if (p.enable_spot_detect)
            q = {12800, 80, 500, 1, 0, 0};
        else if (p.enable_black_area)
            q = {q.min_size, 50, 100, 4, 0, 0};
        else if (p.enable_white_area)
            q = {q.min_size, 200, 100, 5, 0, 0};
        else if (p.enable_similarity)
            q = {q.min_size, 80, q.max_area, 6, 0, 0};
        else if (p.enable_white_number)
            q = {1, 128, 131073, 7, 0, 0};
        else if (p.enable_distance)
            q = {1, 35, 50, 9, 0, 0};
        else
            q = {3, 45, 100, 0, 0, 0};
    }
    roi_ng_count[d][r] = 0;
    if (d == 0)
        roi[d][r].output_point = 0;
    return r;
}

int CammerSingleton::AddRect(int d, cv::Point a, cv::Point b, const WizardPara& p, int* message)
{
    const int r = prepareNew(d, p, message);
    if (r < 0)
        return r;
    roi[d][r].roi_shape = ShapeRect;
    rects[d][r].set(a, b);
    rects[d][r].UpdateMask();
    rects[d][r].SetSelected(true);
    return roi_count[d]++;
}

int CammerSingleton::AddCircle(int d, cv::Point centre, int outer, int inner, const WizardPara& p, int* message)
{
    const int r = prepareNew(d, p, message);
    if (r < 0)
        return r;
    roi[d][r].roi_shape = ShapeCircle;
    circles[d][r].set(centre, outer, inner);
    circles[d][r].UpdateMask();
    circles[d][r].SetSelected(true);
    return roi_count[d]++;
}

int CammerSingleton::AddPolygon(int d, std::vector<cv::Point> points, const WizardPara& p, int* message)
{
    if (points.size() <= 2)
        return -1;
    if (points.size() > size_t(RePolygon::kMaxPoints - 1))
        points.resize(size_t(RePolygon::kMaxPoints - 1));
    const int r = prepareNew(d, p, message);
    if (r < 0)
        return r;
    roi[d][r].roi_shape = ShapePolygon;
    polys[d][r].set(points);
    polys[d][r].UpdateMask();
    polys[d][r].SetSelected(true);
    return roi_count[d]++;
}

void CammerSingleton::copyRegion(int dd, int rd, int ds, int rs, bool withParams)
{
    if (withParams) {
        roi[dd][rd] = roi[ds][rs];
        roi_ng_count[dd][rd] = roi_ng_count[ds][rs];
    } else {
        roi[dd][rd].roi_shape = roi[ds][rs].roi_shape;
    }
    rects[dd][rd] = rects[ds][rs];
    circles[dd][rd] = circles[ds][rs];
    polys[dd][rd] = polys[ds][rs];
}

void CammerSingleton::DeleteROI(int d, int r)
{
    if (d < 0 || d > 7 || r < 0 || r >= roi_count[d])
        return;
    for (int k = r; k + 1 < roi_count[d]; ++k)
        copyRegion(d, k, d, k + 1, true);
    --roi_count[d];
}

void CammerSingleton::CopyPara(int machineMode)
{
    auto copy = [this](int to, int from) {
        roi_count[to] = roi_count[from];
        for (int r = 0; r < roi_count[from]; ++r) {
            copyRegion(to, r, from, r, false);
            if (RegionShape* s = shape(to, r))
                s->SetSelected(false);
        }
    };
    if (machineMode == 0 || machineMode == 3) {
        copy(1, 0);
    } else if (machineMode == 1 || machineMode == 2) {
        copy(3, 1);
        copy(2, 0);
    }
}

bool CammerSingleton::differsFrom(const CammerSingleton& o) const
{
    for (int d = 0; d < 8; ++d) {
        if (roi_count[d] != o.roi_count[d])
            return true;
        for (int k = 0; k < kDetectFlags; ++k)
            if (detect_flags[d][k] != o.detect_flags[d][k])
                return true;
        for (int r = 0; r < std::clamp(roi_count[d], 0, kMaxRoi); ++r) {
            if (!(roi[d][r] == o.roi[d][r]))
                return true;
            if (geometryText(d, r) != o.geometryText(d, r))
                return true;
        }
    }
    return false;
}
