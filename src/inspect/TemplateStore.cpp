#include "TemplateStore.h"

#include "Messages.h"
#include "OperationRecord.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QSaveFile>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <map>
#include <tuple>
#include <QtDebug>

namespace {
// Every editor operation that did something leaves its line in the operation record.
TemplateStore::Outcome recorded(TemplateStore::Outcome o)
{
    if (!o.record.isEmpty())
        OperationRecord::instance().InsertRecord(o.record);
    return o;
}
// Bits per pixel from a BMP's header; 0 when it is not a BMP. OpenCV hands a
// 32-bit BMP back with three channels, so the file itself is asked.
int bmpBitsPerPixel(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray h = f.read(30);
    if (h.size() < 30 || h[0] != 'B' || h[1] != 'M')
        return 0;
    return quint8(h[28]) | (quint8(h[29]) << 8);
}
// The centre-white stand-in of a detection without a base template, shared.
cv::Mat syntheticBase(int w, int h, bool colour)
{
    static QMutex lock;
    static std::map<std::tuple<int, int, bool>, cv::Mat> made;
    QMutexLocker l(&lock);
    cv::Mat& base = made[{w, h, colour}];
    if (base.empty()) {
        base = cv::Mat::zeros(h, w, colour ? CV_8UC4 : CV_8UC1);
        base(cv::Rect(cv::Point(w / 4, h / 4), cv::Point(3 * w / 4 + 1, 3 * h / 4 + 1))).setTo(cv::Scalar::all(255));
    }
    return base;
}
} // namespace

TemplateStore::TemplateStore(int cameraIndex, int slotCount, int width, int height, bool colour)
    : m_cam(cameraIndex), m_slots(std::max(1, slotCount)), m_w(width), m_h(height), m_colour(colour),
      m_frames(8, std::vector<cv::Mat>(size_t(std::max(1, slotCount)))), m_ignore(8), m_synthetic(8, false)
{
    // No ignore image until one is made or read: a frame-sized plane of
    // zeros per detection was most of the store's memory.
}

QString TemplateStore::dir(int d) const { return QStringLiteral("./cammer%1%2").arg(m_cam + 1).arg(d + 1); }
QString TemplateStore::templatePath(int d, int k) const { return dir(d) + QStringLiteral("/template%1.bmp").arg(k); }
QString TemplateStore::ignorePath(int d) const { return dir(d) + "/ignorepoint.bmp"; }

bool TemplateStore::used(int d, int k) const
{
    return d >= 0 && d < 8 && k >= 0 && k < m_slots && !m_frames[size_t(d)][size_t(k)].empty();
}

int TemplateStore::usedCount(int d) const
{
    int n = 0;
    for (int k = 0; k < m_slots; ++k)
        n += used(d, k) ? 1 : 0;
    return n;
}

size_t TemplateStore::heldBytes() const
{
    size_t n = 0;
    for (const auto& det : m_frames)
        for (const cv::Mat& m : det)
            n += m.total() * m.elemSize();
    return n;
}

void TemplateStore::freeSlot(int d, int k) { m_frames[size_t(d)][size_t(k)].release(); }

void TemplateStore::Load(int d)
{
    if (d < 0 || d >= 8)
        return;
    m_synthetic[size_t(d)] = false;
    const int bits = m_colour ? 32 : 8;
    for (int k = 0; k < m_slots; ++k) {
        freeSlot(d, k);
        const QString path = templatePath(d, k);
        if (!QFile::exists(path))
            continue;
        cv::Mat img = cv::imread(path.toStdString(), m_colour ? cv::IMREAD_COLOR : cv::IMREAD_UNCHANGED);
        // Only a frame of the working size and depth counts.
        if (img.empty() || img.cols != m_w || img.rows != m_h || bmpBitsPerPixel(path) != bits ||
            img.channels() != (m_colour ? 3 : 1)) {
            qWarning() << "template ignored (not a" << bits << "bit frame of the working size):" << path;
            continue;
        }
        if (m_colour)
            cv::cvtColor(img, img, cv::COLOR_BGR2BGRA);
        m_frames[size_t(d)][size_t(k)] = img;
    }
    if (!used(d, 0)) {
        // One stand-in for every detection of this size: slots are replaced, never written into.
        m_frames[size_t(d)][0] = syntheticBase(m_w, m_h, m_colour);
        m_synthetic[size_t(d)] = true;
    }
    LoadIgnorePoint(d);
}

void TemplateStore::LoadAll()
{
    for (int d = 0; d < 8; ++d)
        Load(d);
}

bool TemplateStore::LoadIgnorePoint(int d)
{
    if (d < 0 || d >= 8)
        return false;
    const cv::Mat img = QFile::exists(ignorePath(d)) ? cv::imread(ignorePath(d).toStdString(), cv::IMREAD_GRAYSCALE)
                                                     : cv::Mat();
    if (img.empty() || img.cols != m_w || img.rows != m_h) {
        m_ignore[size_t(d)].release();
        return false;
    }
    m_ignore[size_t(d)] = img;
    return true;
}

bool WriteBmp(const QString& path, const cv::Mat& img)
{
    std::vector<uchar> bytes;
    if (img.empty() || !cv::imencode(".bmp", img, bytes)) {
        qWarning() << "cannot encode" << path;
        return false;
    }
    QDir().mkpath(QFileInfo(path).path());
    // Written whole or not at all: a cut leaves the previous file.
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) ||
        f.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size())) != qint64(bytes.size()) ||
        !f.commit()) {
        qWarning() << "cannot write" << path << f.errorString();
        return false;
    }
    return true;
}

bool TemplateStore::writeImage(const QString& path, const cv::Mat& img)
{
    if (!WriteBmp(path, img))
        return false;
    if (announceSaved)
        announceSaved(QFileInfo(path).absoluteFilePath());
    return true;
}

