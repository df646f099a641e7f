// Region inspection: the function, filtering, scoring and verdict of every
// region of a detection, the editor's single-region test, the stepping
// between functions and the automatic region proposal.
#include "CammerRecong.h"

#include "ImageLib.h"
#include "Messages.h"
#include "OperationRecord.h"
#include "WizardPara.h"

#include <QtDebug>
#include <opencv2/imgproc.hpp>
#include <algorithm>
#include <memory>

QList<param_roi> g_listParamROI;

namespace {

bool enabled(int code, const WizardPara& wp)
{
    switch (code) {
    case FuncDefect: return wp.enable_defect_detect;
    case FuncSpot: return wp.enable_spot_detect;
    case FuncIgnore: return wp.enable_ignore_area;
    case FuncPosition: return wp.enable_manual_edit;
    case FuncBlack: return wp.enable_black_area;
    case FuncWhite: return wp.enable_white_area;
    case FuncSimilarity: return wp.enable_similarity;
    case FuncWhiteNumber: return wp.enable_white_number;
    case FuncDirection: return wp.enable_direction;
    case FuncDistance: return wp.enable_distance;
    default: return false;
    }
}

// An element larger than the region does nothing a region-sized one would
// not; the bound keeps a stored 20000 from allocating on the cycle's thread.
cv::Mat ellipse(int k, cv::Size region)
{
    k = std::clamp(k, 1, std::max(1, std::max(region.width, region.height)));
    return cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(k, k));
}

// out = 255 where lo <= v <= hi inside mask.
void band(const cv::Mat& cur, int lo, int hi, const cv::Mat& mask, cv::Mat& out)
{
    cv::inRange(cur, cv::Scalar(lo), cv::Scalar(hi), out);
    out &= mask;
}

} // namespace

int NextFunction(int current, const WizardPara& wp, RoiParam& p)
{
    for (int step = 1; step <= 10; ++step) {
        const int code = (current + step) % 10;
        if (!enabled(code, wp))
            continue;
        p.algorithm = code;
        switch (code) {
        case FuncDefect: case FuncIgnore: p.min_size = 3; p.sensibility = 45; p.max_area = 100; break;
        case FuncSpot: p.min_size = 12800; p.sensibility = 80; p.max_area = 500; break;
        case FuncPosition: p.min_size = 10; p.sensibility = 10; p.max_area = 10; break;
        case FuncBlack: p.sensibility = 50; p.max_area = 100; break;
        case FuncWhite: p.sensibility = 200; p.max_area = 100; break;
        case FuncSimilarity: p.sensibility = 80; break;
        case FuncWhiteNumber: p.min_size = 1; p.sensibility = 128; p.max_area = 131073; break;
        case FuncDirection: p.min_size = 1; p.sensibility = 5000; p.max_area = 10000; break;
        case FuncDistance: p.min_size = 1; p.sensibility = 35; p.max_area = 50; break;
        }
        return code;
    }
    return -1;
}

void CammerRecong::logError(int d, int r, int code)
{
    cameraVerdict = 0;
    regionVerdict[d][r] = 0;
    regionError[d][r] = code;
    OperationRecord::instance().InsertRecord(
        QStringLiteral("REG RUN ERROR = %1, %2, %3").arg(m_para->camera_index).arg(d).arg(code));
}

