// Shared-memory video: one System V block and semaphore per camera (or one
// for the screen), each picture written as I420 under the semaphore.
#include "CNT_Net.h"

#include <QFile>
#include <QPainter>
#include <cerrno>
#include <cjson/cJSON.h>
#include <ctime>
#include "NetLog.h"
#include <opencv2/imgproc.hpp>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/shm.h>

#include "WizardPara.h"


namespace {
// Owner only: the pictures of the mould are nobody else's business.
constexpr int kMode = 0600;

int keyFor(const QString& path, int n) { return int(ftok(QFile::encodeName(path).constData(), n)); }

int semOp(int id, short delta, short flags, int waitMs)
{
    sembuf op{0, delta, flags};
    if (waitMs < 0)
        return semop(id, &op, 1);
    timespec t{waitMs / 1000, long(waitMs % 1000) * 1000000L};
    return semtimedop(id, &op, 1, &t);
}

const int kRates[] = {5, 10, 15, 20, 25};
} // namespace

bool CNT_Semaphore::create_sem(int n)
{
    if (m_key == -1)
        return false;
    // A set left by an earlier run goes: its holder is gone.
    const int stale = semget(m_key, 0, 0);
    if (stale >= 0)
        semctl(stale, 0, IPC_RMID);
    m_id = semget(m_key, n, IPC_CREAT | IPC_EXCL | kMode);
    if (m_id < 0) {
        m_id = -1;
        return false;
    }
    semctl(m_id, 0, SETVAL, 1);
    return true;
}

bool CNT_Semaphore::get_sem()
{
    m_id = m_key == -1 ? -1 : semget(m_key, 0, 0);
    return m_id >= 0;
}

bool CNT_Semaphore::P_sem(int waitMs) { return m_id != -1 && semOp(m_id, -1, 0, waitMs) == 0; }

void CNT_Semaphore::V_sem()
{
    if (m_id != -1)
        semOp(m_id, 1, 0, -1);
}

void CNT_Semaphore::retInitPV()
{
    if (m_id != -1)
        semctl(m_id, 0, SETVAL, 1);
}

void CNT_Semaphore::remove()
{
    if (m_id != -1)
        semctl(m_id, 0, IPC_RMID);
    m_id = -1;
}

void CNT_Net::CNT_AddUseMemory(int camera, int width, int height, bool withSource)
{
    if (camera < 0 || camera > 7 || width <= 0 || height <= 0)
        return;
    if (m_blocks.contains(camera)) {
        ShareBlock& old = m_blocks[camera];
        if (old.address)
            shmdt(old.address);
        if (old.shmId >= 0)
            shmctl(old.shmId, IPC_RMID, nullptr);
        old.sem.remove();
    }
    ShareBlock b;
    b.camera = camera;
    b.width = width;
    b.height = height;
    b.size = width * height * 3 / 2;
    const int key = keyFor(m_opt.ipcPath, QString("100%1").arg(camera).toInt());
    if (key != -1) {
        const int stale = shmget(key, 0, 0);
        if (stale >= 0)
            shmctl(stale, IPC_RMID, nullptr);
        b.shmId = shmget(key, size_t(b.size), IPC_CREAT | IPC_EXCL | kMode);
    }
    if (b.shmId >= 0) {
        void* a = shmat(b.shmId, nullptr, 0);
        b.address = a == reinterpret_cast<void*>(-1) ? nullptr : static_cast<unsigned char*>(a);
    } else {
        b.shmId = -1;
        NETLOG << "CNT: shared memory for camera " << camera << " not created: " << strerror(errno);
    }
    b.sem = CNT_Semaphore(keyFor(m_opt.ipcPath, QString("200%1").arg(camera).toInt()));
    if (!b.sem.create_sem(1))
        NETLOG << "CNT: semaphore for camera " << camera << " not created: " << strerror(errno);
    b.semId = b.sem.id();
    const int r = gpWPara ? gpWPara->cnt_video_rate : 3;
    b.rate = r >= 0 && r <= 4 ? kRates[r] : 0;
    Q_UNUSED(withSource);

    cJSON* o = cJSON_CreateObject();
    cJSON_AddNumberToObject(o, "shmid", b.shmId);
    cJSON_AddNumberToObject(o, "semid", b.semId);
    cJSON_AddNumberToObject(o, "cameraid", camera);
    cJSON_AddNumberToObject(o, "size", b.size);
    cJSON_AddNumberToObject(o, "width", width);
    cJSON_AddNumberToObject(o, "height", height);
    cJSON_AddNumberToObject(o, "fps", b.rate);
    char* t = cJSON_PrintUnformatted(o);
    m_memInfo.append(QByteArray(t));
    cJSON_free(t);
    cJSON_Delete(o);
    m_blocks.insert(camera, b);
    m_memReady = true;
}

