#include "Pictures.h"

#include "Messages.h"
#include "OperationRecord.h"

QImage matToImage(const cv::Mat& f)
{
    if (f.empty())
        return {};
    if (f.channels() == 1)
        return QImage(f.data, f.cols, f.rows, int(f.step), QImage::Format_Grayscale8).copy();
    if (f.channels() == 4)
        return QImage(f.data, f.cols, f.rows, int(f.step), QImage::Format_RGB32).copy();
    return QImage(f.data, f.cols, f.rows, int(f.step), QImage::Format_BGR888).copy();
}

QPainterPath regionPath(const CammerSingleton& p, int d, int r)
{
    QPainterPath path;
    switch (p.roi[d][r].roi_shape) {
    case ShapeRect: {
        const ClustomRect& q = p.rects[d][r];
        path.addRect(QRectF(QPointF(q.p1.x, q.p1.y), QPointF(q.p2.x, q.p2.y)).normalized());
        break;
    }
    case ShapeCircle: {
        const Circle& c = p.circles[d][r];
        path.addEllipse(QPointF(c.centre.x, c.centre.y), c.outer, c.outer);
        if (c.inner > 0)
            path.addEllipse(QPointF(c.centre.x, c.centre.y), c.inner, c.inner);
        break;
    }
    case ShapePolygon: {
        const auto& pts = p.polys[d][r].points;
        if (pts.size() < 3)
            break;
        QPolygonF poly;
        for (const cv::Point& pt : pts)
            poly << QPointF(pt.x, pt.y);
        poly << poly.first();
        path.addPolygon(poly);
        break;
    }
    default:
        break;
    }
    return path;
}

void reportOutcome(const TemplateStore::Outcome& o, const std::function<void(const QString&)>& warn)
{
    if (!o.record.isEmpty())
        OperationRecord::instance().InsertRecord(o.record);
    if (!o.message || !warn)
        return;
    QString text = LanStr(o.message);
    for (const QString& a : o.args)
        text = text.arg(a);
    warn(text);
}