bool CammerRecong::judgeRegion(int d, int r, const cv::Mat& cur, const cv::Mat& valid, bool test, int* error)
{
    const RoiParam& p = m_para->roi[d][r];
    const RegionShape* shp = m_para->shape(d, r);
    score[d][r] = 0;
    alarmCount[d][r] = 0;
    alarms[d][r].clear();
    if (!shp || !shp->maskUsable()) {
        *error = ErrNoMask;
        return false;
    }
    if (detectMask[d].empty()) {
        *error = ErrNoDetectMask;
        return false;
    }
    const cv::Rect rc = shp->rect() & cv::Rect(0, 0, cur.cols, cur.rows);
    if (rc.empty() || rc != shp->rect() || detectMask[d].size() != cur.size()) {
        *error = ErrBadRect;
        return false;
    }
    // A region whose model was never trained cannot say OK.
    if ((p.algorithm == FuncDefect && !diff[d][r].IsValid()) || (p.algorithm == FuncSimilarity && !sim[d][r].IsValid())) {
        *error = ErrUntrained;
        return false;
    }
    const bool checkValid = !valid.empty() && valid.size() == cur.size();
    const cv::Mat c = cur(rc);
    cv::Mat work = detectMask[d](rc) & shp->mask();
    if (checkValid)
        work &= valid(rc);
    cv::Mat out = cv::Mat::zeros(rc.size(), CV_8UC1);
    cv::Mat res = cv::Mat::zeros(rc.size(), CV_8UC1);
    int k = 1;
    int similarity = 0;
    const int p1 = p.min_size, p2 = p.sensibility, p3 = p.max_area;

    switch (p.algorithm) {
    case FuncDefect: {
        k = m_wp->enable_display_detail ? p1 : m_wp->minimum_size;
        const cv::Mat crop = GrownCrop(cur, rc, diff[d][r].margin());
        if (diff[d][r].Match(crop, out) < 0) {
            *error = ErrLibrary;
            return false;
        }
        // Pixels the correction brought in from outside the frame are not judged.
        if (checkValid)
            out &= valid(rc);
        break;
    }
    case FuncSimilarity:
        k = 1;
        similarity = int(sim[d][r].Match(c.clone(), out));
        break;
    case FuncSpot: case FuncBlack: case FuncWhite: case FuncWhiteNumber: {
        int lo = 0, hi = 255;
        if (p.algorithm == FuncSpot) {
            lo = (p1 >> 8) & 0xFF;
            hi = p1 & 0xFF;
            if (lo > hi)
                std::swap(lo, hi);
        } else if (p.algorithm == FuncBlack) {
            hi = p2 & 0xFF;
        } else {
            lo = p2 & 0xFF;
        }
        band(c, lo, hi, work, out);
        k = m_wp->min_spot;
        if (p.algorithm == FuncWhiteNumber) {
            k = std::max(1, p1);
            cv::morphologyEx(out, out, cv::MORPH_CLOSE, ellipse(k, rc.size()));
        }
        break;
    }
    case FuncDirection: {
        cv::Mat bin;
        cv::threshold(c, bin, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
        if (checkValid)
            bin &= valid(rc);
        std::vector<std::vector<cv::Point>> contours;
        cv::findContours(bin, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
        const double lo = std::min(p2, p3), hi = std::max(p2, p3);
        for (const auto& ct : contours) {
            const double area = cv::contourArea(ct);
            if (area <= lo || area >= hi)
                continue;
            const cv::Rect box = cv::boundingRect(ct);
            cv::Mat fill = cv::Mat::zeros(box.size(), CV_8UC1);
            cv::drawContours(fill, std::vector<std::vector<cv::Point>>{ct}, 0, cv::Scalar(255), cv::FILLED,
                             cv::LINE_8, cv::noArray(), INT_MAX, -box.tl());
            cv::bitwise_not(fill, fill);
            const cv::Moments m = cv::moments(fill, true);
            if (m.m00 == 0)
                continue;
            const int cx = int(std::lround(m.m10 / m.m00));
            const bool wrong = (cx > box.width / 2 && p1 == 0) || (cx < box.width / 2 && p1 == 1);
            if (!wrong)
                continue;
            if (test)
                cv::rectangle(res, box, cv::Scalar(255), 1);
            else
                cv::drawContours(res, std::vector<std::vector<cv::Point>>{ct}, 0, cv::Scalar(255), cv::FILLED);
            if (alarms[d][r].size() < size_t(kMaxAlarmRects))
                alarms[d][r].push_back({rc.x + box.x, rc.y + box.y, rc.x + box.x + box.width, rc.y + box.y + box.height});
            ++score[d][r];
        }
        alarmCount[d][r] = int(alarms[d][r].size());
        res.copyTo(alarmImage(rc));
        break;
    }
    case FuncDistance: {
        std::unique_ptr<RotateRectROI> rr(Rect2RotateRect(rc, p1));
        _EdgePointDetParam ep;
        ep.minStrength = p2;
        ep.rect = rr.get();
        cv::Mat img = cur;
        clcEdgePoint(img, ep);
        const DistanceRef& ref = dist[d][r];
        Measurement& me = measure[d][r];
        me = {};
        me.mode = ref.mode;
        me.ref1 = cv::Point(ref.p1);
        me.ref2 = cv::Point(ref.p2);
        me.found = int(std::min<size_t>(2, ep.points.size()));
        bool ng = true;
        if (ep.points.size() == 1) {
            me.p1 = cv::Point(ep.points[0]);
            score[d][r] = int(ep.points[0].x);
            ng = !(ref.mode == 1 && DistP2P(ep.points[0], ref.p1) <= p3);
        } else if (ep.points.size() >= 2) {
            me.p1 = cv::Point(ep.points.front());
            me.p2 = cv::Point(ep.points.back());
            const float dd = DistP2P(ep.points.front(), ep.points.back());
            score[d][r] = int(dd);
            ng = dd > p3 || ref.mode != 2;
        }
        if (ng && !test)
            regionVerdict[d][r] = 0;
        break;
    }
    default:
        break;
    }

    if (p.algorithm != FuncDirection && p.algorithm != FuncDistance) {
        // Nothing found needs no filtering and no labelling.
        if (cv::countNonZero(out) > 0) {
            if (k > 1)
                cv::morphologyEx(out, res, cv::MORPH_OPEN, ellipse(k, rc.size()));
            else
                out.copyTo(res);
            res.copyTo(alarmImage(rc));
            CBlobResult blobs(res, nullptr, 0);
            int sum = 0;
            for (int i = 0; i < blobs.GetNumBlobs(); ++i) {
                const CBlob b = blobs.GetBlob(i);
                sum += int(b.Area());
                if (i < kMaxAlarmRects) {
                    const cv::Rect bb = b.GetBoundingBox();
                    alarms[d][r].push_back(
                        {rc.x + bb.x, rc.y + bb.y, rc.x + bb.x + bb.width, rc.y + bb.y + bb.height});
                }
            }
            score[d][r] = sum;
        }
        alarmCount[d][r] = int(alarms[d][r].size());
    }
    if (p.algorithm == FuncSimilarity)
        score[d][r] = similarity;
    return true;
}

void CammerRecong::Run(int d, const cv::Mat& frame, bool report, const cv::Mat& valid)
{
    cameraVerdict = 1;
    if (d < 0 || d >= kMaxDetections || frame.empty()) {
        // Nothing that can be judged is not good.
        cameraVerdict = 0;
        OperationRecord::instance().InsertRecord(
            QStringLiteral("REG RUN ERROR = %1, %2, %3").arg(m_para->camera_index).arg(d).arg(int(ErrBadRect)));
        return;
    }
    for (int r = 0; r < kMaxRoi; ++r) {
        regionVerdict[d][r] = 1;
        regionError[d][r] = RegionOk;
    }
    const cv::Mat cur = plane(frame);
    if (alarmImage.size() != cur.size())
        alarmImage = cv::Mat::zeros(cur.size(), CV_8UC1);
    else
        alarmImage.setTo(0);
    const int count = std::clamp(m_para->roi_count[d], 0, kMaxRoi);
    for (int r = 0; r < count; ++r) {
        const RoiParam& p = m_para->roi[d][r];
        if (p.algorithm == FuncIgnore || p.algorithm == FuncPosition) {
            score[d][r] = 0;
            alarmCount[d][r] = 0;
            alarms[d][r].clear();
            continue;
        }
        int error = 0;
        bool judged;
        try {
            judged = judgeRegion(d, r, cur, valid, false, &error);
        } catch (const cv::Exception& e) {
            // The library's own checks: the region is in doubt, never OK.
            qWarning() << "camera" << m_para->camera_index + 1 << "detection" << d + 1 << "region" << r + 1
                       << "could not be judged:" << e.what();
            judged = false;
            error = ErrLibrary;
        }
        if (!judged) {
            logError(d, r, error);
            if (report && m_wp->enable_cnt_net)
                g_listParamROI.append({m_para->camera_index, d, r, p.algorithm, 0, 0, 0, 0});
            continue;
        }
        const int s = score[d][r];
        bool ng = false;
        int lo = 0, hi = 0;
        switch (p.algorithm) {
        case FuncDefect: {
            const int limit = m_wp->enable_display_detail ? p.max_area : m_wp->minimum_area;
            ng = m_wp->enable_ng_image ? s < limit : s > limit;
            hi = p.max_area;
            break;
        }
        case FuncSpot:
            ng = s < p.sensibility || s > p.max_area;
            lo = p.sensibility;
            hi = p.max_area;
            break;
        case FuncBlack: case FuncWhite:
            ng = s > p.max_area;
            hi = p.max_area;
            break;
        case FuncSimilarity:
            ng = s < p.sensibility;
            lo = p.sensibility;
            hi = -1;
            break;
        case FuncWhiteNumber: {
            score[d][r] = alarmCount[d][r];
            const int a = p.max_area & 0xFFFF, b = (unsigned(p.max_area) >> 16) & 0xFFFF;
            lo = std::min(a, b);
            hi = std::max(a, b);
            ng = score[d][r] < lo || score[d][r] > hi;
            break;
        }
        case FuncDirection:
            ng = s > 0;
            lo = 0;
            hi = 0;
            break;
        case FuncDistance:
            ng = regionVerdict[d][r] == 0;
            hi = p.max_area;
            break;
        default:
            break;
        }
        premin[d][r] = lo;
        premax[d][r] = hi;
        if (ng) {
            regionVerdict[d][r] = 0;
            cameraVerdict = 0;
        }
        if (report && m_wp->enable_cnt_net)
            g_listParamROI.append({m_para->camera_index, d, r, p.algorithm, score[d][r], lo, hi,
                                   ng ? 0 : cameraVerdict});
    }
}

void CammerRecong::RunTest(int d, int r, const cv::Mat& image)
{
    if (d < 0 || d > 7 || r < 0 || r >= std::clamp(m_para->roi_count[d], 0, kMaxRoi))
        return;
    const int code = m_para->roi[d][r].algorithm;
    const cv::Mat cur = plane(image);
    if (alarmImage.size() != cur.size())
        alarmImage = cv::Mat::zeros(cur.size(), CV_8UC1);
    else
        alarmImage.setTo(0);
    score[d][r] = 0;
    alarmCount[d][r] = 0;
    if (code == FuncDefect || code == FuncIgnore || code == FuncPosition || code == FuncSimilarity)
        return;  // the editor only repaints these
    int error = 0;
    const unsigned char verdict = regionVerdict[d][r];
    try {
        judgeRegion(d, r, cur, cv::Mat(), true, &error);
    } catch (const cv::Exception& e) {
        qWarning() << "region test failed:" << e.what();
    }
    regionVerdict[d][r] = verdict;
    if (code == FuncWhiteNumber)
        score[d][r] = alarmCount[d][r];
}

bool AutogenerationRegion(CammerSingleton& para, const TemplateStore& store, int d, const WizardPara& wp)
{
    if (!store.used(0, 0) || !store.used(1, 0) || d < 0 || d > 7)
        return false;
    auto grey = [&](const cv::Mat& m) {
        if (m.channels() == 1)
            return m;
        cv::Mat g;
        cv::cvtColor(m, g, cv::COLOR_BGRA2GRAY);
        return g;
    };
    cv::Mat diffImg;
    cv::absdiff(grey(store.slot(0, 0)), grey(store.slot(1, 0)), diffImg);
    cv::Mat m;
    cv::inRange(diffImg, cv::Scalar(50), cv::Scalar(255), m);
    cv::morphologyEx(m, m, cv::MORPH_OPEN, cv::getStructuringElement(cv::MORPH_RECT, {3, 3}));
    cv::morphologyEx(m, m, cv::MORPH_CLOSE, cv::getStructuringElement(cv::MORPH_ELLIPSE, {30, 30}));
    cv::morphologyEx(m, m, cv::MORPH_OPEN, cv::getStructuringElement(cv::MORPH_ELLIPSE, {30, 30}));
    cv::dilate(m, m, cv::getStructuringElement(cv::MORPH_ELLIPSE, {50, 50}));
    std::vector<std::vector<cv::Point>> contours;
    cv::findContours(m, contours, cv::RETR_LIST, cv::CHAIN_APPROX_NONE);
    if (contours.empty())
        return false;
    std::vector<cv::Point> all, hull, poly;
    for (const auto& c : contours)
        all.insert(all.end(), c.begin(), c.end());
    cv::convexHull(all, hull);
    cv::approxPolyDP(hull, poly, 10.0, true);
    if (poly.size() > size_t(RePolygon::kMaxPoints))
        poly.resize(size_t(RePolygon::kMaxPoints));
    if (poly.size() < 3)
        return false;
    para.roi_count[d] = 0;
    if (para.AddPolygon(d, poly, wp) != 0)
        return false;
    RoiParam& p = para.roi[d][0];
    p.algorithm = FuncDefect;
    p.min_size = wp.minimum_size;
    p.max_area = wp.minimum_area;
    const cv::Rect box = para.polys[d][0].rect();
    // A fifth of the mean difference where the templates differ, as grey
    // levels, then in the difference model's own scale (higher is tighter).
    // 64-bit: the box of a large frame overflows 32 bits at full grey.
    const qint64 nonZero = cv::countNonZero(diffImg(box));
    const qint64 mean = qint64(cv::mean(diffImg(box))[0]);
    const double level = nonZero > 0 ? 0.2 * double(mean * qint64(box.width) * qint64(box.height) / nonZero) : 0.0;
    p.sensibility = GrayMatch::sensitivityFor(level);
    return true;
}
