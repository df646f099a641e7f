#include "CycleRig.h"

#include "../inspect/Photos.h"
#include "Counters.h"
#include "Detection.h"
#include "Globals.h"
#include "IOThread.h"
#include "ImageLib.h"
#include "ParamDb.h"
#include "Shapes.h"
#include "TemplateStore.h"

#include <QElapsedTimer>
#include <QTest>
#include <opencv2/imgproc.hpp>

void CycleRig::SetUp()
{
    ASSERT_TRUE(dir.ok());
    ASSERT_TRUE(paramdb::openAll({}));
    createGlobalLocks();
    {
        QMutexLocker lock(pMutexIO);
        gDataIn = 0;
    }
    wp.LoadDatafromFile();
    m_previousWPara = gpWPara;  // a window's own record, put back afterwards
    gpWPara = &wp;
    gisLost = 0;
    gLost = 0;
    gisLostCom = 0;
    gisOutputFault = 0;
    gSilentPolls = 0;
    gisColor = 0;
    gisSafeDoorOpen = 0;
    CameraDevice::connectionLost = false;
    for (int i = 0; i < 8; ++i) {
        gAllNum[i] = gFailNum[i] = 0;
        gCamNO[i] = i;
    }
    scene = photo("fruits.jpg")(cv::Rect(40, 60, 440, 360)).clone();
    // A station as the tests want it unless they say otherwise: standard
    // mode, both detections, no delays, no pulses, no optional rule.
    wp.machine_mode = 0;
    wp.enable_prod_detect = 1;
    wp.semi_auto = 0;
    wp.finished_product_detect = wp.cavity_detect = 0;
    wp.front_auto_check_time = 0;
    wp.pre_cut_time = 0;
    wp.mold_pulse = wp.thimble_pulse = 0;
    wp.is_cut_ontime = wp.is_cut_ontime_thimble = wp.mold_cutoff = 0;
    wp.enable_cutoff_ontime = wp.enable_stop_not_alarm = wp.enable_mold_stop_not_alarm = 0;
    wp.enable_cut_clamp_on_alarm = wp.enable_cut_thimble_on_alarm = wp.enable_prod_ok_ng_output = 0;
    wp.enable_ok_ng_pulse = wp.enable_ok_ng_pulse_mold = 0;
    wp.separate_detect_signal = 0;
    wp.enable_trigger_safety = wp.enable_disarm_before_open = 0;
    wp.input_timeout_len = 0;
    wp.shake_erase_time = 0;
    wp.use_external_trigger = wp.continuous_timed_detect = wp.ng_switch_continuous = 0;
    wp.enable_stop_mold = wp.enable_stop_thimble = 0;
    wp.enable_template_auto_update = 0;
    wp.enable_cnt_net = 0;
    wp.roi_ng_warn_count = 0;
    wp.enable_mold_backup = 0;
    wp.enable_camera_lost_alarm = 0;
    wp.enable_correct = 0;
    wp.ng_max_num = wp.ok_record_max_num = 0;
    for (int k = 0; k < 9; ++k)
        wp.out_invert[k] = 0;
}

void CycleRig::TearDown()
{
    for (cv::Mat& m : m_showing)
        m = cv::Mat();
    cycle.reset();
    cams.reset();
    in.reset();
    io.reset();
    board.reset();
    gisLost = 0;
    gisLostCom = 0;
    gisOutputFault = 0;
    gSilentPolls = 0;
    gpWPara = m_previousWPara;
    dropConnections();
}

cv::Mat CycleRig::blemishFor(int d) const
{
    cv::Mat img = scene.clone();
    // On a mid-grey surface of the photograph, well above the alarm area.
    cv::Mat spot = img(cv::Rect(d % 2 == 0 ? 50 : 270, 120, 16, 16));
    spot.convertTo(spot, -1, 1.0, -70);
    return img;
}

