#include "ImageArchive.h"

#include "RegionPath.h"

#include "Globals.h"
#include "ImageLib.h"
#include "Messages.h"
#include "WizardPara.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QSaveFile>
#include <QtDebug>
#include <opencv2/imgproc.hpp>
#include <algorithm>

QImage gpFailImage[8][8][2];
unsigned char gisSaveFail[8][8][2] = {};
int gFailIndex[8][8] = {};
std::atomic<quint64> gArchiveReplaced{0};
NgRing gNgRing[8][8];
SaveFialImageThread* gpSaveFialImageThread = nullptr;

void NgRing::add(const cv::Mat& frame)
{
    frame.copyTo(frames[n % 3]);
    ++n;
}

cv::Mat NgRing::recent(int i) const
{
    if (i < 0 || i > 2 || quint32(i) >= n)
        return {};
    return frames[(n - 1 - quint32(i)) % 3];
}

QString ArchiveFolder(int camera, int d, bool ng)
{
    return QDir::current().absoluteFilePath(
        QStringLiteral("alarmimage/camera%1/detect%2/%3").arg(camera + 1).arg(d + 1).arg(ng ? "NG" : "OK"));
}

namespace {
bool valid(int camera, int d) { return camera >= 0 && camera < 8 && d >= 0 && d < 8; }

QString limitText(const RoiParam& p, const WizardPara& wp)
{
    switch (p.algorithm) {
    case FuncDefect: return QString::number(wp.enable_display_detail ? p.max_area : wp.minimum_area);
    case FuncSimilarity: return QString::number(p.sensibility);
    case FuncSpot: return QStringLiteral("%1--%2").arg(p.sensibility).arg(p.max_area);
    default: return QString::number(p.max_area);
    }
}

int captionY() { return gShowW > 0 && gShowW <= 1024 ? 70 : 80; }
} // namespace

bool SaveFailImage(int camera, int d, int slot, const cv::Mat& frame, const CammerSingleton& para,
                   const CammerRecong& engine, const WizardPara& wp, bool doorTrigger)
{
    if (!valid(camera, d) || slot < 0 || slot > 1 || frame.empty())
        return false;
    cv::Mat bgra;
    if (frame.channels() == 1)
        cv::cvtColor(frame, bgra, cv::COLOR_GRAY2BGRA);
    else if (frame.channels() == 4)
        bgra = frame.clone();
    else
        cv::cvtColor(frame, bgra, cv::COLOR_BGR2BGRA);
    QImage img(bgra.data, bgra.cols, bgra.rows, int(bgra.step), QImage::Format_RGB32);
    img = img.copy();

    QPainter p(&img);
    QFont big("WenQuanYi Micro Hei");
    big.setPixelSize(26);
    p.setFont(big);
    const int y = captionY();
    p.setPen(slot == 0 ? QColor(255, 0, 0) : QColor(0, 200, 0));
    p.drawText(5, y, slot == 0 ? "NG" : "OK");
    if (doorTrigger)
        p.drawText(5, y + 30, LanStr(1158));
    QFont small = big;
    small.setPixelSize(16);
    p.setFont(small);
    const int count = std::clamp(para.roi_count[d], 0, kMaxRoi);
    int firstNg = 0;
    for (int r = 0; r < count; ++r) {
        const RegionShape* s = para.shape(d, r);
        if (!s)
            continue;
        const bool ok = engine.regionVerdict[d][r] != 0;
        const QColor colour = ok ? QColor(0, 200, 0) : QColor(255, 0, 0);
        p.setPen(QPen(colour, 2));
        p.setBrush(Qt::NoBrush);
        p.drawPath(regionPath(para, d, r));
        for (const AlarmRect& a : engine.alarms[d][r])
            p.drawRect(a[0], a[1], a[2] - a[0], a[3] - a[1]);
        const QString line = count <= 10 ? QStringLiteral("%1: %2 / %3 ")
                                               .arg(r + 1)
                                               .arg(engine.score[d][r])
                                               .arg(limitText(para.roi[d][r], wp))
                                         : QStringLiteral("%1: %2").arg(r + 1).arg(engine.score[d][r]);
        const cv::Rect rc = s->rect();
        p.drawText(rc.x + 2, std::max(16, rc.y - 4), line);
        if (!ok && !firstNg)
            firstNg = r + 1;
    }
    p.end();
    QMutexLocker lock(pMutexSaveFail);
    // The writer had not taken the previous picture yet: it is lost; said so.
    if (gisSaveFail[camera][d][slot]) {
        ++gArchiveReplaced;
        qWarning() << "picture archive: a picture of camera" << camera + 1 << "detection" << d + 1
                   << "was replaced before it was written";
    }
    gpFailImage[camera][d][slot] = img;
    if (firstNg && gFailIndex[camera][d] == 0)
        gFailIndex[camera][d] = firstNg;
    return true;
}

