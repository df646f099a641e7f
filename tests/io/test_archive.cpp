#include "CycleRig.h"

#include "Globals.h"
#include "ImageArchive.h"
#include "Messages.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QTest>
#include <QThread>
#include <cstring>

namespace {
QStringList pictures(int camera, int d, bool ng)
{
    QStringList names = QDir(ArchiveFolder(camera, d, ng)).entryList({"*"}, QDir::Files, QDir::Name);
    return names;
}

void touchPicture(const QString& folder, const QString& name)
{
    QDir().mkpath(folder);
    QImage img(8, 8, QImage::Format_RGB32);
    img.fill(Qt::gray);
    ASSERT_TRUE(img.save(folder + "/" + name, "JPG"));
}

// Pixels clearly red in the caption band right of the "NG" mark.
int redInCaptionBand(const QImage& img)
{
    int n = 0;
    for (int y = 55; y < 88 && y < img.height(); ++y)
        for (int x = 60; x < 420 && x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            n += c.red() > 150 && c.green() < 90 && c.blue() < 90 ? 1 : 0;
        }
    return n;
}

void pend(int camera, int d, int slot, bool ng, bool ok)
{
    QImage img(64, 48, QImage::Format_RGB32);
    img.fill(slot == 0 ? Qt::darkRed : Qt::darkGreen);
    {
        QMutexLocker lock(pMutexSaveFail);
        gpFailImage[camera][d][slot] = img;
    }
    MarkForSaving(camera, d, ng, ok);
}

struct Archive : ::testing::Test {
    TestDir dir{TestDir::Empty};
    void SetUp() override
    {
        createGlobalLocks();
        QMutexLocker lock(pMutexSaveFail);
        std::memset(gisSaveFail, 0, sizeof gisSaveFail);
        std::memset(gFailIndex, 0, sizeof gFailIndex);
    }
};
} // namespace

TEST_F(Archive, AFullFolderKeepsLimitMinusOneAndGainsTheNewPicture)
{
    const QString ng = ArchiveFolder(0, 1, true);
    for (int i = 1; i <= 5; ++i)
        touchPicture(ng, QStringLiteral("10000%1_2026-01-01_00.00.00.000.jpg").arg(i));
    touchPicture(ng, "camera_extra.jpg");  // no leading number: sorts as 0, goes first
    SaveFialImageThread writer(1, 5, 5);
    writer.pauseMs = 0;
    pend(0, 1, 0, true, false);
    writer.writePending();
    const QStringList left = pictures(0, 1, true);
    ASSERT_EQ(left.size(), 5) << left.join(' ').toStdString();
    EXPECT_FALSE(left.contains("camera_extra.jpg"));
    EXPECT_FALSE(left.contains("100001_2026-01-01_00.00.00.000.jpg"));
    EXPECT_TRUE(left.contains("100005_2026-01-01_00.00.00.000.jpg"));
    // The running number went on from the highest stored one.
    EXPECT_EQ(left.filter(QStringLiteral("%1_").arg(100105)).size(), 1);
    EXPECT_EQ(writer.nextNumber(), 100106u);
}

TEST_F(Archive, NumberingResumesAboveEveryStoredPictureAfterARestart)
{
    EXPECT_EQ(SaveFialImageThread::Renumber(2), 100100u);  // an empty archive
    touchPicture(ArchiveFolder(1, 7, false), "100250_2026-01-01_00.00.00.000.jpg");
    touchPicture(ArchiveFolder(0, 0, true), "99_x.jpg");
    touchPicture(ArchiveFolder(0, 0, true), "notanumber_x.jpg");
    EXPECT_EQ(SaveFialImageThread::Renumber(2), 100350u);
    EXPECT_EQ(SaveFialImageThread::Renumber(1), 100100u);  // camera 2's folders are not counted for one camera
    SaveFialImageThread writer(2, 3, 3);
    writer.pauseMs = 0;
    pend(1, 7, 1, false, true);
    writer.writePending();
    EXPECT_EQ(pictures(1, 7, false).filter("100350_").size(), 1);
}