bool TemplateStore::SaveIgnorePoint(int d) { return d >= 0 && d < 8 && writeImage(ignorePath(d), m_ignore[size_t(d)]); }

bool TemplateStore::saveSlot(int d, int k) { return writeImage(templatePath(d, k), m_frames[size_t(d)][size_t(k)]); }

TemplateStore::Outcome TemplateStore::AddTemplate(int d, const cv::Mat& frame)
{
    if (d < 0 || d >= 8)
        return {};
    Outcome o;
    if (m_slots < 2) {
        o.message = 1311;
        return o;
    }
    if (frame.cols != m_w || frame.rows != m_h || frame.channels() != (m_colour ? 4 : 1)) {
        qWarning() << "frame of the wrong size offered as a template";
        return o;
    }
    int k = -1;
    if (usedCount(d) < m_slots) {
        for (int i = 0; i < m_slots && k < 0; ++i)
            if (!used(d, i))
                k = i;
    } else {
        // All full: the oldest template file other than the base.
        QFileInfoList files = QDir(dir(d)).entryInfoList({"template*.bmp"}, QDir::Files, QDir::Time | QDir::Reversed);
        static const QRegularExpression num("^template(\\d+)\\.bmp$");
        for (const QFileInfo& fi : files) {
            const auto m = num.match(fi.fileName());
            if (!m.hasMatch() || m.captured(1) == "0")
                continue;
            const int n = m.captured(1).toInt();
            if (n >= m_slots) {  // left from a larger slot count: removed, and the search goes on
                QFile::remove(fi.absoluteFilePath());
                if (announceDeleted)
                    announceDeleted(m_cam + 1, d + 1, QStringLiteral("template%1").arg(n));
                continue;
            }
            k = n;
            break;
        }
        if (k < 0)
            k = m_slots - 1;
    }
    m_frames[size_t(d)][size_t(k)] = frame.clone();
    o.ok = saveSlot(d, k);
    o.slot = k;
    o.record = LanStr(1304).arg(m_cam + 1);
    return recorded(o);
}

TemplateStore::Outcome TemplateStore::DeleteCurrent(int d, int k)
{
    if (d < 0 || d >= 8)
        return {};
    Outcome o;
    if (k == 0) {
        o.message = 1338;
        return o;
    }
    if (!used(d, k))
        return o;
    freeSlot(d, k);
    QFile::remove(templatePath(d, k));
    if (announceDeleted)
        announceDeleted(m_cam + 1, d + 1, QStringLiteral("template%1").arg(k));
    o.ok = true;
    o.slot = k;
    o.record = LanStr(1302).arg(m_cam + 1).arg(k);
    return recorded(o);
}

TemplateStore::Outcome TemplateStore::DeleteAll()
{
    Outcome o;
    for (int d = 0; d < 8; ++d) {
        for (const QFileInfo& fi : QDir(dir(d)).entryInfoList({"template*.bmp"}, QDir::Files)) {
            if (fi.fileName() == "template0.bmp")
                continue;
            QFile::remove(fi.absoluteFilePath());
            if (announceDeleted)
                announceDeleted(m_cam + 1, d + 1, fi.completeBaseName());
        }
        for (int k = 1; k < m_slots; ++k)
            freeSlot(d, k);
    }
    o.ok = true;
    o.record = LanStr(1341);
    return recorded(o);
}

TemplateStore::Outcome TemplateStore::SaveReTrainImage(int d, const cv::Mat& frame)
{
    if (d < 0 || d >= 8)
        return {};
    Outcome o;
    if (frame.cols != m_w || frame.rows != m_h || frame.channels() != (m_colour ? 4 : 1))
        return o;
    m_frames[size_t(d)][0] = frame.clone();
    m_synthetic[size_t(d)] = false;
    o.ok = saveSlot(d, 0);
    o.slot = 0;
    o.record = LanStr(139);
    return recorded(o);
}

TemplateStore::Outcome TemplateStore::IgnoreAlarmPoints(int d, const std::vector<AlarmedRegion>& ngRegions,
                                                         const cv::Mat& alarmImage)
{
    if (d < 0 || d >= 8)
        return {};
    Outcome o;
    cv::Mat& ign = m_ignore[size_t(d)];
    if (ign.empty())
        ign = cv::Mat::zeros(m_h, m_w, CV_8UC1);
    for (const AlarmedRegion& r : ngRegions) {
        if (r.score > kIgnoreLimit) {
            o.message = 1310;
            o.args << QString::number(kIgnoreLimit);
            continue;
        }
        for (cv::Rect box : r.rects) {
            box &= cv::Rect(0, 0, m_w, m_h);
            if (box.empty() || alarmImage.size() != ign.size())
                continue;
            ign(box).setTo(255, alarmImage(box) != 0);
        }
    }
    o.ok = SaveIgnorePoint(d);
    o.record = LanStr(1303).arg(m_cam + 1);
    return recorded(o);
}

TemplateStore::Outcome TemplateStore::DeleteIgnorePoints(int d)
{
    if (d < 0 || d >= 8)
        return {};
    Outcome o;
    // No ignore points: no image, on the disk as in memory.
    m_ignore[size_t(d)].release();
    o.ok = !QFile::exists(ignorePath(d)) || QFile::remove(ignorePath(d));
    o.record = LanStr(1343).arg(m_cam + 1);
    return recorded(o);
}

QString TemplateStore::GetTempTIme(int d, int k) const
{
    const QFileInfo fi(templatePath(d, k));
    return fi.exists() ? fi.lastModified().toString("yyyy-MM-dd hh.mm.ss") : QString();
}
