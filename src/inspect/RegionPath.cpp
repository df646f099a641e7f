#include "RegionPath.h"

#include <QPolygonF>

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
