#include "CammerRecong.h"

#include "ImageLib.h"
#include "Messages.h"
#include "OperationRecord.h"
#include "WizardPara.h"

#include <opencv2/imgproc.hpp>
#include <memory>

namespace {
bool validDetection(int d) { return d >= 0 && d < kMaxDetections; }
} // namespace

CammerRecong::CammerRecong(CammerSingleton* para, TemplateStore* store, const WizardPara* wp)
    : m_para(para), m_store(store), m_wp(wp)
{
    for (int d = 0; d < 8; ++d) {
        if (!m_wp->detect_enable[d])
            continue;
        CreateShape(d);
        VarTrain(d);
    }
}

cv::Mat CammerRecong::plane(const cv::Mat& frame) const
{
    if (frame.channels() != 4)
        return frame;
    cv::Mat out(frame.rows, frame.cols, CV_8UC1);
    const cv::Mat src = frame.isContinuous() ? frame : frame.clone();
    if (m_wp->enable_gray_channel)
        RGBA2Gray(out.data, src.data, frame.cols, frame.rows);
    else
        RGBA2Hue(out.data, src.data, frame.cols, frame.rows);
    return out;
}

void CammerRecong::VarTrain(int d)
{
    if (!validDetection(d))
        return;
    for (int r = 0; r < kMaxRoi; ++r) {
        diff[d][r].Clear();
        sim[d][r].Clear();
        dist[d][r] = {};
    }
    const cv::Size size = m_store->size();
    cv::Mat mask = m_store->ignore(d).clone();
    if (mask.size() != size)
        mask = cv::Mat::zeros(size, CV_8UC1);
    const int count = std::clamp(m_para->roi_count[d], 0, kMaxRoi);
    for (int r = 0; r < count; ++r) {
        const RegionShape* s = m_para->shape(d, r);
        if (m_para->roi[d][r].algorithm != FuncIgnore || !s)
            continue;
        const cv::Rect rc = s->rect() & cv::Rect(cv::Point(0, 0), size);
        if (rc.empty() || !s->maskUsable())
            continue;
        mask(rc).setTo(255, s->mask()(cv::Rect(rc.tl() - s->rect().tl(), rc.size())));
    }
    cv::bitwise_not(mask, detectMask[d]);

    const cv::Mat base = m_store->used(d, 0) ? plane(m_store->slot(d, 0)) : cv::Mat();
    for (int r = 0; r < count; ++r) {
        const RoiParam& p = m_para->roi[d][r];
        if (p.algorithm != FuncDefect && p.algorithm != FuncSimilarity && p.algorithm != FuncDistance)
            continue;
        const RegionShape* s = m_para->shape(d, r);
        if (!s || !s->maskUsable())
            continue;  // judged NG with its error code
        const cv::Rect rc = s->rect() & cv::Rect(cv::Point(0, 0), size);
        if (rc.empty() || rc != s->rect())
            continue;
        cv::Mat work = s->mask() & detectMask[d](rc);

        if (p.algorithm == FuncDistance) {
            if (base.empty())
                continue;
            std::unique_ptr<RotateRectROI> rr(Rect2RotateRect(rc, p.min_size));
            _EdgePointDetParam ep;
            ep.minStrength = p.sensibility;
            ep.rect = rr.get();
            cv::Mat img = base;
            if (clcEdgePoint(img, ep)) {
                DistanceRef& ref = dist[d][r];
                if (ep.points.size() == 1) {
                    ref = {1, ep.points[0], ep.points[0], ep.points[0].x};
                } else {
                    ref = {2, ep.points.front(), ep.points.back(), DistP2P(ep.points.front(), ep.points.back())};
                }
            }
            continue;
        }
        const bool similarity = p.algorithm == FuncSimilarity;
        if (similarity)
            sim[d][r].Create(rc.width, rc.height, work);
        else
            diff[d][r].Create(rc.width, rc.height, work, kDiffMargin);
        int added = 0;
        const int usedCount = m_store->usedCount(d);
        for (int k = 0; k < m_store->slotCount() && added < usedCount; ++k) {
            if (!m_store->used(d, k))
                continue;
            const cv::Mat img = plane(m_store->slot(d, k));
            if (similarity)
                sim[d][r].AddTemp(img(rc).clone(), 1, 50, p.sensibility);
            else
                diff[d][r].AddTemp(GrownCrop(img, rc, kDiffMargin).clone());
            ++added;
        }
        if (similarity)
            sim[d][r].Train(0, 0, 0, 0);
        else
            diff[d][r].Train(p.sensibility, m_wp->difference_multiplier, 100, 150);
    }
}