QByteArray CNT_Net::memoryInfo() const
{
    cJSON* root = cJSON_CreateObject();
    cJSON* arr = cJSON_AddArrayToObject(root, "memoryinfo");
    for (const QByteArray& e : m_memInfo)
        cJSON_AddItemToArray(arr, cJSON_ParseWithLength(e.constData(), size_t(e.size())));
    char* t = cJSON_Print(root);
    const QByteArray out(t);
    cJSON_free(t);
    cJSON_Delete(root);
    return out;
}

void CNT_Net::CNT_SendMemoryInfo()
{
    if (!m_memReady || m_memSent)
        return;
    queue(9, memoryInfo());
    m_memSent = true;
    NETLOG << "send shared memory info";
}

void CNT_Net::stampTime(cv::Mat& pic) const
{
    if (pic.rows <= 100)
        return;
    const bool grey = pic.type() == CV_8UC1;
    QImage img(pic.data, pic.cols, pic.rows, int(pic.step), grey ? QImage::Format_Grayscale8 : QImage::Format_ARGB32);
    QPainter p(&img);
    p.setPen(QColor(0, 255, 0));
    QFont f("wqy-microhei");
    f.setPixelSize(50);
    p.setFont(f);
    p.drawText(QRect(0, pic.rows - 100, pic.cols, 100), Qt::AlignRight | Qt::AlignVCenter,
               now().toString("yyyy-MM-dd hh:mm:ss "));
}

bool CNT_Net::CNT_UpdateMemory(int camera, const cv::Mat& picture)
{
    if (!m_connected || !m_memSent || !m_blocks.contains(camera))
        return false;
    ShareBlock& b = m_blocks[camera];
    if (b.shmId == -1 || b.semId == -1 || !b.address || picture.empty())
        return false;
    if (picture.cols != b.width || picture.rows != b.height || (b.width | b.height) & 1)
        return false;
    cv::Mat i420;
    if (picture.type() == CV_8UC1) {
        // Grey needs no conversion: the picture is the Y plane, colour neutral.
        i420.create(b.height * 3 / 2, b.width, CV_8UC1);
        picture.copyTo(i420.rowRange(0, b.height));
        i420.rowRange(b.height, i420.rows).setTo(128);
    } else if (picture.type() == CV_8UC4) {
        cv::cvtColor(picture, i420, cv::COLOR_BGRA2YUV_I420);
    } else {
        return false;
    }
    // A client that holds the semaphore too long costs this picture, never the GUI thread.
    if (!b.sem.P_sem(20))
        return false;
    memcpy(b.address, i420.data, size_t(b.size));
    b.sem.V_sem();
    return true;
}

void CNT_Net::refreshVideo()
{
    if (!gpWPara || gpWPara->cnt_video_source == 0 || !linkOn() || !m_connected)
        return;
    if (QByteArray(gpWPara->cnt_use_name) == "null")
        return;
    if (gpWPara->cnt_video_source == 1) {
        if (!sources.screen)
            return;
        QImage shot = sources.screen().convertToFormat(QImage::Format_ARGB32);
        cv::Mat m(shot.height(), shot.width(), CV_8UC4, shot.bits(), size_t(shot.bytesPerLine()));
        CNT_UpdateMemory(0, m);
        return;
    }
    if (!sources.frame)
        return;
    for (auto it = m_blocks.begin(); it != m_blocks.end(); ++it) {
        cv::Mat pic = sources.frame(it.key()).clone();
        if (pic.empty())
            continue;
        stampTime(pic);
        CNT_UpdateMemory(it.key(), pic);
    }
}

void CNT_Net::CNT_FreeShareMemory()
{
    for (ShareBlock& b : m_blocks) {
        if (b.address)
            shmdt(b.address);
        if (b.shmId >= 0)
            shmctl(b.shmId, IPC_RMID, nullptr);
        b.sem.remove();
        b.address = nullptr;
        b.shmId = b.semId = -1;
    }
    m_blocks.clear();
}