void CycleRig::start(int cameras)
{
    wp.pending_machine_mode = wp.machine_mode;
    ASSERT_TRUE(wp.SaveDatatoFile());
    wp.LoadDatafromFile();
    gTempNum = wp.max_mold_num;
    gPicNumNG = wp.ng_max_num;
    gPicNumOK = wp.ok_record_max_num;
    DetectionResult r;
    r.kind = kKindNone;
    r.found = cameras;
    r.width = scene.cols;
    r.height = scene.rows;
    ApplyDetection(r);
    SetImageBounds(scene.cols, scene.rows);
    const int half = scene.cols / 2;
    for (int c = 0; c < cameras; ++c) {
        CammerSingleton para(c);
        para.LoadDatafromFile();
        TemplateStore store(c, gTempNum, scene.cols, scene.rows, false);
        store.LoadAll();
        for (int d = 0; d < gDNum; ++d) {
            if (!wp.detect_enable[d])
                continue;
            const int x0 = d % 2 == 0 ? 10 : half + 10;
            for (int i = 0; i < 2; ++i)
                for (int j = 0; j < 2; ++j) {
                    const int r = para.AddRect(d, {x0 + i * 100, 20 + j * 160}, {x0 + i * 100 + 99, 20 + j * 160 + 149}, wp);
                    ASSERT_GE(r, 0);
                    para.roi[d][r] = {3, 45, 100, 0, ShapeRect, 0};  // defect detection against the templates
                }
            ASSERT_TRUE(store.SaveReTrainImage(d, scene).ok);
        }
        ASSERT_TRUE(para.SaveDatatoFile());
    }
    if (directBoard) {
        io = std::make_unique<ControlPort>(ControlPort::configFrom(wp), ControlPort::kDirect);
    } else {
        board = std::make_unique<BoardSim>();
        ASSERT_TRUE(board->ok());
        io = std::make_unique<ControlPort>(ControlPort::configFrom(wp), board->device());
    }
    in = std::make_unique<InputSampler>(io.get());
    in->setShakeEraseTime(wp.shake_erase_time);
    cams = std::make_unique<CameraManager>();
    cams->recount = [](int) { return 0; };
    cams->BuildViews(wp);
    ASSERT_EQ(numCamera, cameras);
    cycle = std::make_unique<DetectionCycle>(io.get(), in.get(), cams.get(), &wp);
    followVerdicts();
    cycle->StartDetect();
    seeAll(scene);
    tick();
}

void CycleRig::followVerdicts()
{
    QObject::connect(cycle.get(), &DetectionCycle::judged, cycle.get(),
                     [this](int c, int d, bool ok) { verdicts << std::make_tuple(c, d, ok); });
}

void CycleRig::see(int c, const cv::Mat& img)
{
    ASSERT_TRUE(img.isContinuous());
    ASSERT_TRUE(c >= 0 && c < 8);
    m_showing[c] = img;
    ASSERT_TRUE(cams->view(c)->device()->deliver(img.data, img.total(), CameraDevice::Layout::Mono8));
}

void CycleRig::silence(int c) { m_showing[c] = cv::Mat(); }

void CycleRig::seeAll(const cv::Mat& img)
{
    for (int c = 0; c < cams->viewCount(); ++c)
        see(c, img);
}

void CycleRig::tick()
{
    for (int c = 0; c < cams->viewCount() && c < 8; ++c)
        if (!m_showing[c].empty() && cams->view(c)->device())
            cams->view(c)->device()->deliver(m_showing[c].data, m_showing[c].total(), CameraDevice::Layout::Mono8);
    cycle->Run();
    cycle->runTimer().stop();
}

void CycleRig::input(int k, bool on)
{
    if (directBoard) {
        QMutexLocker lock(pMutexIO);
        const int bit = 1 << (k - 1);
        if (((gDataIn & bit) != 0) != on)
            ++(on ? gRiseCount[k - 1] : gFallCount[k - 1]);
        gDataIn = on ? (gDataIn | bit) : (gDataIn & ~bit);
        ++gInputReports;
        return;
    }
    board->send(QStringLiteral("set %1 %2").arg(k).arg(on ? 1 : 0));
    QElapsedTimer t;
    t.start();
    for (;;) {
        {
            QMutexLocker lock(pMutexIO);
            if (((gDataIn >> (k - 1)) & 1) == (on ? 1 : 0))
                return;
        }
        ASSERT_LT(t.elapsed(), 3000) << "the link never reported input " << k;
        QTest::qWait(1);
    }
}

void CycleRig::edge(int k)
{
    input(k, false);
    tick();
    input(k, true);
    tick();
    tick();
}

void CycleRig::openMould() { edge(1); }

int CycleRig::logicalOutputs() const
{
    int w = 0;
    for (int k = 0; k < 9; ++k)
        if (io->outputOn(k))
            w |= 1 << k;
    return w;
}

::testing::AssertionResult CycleRig::outputs(int want)
{
    const int got = logicalOutputs();
    if (got != want)
        return ::testing::AssertionFailure() << "cycle holds outputs 0x" << std::hex << got << ", expected 0x" << want;
    int physical;
    {
        QMutexLocker lock(pMutexIO);
        physical = gDataOut;
    }
    if (physical != io->outputWord())
        return ::testing::AssertionFailure() << "the word was not published";
    if (board && !board->waitHeld(physical))
        return ::testing::AssertionFailure() << "the board holds 0x" << std::hex << board->held() << ", expected 0x"
                                             << physical;
    return ::testing::AssertionSuccess();
}

int CycleRig::judgedCount(int d) const
{
    int n = 0;
    for (const auto& v : verdicts)
        n += std::get<1>(v) == d ? 1 : 0;
    return n;
}