int UpdateFailImage(int camera, int d, int slot, int state)
{
    if (!valid(camera, d) || slot < 0 || slot > 1)
        return state;
    QString caption, method;
    int next = state;
    switch (state) {
    case SaveState::NgDontDetect: caption = LanStr(1186); method = LanStr(1314); next = SaveState::SaveNg; break;
    case SaveState::NgAddedAsTemplate: caption = LanStr(1186); method = LanStr(1312); next = SaveState::SaveNg; break;
    case SaveState::NgSwitchedToMould: caption = LanStr(1186); method = LanStr(1316); next = SaveState::SaveNg; break;
    case SaveState::NgRedetecting: caption = LanStr(1186); method = LanStr(1317); next = SaveState::NgRedetectedOk; break;
    case SaveState::NgRedetectedOk: caption = LanStr(1315); next = SaveState::SaveBoth; break;
    default: return state;
    }
    QImage img;
    {
        QMutexLocker lock(pMutexSaveFail);
        img = gpFailImage[camera][d][slot].copy();
    }
    if (img.isNull())
        return next;
    QPainter p(&img);
    QFont f("WenQuanYi Micro Hei");
    f.setPixelSize(26);
    p.setFont(f);
    p.setPen(QColor(255, 0, 0));
    p.drawText(55, captionY(), caption + method);
    p.end();
    QMutexLocker lock(pMutexSaveFail);
    gpFailImage[camera][d][slot] = img;
    return next;
}

void MarkForSaving(int camera, int d, bool ng, bool ok)
{
    if (!valid(camera, d))
        return;
    QMutexLocker lock(pMutexSaveFail);
    if (ng)
        gisSaveFail[camera][d][0] = 1;
    if (ok)
        gisSaveFail[camera][d][1] = 1;
}

// --- the writer ---------------------------------------------------------------------
namespace {
quint64 leadingNumber(const QString& name)
{
    bool ok = false;
    const quint64 n = name.section('_', 0, 0).toULongLong(&ok);
    return ok ? n : 0;
}
} // namespace

quint64 SaveFialImageThread::Renumber(int cameras)
{
    quint64 highest = 100000;
    for (int c = 0; c < std::clamp(cameras, 0, 8); ++c)
        for (int d = 0; d < 8; ++d)
            for (bool ng : {true, false})
                for (const QString& f : QDir(ArchiveFolder(c, d, ng)).entryList({"*.jpg"}, QDir::Files))
                    highest = std::max(highest, leadingNumber(f));
    return highest + 100;
}

SaveFialImageThread::SaveFialImageThread(int cameras, int ngLimit, int okLimit, QObject* parent)
    : QThread(parent), m_cameras(cameras), m_ngLimit(ngLimit), m_okLimit(okLimit), m_number(Renumber(cameras))
{
    if (!gpSaveFialImageThread)
        gpSaveFialImageThread = this;
}

SaveFialImageThread::~SaveFialImageThread()
{
    stop();
    if (gpSaveFialImageThread == this)
        gpSaveFialImageThread = nullptr;
}

void SaveFialImageThread::stop()
{
    m_stop = true;
    wait();
}

bool SaveFialImageThread::writeOne(const QImage& img, const QString& folder, int limit)
{
    if (img.isNull() || limit <= 0)
        return false;
    QDir dir(folder);
    if (!dir.exists() && !QDir().mkpath(folder)) {
        qWarning() << "picture archive: cannot create" << folder;
        ++failures;
        return false;
    }
    QStringList names = dir.entryList({"*.jpg"}, QDir::Files);
    std::sort(names.begin(), names.end(),
              [](const QString& a, const QString& b) { return leadingNumber(a) > leadingNumber(b); });
    // limit - 1 stay, the new one makes limit.
    for (int i = limit - 1; i < names.size(); ++i)
        QFile::remove(dir.filePath(names[i]));
    const quint64 number = m_number++;
    const QString path =
        dir.filePath(QStringLiteral("%1_%2.jpg").arg(number).arg(QDateTime::currentDateTime().toString("yyyy-MM-dd_hh.mm.ss.zzz")));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || !img.save(&file, "JPG") || !file.commit()) {
        qWarning() << "picture archive: cannot write" << path << file.errorString();
        ++failures;
        return false;
    }
    lastWriter = QThread::currentThreadId();
    ++writes;
    if (written)
        written(path);
    return true;
}

void SaveFialImageThread::writePending()
{
    for (int c = 0; c < 8 && !m_stop; ++c)
        for (int d = 0; d < 8 && !m_stop; ++d) {
            bool ng, ok;
            {
                QMutexLocker lock(pMutexSaveFail);
                ng = gisSaveFail[c][d][0];
                ok = gisSaveFail[c][d][1];
            }
            if (!ng && !ok)
                continue;
            for (int slot = 0; slot < 2; ++slot) {
                if (!(slot == 0 ? ng : ok))
                    continue;
                QImage img;
                {
                    QMutexLocker lock(pMutexSaveFail);
                    img = gpFailImage[c][d][slot];
                    gisSaveFail[c][d][slot] = 0;
                }
                // An OK picture waiting beside an NG one goes with it into the NG folder.
                const bool toNg = slot == 0 || ng;
                writeOne(img, ArchiveFolder(c, d, toNg), toNg ? m_ngLimit : m_okLimit);
                if (pauseMs > 0)
                    QThread::msleep(unsigned(slot == 0 && ng && ok ? 5 * pauseMs : pauseMs));
            }
            if (ng) {
                QMutexLocker lock(pMutexSaveFail);
                gFailIndex[c][d] = 0;
            }
        }
}

void SaveFialImageThread::run()
{
    while (!m_stop) {
        writePending();
        for (int i = 0; i < 10 && !m_stop; ++i)
            QThread::msleep(10);
    }
}