TEST_F(Archive, AnOkPictureWaitingBesideAnNgOneGoesToTheNgFolder)
{
    SaveFialImageThread writer(1, 4, 4);
    writer.pauseMs = 0;
    pend(0, 2, 0, true, true);
    pend(0, 2, 1, true, true);
    {
        QMutexLocker lock(pMutexSaveFail);
        gFailIndex[0][2] = 3;
    }
    writer.writePending();
    EXPECT_EQ(pictures(0, 2, true).size(), 2);
    EXPECT_TRUE(pictures(0, 2, false).isEmpty());
    QMutexLocker lock(pMutexSaveFail);
    EXPECT_EQ(gFailIndex[0][2], 0);  // cleared once the NG picture is written
    EXPECT_EQ(gisSaveFail[0][2][0] + gisSaveFail[0][2][1], 0);
}

TEST_F(Archive, TheWriterThreadWritesWholeJpegFilesAndNothingOnTheCallersThread)
{
    SaveFialImageThread writer(1, 4, 4);
    writer.pauseMs = 0;
    QStringList written;
    QMutex m;
    writer.written = [&](const QString& p) {
        QMutexLocker lock(&m);
        written << p;
    };
    writer.start();
    pend(0, 0, 0, true, false);
    QElapsedTimer t;
    t.start();
    while (writer.writes == 0 && t.elapsed() < 5000)
        QTest::qWait(5);
    writer.stop();
    ASSERT_EQ(writer.writes.load(), 1u);
    EXPECT_NE(writer.lastWriter.load(), QThread::currentThreadId());
    ASSERT_EQ(written.size(), 1);
    EXPECT_TRUE(QFileInfo(written.first()).isAbsolute());
    const QImage back(written.first());
    EXPECT_EQ(back.size(), QSize(64, 48));
    // Only the picture: no temporary file of the atomic write is left behind.
    EXPECT_EQ(pictures(0, 0, true).size(), 1);
}

TEST_F(Archive, AFolderThatCannotBeCreatedIsCountedNotFatal)
{
    // "alarmimage" is a file: no folder can be made under it.
    QFile f("alarmimage");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    SaveFialImageThread writer(1, 4, 4);
    writer.pauseMs = 0;
    pend(0, 0, 0, true, false);
    writer.writePending();
    EXPECT_EQ(writer.writes.load(), 0u);
    EXPECT_EQ(writer.failures.load(), 1u);
    QMutexLocker lock(pMutexSaveFail);
    EXPECT_EQ(gisSaveFail[0][0][0], 0);  // taken, not retried for ever
}

TEST(ArchiveCaption, EachAlarmClearingStateHasItsCaptionAndNextState)
{
    createGlobalLocks();
    const int next[11] = {0, 1, 2, 3, 9, 9, 9, 8, 10, 9, 10};
    for (int st = 0; st <= 10; ++st) {
        QImage img(480, 120, QImage::Format_RGB32);
        img.fill(Qt::black);
        {
            QMutexLocker lock(pMutexSaveFail);
            gpFailImage[3][4][0] = img;
        }
        EXPECT_EQ(UpdateFailImage(3, 4, 0, st), next[st]) << "state " << st;
        QImage after;
        {
            QMutexLocker lock(pMutexSaveFail);
            after = gpFailImage[3][4][0];
        }
        EXPECT_EQ(redInCaptionBand(after) > 50, st >= 4 && st <= 8) << "state " << st;
    }
}

namespace {
struct CycleArchive : CycleRig {
    void SetUp() override
    {
        CycleRig::SetUp();
        wp.ng_max_num = 10;
        wp.ok_record_max_num = 10;
        for (auto& row : gNgRing)
            for (NgRing& r : row)
                r = NgRing();
        QMutexLocker lock(pMutexSaveFail);
        std::memset(gisSaveFail, 0, sizeof gisSaveFail);
        std::memset(gFailIndex, 0, sizeof gFailIndex);
    }
    QImage only(int d, bool ng)
    {
        const QStringList p = pictures(0, d, ng);
        return p.size() == 1 ? QImage(ArchiveFolder(0, d, ng) + "/" + p.first()) : QImage();
    }
};
} // namespace

