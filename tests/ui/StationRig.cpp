#include "StationRig.h"

#include "../inspect/Photos.h"
#include "CameraSet.h"
#include "CammerSingleton.h"
#include "ControlPort.h"
#include "DetectionCycle.h"
#include "Globals.h"
#include "IOThread.h"
#include "ImageLib.h"
#include "ParamDb.h"
#include "Shapes.h"
#include "Station.h"
#include "TemplateStore.h"
#include "WizardPara.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

void trainMouldDetection(const WizardPara& wp, const cv::Mat& scene)
{
    SetImageBounds(scene.cols, scene.rows);
    CammerSingleton para(0);
    para.LoadDatafromFile();
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j) {
            const int x = 230 + i * 100, y = 20 + j * 160;
            const int r = para.AddRect(1, {x, y}, {x + 99, y + 149}, wp);
            ASSERT_GE(r, 0);
            para.roi[1][r] = {3, 45, 100, 0, ShapeRect, 0};
        }
    ASSERT_TRUE(para.SaveDatatoFile());
    TemplateStore store(0, wp.max_mold_num, scene.cols, scene.rows, false);
    store.LoadAll();
    ASSERT_TRUE(store.SaveReTrainImage(1, scene).ok);
}

void StationRig::SetUp()
{
    ASSERT_TRUE(dir.ok());
    gRebootPending = false;
    gDatabaseFault = false;
    gPasswordLevel = 0;
    scene = photo("fruits.jpg")(cv::Rect(40, 60, 440, 360)).clone();
    if (scene.channels() == 3)
        cv::cvtColor(scene, scene, cv::COLOR_BGR2GRAY);
}

void StationRig::TearDown()
{
    station.reset();
    board.reset();
    qunsetenv("STATION_IO_PORT");
    qunsetenv("STATION_CAMERA");
    qunsetenv("STATION_ANSWER");
    gPasswordLevel = 0;
    dropConnections();
}

cv::Mat StationRig::blemish() const
{
    cv::Mat img = scene.clone();
    // On a mid-grey surface of the photograph, inside the second region.
    cv::Mat spot = img(cv::Rect(270, 120, 16, 16));
    spot.convertTo(spot, -1, 1.0, -70);
    return img;
}

void StationRig::start()
{
    ASSERT_TRUE(paramdb::openAll({}));
    WizardPara wp;
    wp.LoadDatafromFile();
    wp.enable_prod_detect = 0;  // the mould alone, judged as it opens
    wp.cavity_detect = 0;
    wp.front_auto_check_time = 0;
    wp.shake_erase_time = 0;
    wp.input_timeout_len = 0;
    wp.enable_trigger_safety = 0;
    wp.enable_correct = 0;
    wp.enable_cnt_net = 0;
    wp.roi_ng_warn_count = 0;
    if (configure)
        configure(wp);
    ASSERT_TRUE(wp.SaveDatatoFile());
    wp.LoadDatafromFile();
    trainMouldDetection(wp, scene);
    if (HasFatalFailure())
        return;
    dropConnections();
    QFile::remove("guide.done");
    writeText("guide.done", "seen");  // the operator of these tests knows the station
    QDir().mkpath("replay");
    ASSERT_TRUE(cv::imwrite(dir.file("replay/camera1.png").toStdString(), scene));

    board = std::make_unique<BoardSim>();
    ASSERT_TRUE(board->ok());
    qputenv("STATION_IO_PORT", board->device().toUtf8());
    qputenv("STATION_CAMERA", ("replay:" + dir.file("replay")).toUtf8());
    // Nobody at the panel while it starts; the tests' operator answers from then on.
    qputenv("STATION_ANSWER", "no");
    station = buildStation();
    ASSERT_TRUE(station);
    // A kept alarm comes back stopped in the alarm; anything else detects.
    ASSERT_TRUE(station->isDetecting() || cycle()->resultState() == DetectionCycle::Alarm) << state();
    QObject::connect(cycle(), &DetectionCycle::judged, station.get(),
                     [this](int c, int d, bool ok) { verdicts << std::make_tuple(c, d, ok); });
    ASSERT_TRUE(show(scene)) << "the replayed camera never delivered the scene";
}

bool StationRig::show(const cv::Mat& img)
{
    if (!cv::imwrite(dir.file("replay/next.png").toStdString(), img))
        return false;
    QFile::remove(dir.file("replay/camera1.png"));
    if (!QFile::rename(dir.file("replay/next.png"), dir.file("replay/camera1.png")))
        return false;
    CammerView* v = station->cameras()->view(0);
    return QTest::qWaitFor([&] {
        const cv::Mat f = v->frame();
        return !f.empty() && f.size() == img.size() && cv::norm(f, img, cv::NORM_INF) == 0;
    }, 15000);
}

bool StationRig::openMould()
{
    // Closed first and seen closed by the cycle's tick, then opened: one edge,
    // one judgement (a dip the tick never sees is a bounce, not an opening).
    board->send("set 1 0");
    if (!QTest::qWaitFor([&] { return station->io()->IOState(0, 0) == 0; }, 5000))
        return false;
    const qsizetype before = verdicts.size();
    board->send("set 1 1");
    return QTest::qWaitFor([&] { return verdicts.size() > before; }, 15000);
}

std::string StationRig::state() const
{
    int in = 0;
    {
        QMutexLocker lock(pMutexIO);
        in = gDataIn;
    }
    const QStringList records = recordRemarks();
    return QStringLiteral("run state %1, result state %2, detection %3, inputs 0x%4, %5 verdicts; last records: %6")
        .arg(cycle()->runState())
        .arg(cycle()->resultState())
        .arg(cycle()->curDetect())
        .arg(in, 0, 16)
        .arg(verdicts.size())
        .arg(records.mid(std::max<qsizetype>(0, records.size() - 6)).join(" | "))
        .toStdString();
}