bool CammerRecong::CreateShape(int d)
{
    if (!validDetection(d))
        return false;
    shape[d].Clear();
    searchRect[d] = {};
    // No picture yet (the centre-white stand-in): nothing to find, nothing to report.
    if (m_wp->enable_correct == -1 || m_wp->enable_color_camera || !m_store->used(d, 0) || m_store->baseIsSynthetic(d))
        return true;
    const cv::Size size = m_store->size();
    cv::Rect rect;
    cv::Mat mask;
    int speed = 5;
    int least = 0;
    bool anyPolarity = false;
    const int count = std::clamp(m_para->roi_count[d], 0, kMaxRoi);
    for (int r = 0; r < count; ++r) {
        const RegionShape* s = m_para->shape(d, r);
        if (m_para->roi[d][r].algorithm == FuncPosition && s && s->maskUsable() &&
            (s->rect() & cv::Rect(cv::Point(0, 0), size)) == s->rect()) {
            rect = s->rect();
            mask = s->mask();
            speed = m_para->roi[d][r].min_size;
            // Accuracy of 100 and more: the part may be darker or brighter
            // than where it was trained. Least match in percent.
            anyPolarity = m_para->roi[d][r].sensibility >= 100;
            least = m_para->roi[d][r].max_area;
            break;
        }
    }
    if (rect.empty()) {
        rect = cv::Rect(size.width / 4, size.height / 4, size.width / 2, size.height / 2);
        mask = cv::Mat();
        speed = 5;
    }
    reference[d] = cv::Point2d(rect.x + rect.width / 2, rect.y + rect.height / 2);
    const double range = (m_wp->match_angle >= 1 && m_wp->match_angle <= 180) ? m_wp->match_angle : m_wp->enable_correct;
    const cv::Mat base = plane(m_store->slot(d, 0));
    shape[d].minScore = FindShape::minScoreOf(least);
    const bool made = shape[d].CreateShape(base(rect).clone(), 0.0, anyPolarity ? 1 : 0, range,
                                           reference[d].x - rect.x, reference[d].y - rect.y, false, 255, mask, speed, 0);
    const int grow = m_wp->location_adge;
    searchRect[d] = cv::Rect(rect.x - grow, rect.y - grow, rect.width + 2 * grow, rect.height + 2 * grow) &
                    cv::Rect(cv::Point(0, 0), size);
    if (made)
        return true;
    // Correction is on but cannot work: the operator must know, or parts
    // would be judged where they happen to lie.
    const QStringList args{QString::number(m_para->camera_index + 1), QString::number(d + 1)};
    QString text = LanStr(kMessageNoPositionModel);
    for (const QString& a : args)
        text = text.arg(a);
    OperationRecord::instance().InsertRecord(text.simplified());
    if (warn)
        warn(kMessageNoPositionModel, args);
    return false;
}



bool CammerRecong::ShapeMatch(int d, const cv::Mat& frame, cv::Mat& corrected, cv::Mat* valid)
{
    if (valid)
        valid->release();
    if (!validDetection(d)) {
        corrected = frame.clone();
        return false;
    }
    lastShift[d] = {};
    lastAngle[d] = 0;
    if (m_wp->enable_correct == -1 || !shape[d].IsValid() || m_wp->enable_color_camera || searchRect[d].empty() ||
        frame.channels() != 1 || (searchRect[d] & cv::Rect(0, 0, frame.cols, frame.rows)) != searchRect[d]) {
        corrected = frame.clone();
        return false;
    }
    double x, y, angle, score;
    if (!shape[d].Find(frame(searchRect[d]), 0, x, y, angle, score)) {
        corrected = frame.clone();
        return false;
    }
    // Found in window coordinates: the shift is from the trained reference.
    const double dx = searchRect[d].x + x - reference[d].x;
    const double dy = searchRect[d].y + y - reference[d].y;
    // The picture is moved with its edge pixels repeated (no black step for
    // a check to find); what came from outside the frame is marked not valid.
    const bool turn = m_wp->match_angle >= 1 && m_wp->match_angle <= 180;
    const cv::Mat all(frame.size(), CV_8UC1, cv::Scalar(255));
    cv::Mat covered;
    if (turn) {
        TransformImage(frame, corrected, reference[d], {dx, dy}, angle, true);
        TransformImage(all, covered, reference[d], {dx, dy}, angle, false);
    } else {
        MoveImage(frame, corrected, dx, dy, true);
        MoveImage(all, covered, dx, dy, false);
    }
    if (valid) {
        // Only pixels wholly inside count: an interpolated edge pixel is half outside.
        cv::threshold(covered, *valid, 254, 255, cv::THRESH_BINARY);
    }
    lastShift[d] = {dx, dy};
    lastAngle[d] = angle;
    return true;
}