TEST_F(CycleArchive, AnAlarmPictureIsWrittenOnlyOnceClearedWithHowItWasCleared)
{
    start();
    SaveFialImageThread writer(1, gPicNumNG, gPicNumOK);
    writer.pauseMs = 0;
    seeAll(blemishFor(1));
    openMould();
    ASSERT_EQ(cycle->resultState(), DetectionCycle::Alarm);
    EXPECT_EQ(cycle->saveState(0, 1), 3);
    {
        QMutexLocker lock(pMutexSaveFail);
        EXPECT_EQ(gFailIndex[0][1], 1);  // region 1 is NG
    }
    writer.writePending();
    EXPECT_TRUE(pictures(0, 1, true).isEmpty());  // held while the alarm lasts

    EXPECT_EQ(cycle->AlarmDontDetect(), 0);
    EXPECT_NE(cycle->resultState(), DetectionCycle::Alarm);
    EXPECT_TRUE(recordRemarks().contains("All cameras do not detect this mold"));
    writer.writePending();
    const QImage ng = only(1, true);
    ASSERT_FALSE(ng.isNull());
    EXPECT_GT(redInCaptionBand(ng), 50);  // "Alarm clear method:Don't Detect"
    // The product's OK picture of that cycle went to its OK folder.
    EXPECT_EQ(pictures(0, 0, false).size(), 1);
}

TEST_F(CycleArchive, ARedetectionKeepsTheNgPictureAndItsOkPictureTogether)
{
    start();
    SaveFialImageThread writer(1, gPicNumNG, gPicNumOK);
    writer.pauseMs = 0;
    seeAll(blemishFor(1));
    openMould();
    ASSERT_EQ(cycle->resultState(), DetectionCycle::Alarm);
    seeAll(scene);
    edge(2);
    ASSERT_NE(cycle->resultState(), DetectionCycle::Alarm);
    writer.writePending();
    EXPECT_EQ(pictures(0, 1, true).size(), 2);  // the NG picture and the OK one of the re-detection
    EXPECT_TRUE(pictures(0, 1, false).isEmpty());
}

TEST_F(CycleArchive, APictureReplacedBeforeItWasWrittenIsCounted)
{
    start();
    const quint64 before = gArchiveReplaced;
    openMould();  // OK pictures of both detections wait for the writer
    openMould();  // and are replaced by the next cycle's
    EXPECT_EQ(gArchiveReplaced - before, 2u);
    SaveFialImageThread writer(1, gPicNumNG, gPicNumOK);
    writer.pauseMs = 0;
    writer.writePending();
    openMould();
    EXPECT_EQ(gArchiveReplaced - before, 2u);  // taken in time: nothing lost
}

TEST_F(CycleArchive, LimitsOfZeroRenderNothing)
{
    wp.ng_max_num = 0;
    wp.ok_record_max_num = 0;
    start();
    SaveFialImageThread writer(1, gPicNumNG, gPicNumOK);
    writer.pauseMs = 0;
    seeAll(blemishFor(1));
    openMould();
    EXPECT_EQ(cycle->saveState(0, 1), 0);
    EXPECT_EQ(cycle->saveState(0, 0), 0);
    cycle->AlarmDontDetect();
    writer.writePending();
    EXPECT_EQ(writer.writes.load(), 0u);
}

TEST_F(CycleArchive, TheLastThreeNgFramesAreKeptForTheEditor)
{
    wp.front_auto_check_time = 0;
    start();
    for (int i = 0; i < 4; ++i) {
        cv::Mat b = blemishFor(1);
        b.at<uchar>(0, 0) = uchar(i);
        seeAll(b);
        openMould();
        ASSERT_EQ(cycle->resultState(), DetectionCycle::Alarm);
        cycle->AlarmDontDetect();
    }
    EXPECT_EQ(gNgRing[0][1].n, 4u);
    EXPECT_EQ(gNgRing[0][1].recent(0).at<uchar>(0, 0), 3);
    EXPECT_EQ(gNgRing[0][1].recent(2).at<uchar>(0, 0), 1);
}
