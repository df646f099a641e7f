#include "SimCamera.h"

#include "ImageLib.h"
#include "VideoFile.h"
#include "WizardPara.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QtDebug>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace {
// Name order with numbers compared as numbers: frame2 before frame10.
bool naturalLess(const QString& a, const QString& b)
{
    int i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            int ei = i, ej = j;
            while (ei < a.size() && a[ei].isDigit())
                ++ei;
            while (ej < b.size() && b[ej].isDigit())
                ++ej;
            const qulonglong na = a.mid(i, ei - i).toULongLong(), nb = b.mid(j, ej - j).toULongLong();
            if (na != nb)
                return na < nb;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j])
                return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}
} // namespace

const QStringList& SimCamera::pictureFilters()
{
    static const QStringList f{"*.png", "*.bmp", "*.jpg", "*.jpeg", "*.tif", "*.tiff", "*.pgm"};
    return f;
}

bool SimCamera::isPicture(const QString& path)
{
    return QDir::match(pictureFilters(), QFileInfo(path).fileName());
}

QString SimCamera::replaySource()
{
    const QString v = qEnvironmentVariable("STATION_CAMERA");
    return v.startsWith("replay:") ? v.mid(7) : QString();
}

SimCamera::SimCamera(int index, const QString& source) : CameraDevice(index, 0), m_source(source) {}
SimCamera::~SimCamera()
{
    if (m_thread) {
        m_thread->runFlag = false;
        m_thread->wait();
    }
}

bool SimCamera::openKind()
{
    m_files.clear();
    m_video.reset();
    m_scene = false;
    m_sceneStamp.clear();
    m_next = 0;
    speedKind(CameraParams().capture_speed);
    m_openLight = light(CameraParams());
    m_gainPercent = 100;
    if (m_source.isEmpty())
        return true;
    const QFileInfo fi(m_source);
    if (fi.isDir()) {
        QDir dir(m_source);
        m_files = dir.entryList(pictureFilters(), QDir::Files);
        std::sort(m_files.begin(), m_files.end(), naturalLess);
        for (QString& f : m_files)
            f = dir.filePath(f);
        if (m_files.isEmpty())
            qWarning() << "replay folder holds no pictures:" << m_source;
        return true;
    }
    if (fi.isFile() && isPicture(m_source)) {
        m_scene = true;
        return true;
    }
    if (fi.isFile()) {
        m_video = std::make_unique<VideoFile>();
        if (!m_video->open(m_source)) {
            qWarning() << "replay video cannot be opened:" << m_source;
            m_video.reset();
        }
        return true;
    }
    qWarning() << "replay source not found:" << m_source;
    return true;
}

void SimCamera::closeKind() { m_video.reset(); }

// Exposure times gain: what the simulated sensor collects, in the parameters' units.
int SimCamera::light(const WizardPara& p) const
{
    return std::max(1, p.expose_time[m_index]) * std::max(1, p.adjust_plus[m_index]);
}

// Brighter or darker than at open, so a page shows the edit; unchanged settings keep the picture as it is.
void SimCamera::exposeKind(const WizardPara& p) { m_gainPercent = int(std::min<qint64>(1000, qint64(light(p)) * 100 / m_openLight)); }
void SimCamera::gainKind(const WizardPara& p) { exposeKind(p); }

void SimCamera::speedKind(int speed) { m_periodMs = 1000 / fps(speed); }

bool SimCamera::nextFrame(std::vector<unsigned char>& out)
{
    cv::Mat img;
    if (m_scene) {
        // The scene before the camera: read again only when it was replaced.
        const QFileInfo fi(m_source);
        const QString stamp = QStringLiteral("%1/%2").arg(fi.lastModified().toMSecsSinceEpoch()).arg(fi.size());
        if (stamp != m_sceneStamp || m_sceneFrame.empty()) {
            const cv::Mat read = cv::imread(m_source.toStdString(), gisColor ? cv::IMREAD_COLOR : cv::IMREAD_GRAYSCALE);
            if (read.empty()) {
                // No picture is no picture: the last one is never sent again as new.
                if (!m_sceneFrame.empty() || m_sceneStamp != QLatin1String("unreadable"))
                    qWarning() << "replay picture unreadable; the camera delivers nothing:" << m_source;
                m_sceneFrame.release();
                m_sceneStamp = QStringLiteral("unreadable");
            } else {
                m_sceneFrame = read;
                m_sceneStamp = stamp;
            }
        }
        img = m_sceneFrame;
    } else if (m_video) {
        img = m_video->next(true);
    } else if (!m_files.isEmpty()) {
        for (int tries = 0; tries < m_files.size() && img.empty(); ++tries) {
            const QString f = m_files[m_next];
            m_next = (m_next + 1) % int(m_files.size());
            img = cv::imread(f.toStdString(), gisColor ? cv::IMREAD_COLOR : cv::IMREAD_GRAYSCALE);
            if (img.empty())
                qWarning() << "replay picture unreadable:" << f;
        }
    }
    if (img.empty())
        return false;
    if (img.cols != gImageW || img.rows != gImageH)
        cv::resize(img, img, cv::Size(gImageW, gImageH), 0, 0, cv::INTER_AREA);
    if (!gisColor && img.channels() != 1)
        cv::cvtColor(img, img, cv::COLOR_BGR2GRAY);
    if (const int gain = m_gainPercent; gain != 100) {
        cv::Mat scaled;  // a new picture: img may be the cached scene
        img.convertTo(scaled, -1, gain / 100.0);
        img = scaled;
    }
    const cv::Mat cont = img.isContinuous() ? img : img.clone();
    out.assign(cont.data, cont.data + cont.total() * cont.elemSize());
    return true;
}

bool SimCamera::threadPass()
{
    if (m_source.isEmpty())
        return true;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (m_lastMs && now - m_lastMs < m_periodMs)
        return true;
    m_lastMs = now;
    std::vector<unsigned char> frame;
    if (nextFrame(frame))
        deliver(frame.data(), frame.size(), frame.size() == size_t(gImageLen) ? Layout::Mono8 : Layout::Rgb24);
    ++m_tries;
    return true;
}
