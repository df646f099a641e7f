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
