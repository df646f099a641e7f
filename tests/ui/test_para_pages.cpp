// The parameter pages of the settings dialog on the edit copy: a field of
// each page changed through the keypads, confirmed, and found again after a
// restart with one record line each; cancelling leaves everything as it
// was; fields shown by mode and level; the restart notes; the mode put in
// force or left for the next start; the live picture following the camera
// edit; the camera order; the client's server settings; the factory reset.
#include "Access.h"
#include "CameraDevice.h"
#include "CameraSet.h"
#include "CammerRecong.h"
#include "ControlPort.h"
#include "Counters.h"
#include "IOThread.h"
#include "Detection.h"
#include "DetectionCycle.h"
#include "DiVeZoruzo.h"
#include "Station.h"
#include "Globals.h"
#include "Keypads.h"
#include "Messages.h"
#include "ParaFields.h"
#include "ParaPages.h"
#include "ParamDb.h"
#include "ServerConf.h"
#include "TestDir.h"
#include "Touch.h"
#include "WindowEnv.h"
#include "WizardPara.h"
#include "WizardParaWidget.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStackedWidget>
#include <QTest>
#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

namespace {

struct Pages : ::testing::Test {
    TestDir dir;
    std::unique_ptr<DiVeZoruzo> win;
    // The operator at the panel: every question yes, every warning confirmed.
    std::unique_ptr<touch::PanelOperator> op;
    static QString shown(const QString& m) { return touch::PanelOperator::shown(m); }
    static QString last(const QStringList& l) { return l.isEmpty() ? QString() : l.last(); }
    // Restarts go through the host: dry-run reboots in its journal.
    static qsizetype reboots() { return hostActions().count("reboot"); }

    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        prepareUnattendedWindow(dir);
        // A grey scene before the replayed cameras, so the live picture has something to show.
        QDir().mkpath(dir.file("replay"));
        cv::Mat scene(480, 640, CV_8UC1, cv::Scalar(60));
        cv::circle(scene, {320, 240}, 80, cv::Scalar(120), cv::FILLED);
        cv::imwrite(dir.file("replay/scene.png").toStdString(), scene);
        qputenv("STATION_CAMERA", ("replay:" + dir.file("replay/scene.png")).toUtf8());
        makeWindow();
    }
    void makeWindow()
    {
        op.reset();
        win = buildStation();
        gLan = 1;
        // The station's own keypads.
        ASSERT_NE(gpNumPad, nullptr);
        ASSERT_NE(gpNumCharPad, nullptr);
        op = std::make_unique<touch::PanelOperator>();
    }
    void TearDown() override
    {
        op.reset();
        win.reset();
        EXPECT_EQ(gpNumPad, nullptr);  // the window took its keypads with it
        qunsetenv("STATION_CAMERA");
        qunsetenv("STATION_ANSWER");
    }
    WizardParaWidget* settings() { return win->settingsPage(); }
    ParaPage* page(parafields::Page p) { return settings()->page(p); }

    // Through a keypad, as a tap on the field and the entry typed key by key.
    void enter(parafields::Page p, const char* field, QDialog* pad, const QStringList& keys)
    {
        auto* b = qobject_cast<QPushButton*>(page(p)->editor(field));
        ASSERT_TRUE(b) << field;
        EXPECT_TRUE(touch::typeOn(pad, keys, [b] { b->click(); })) << field << ": no keypad opened";
    }
    void typeNumber(parafields::Page p, const char* field, const QString& keys) { enter(p, field, gpNumPad, touch::numberKeys(keys)); }
    void typeText(parafields::Page p, const char* field, const QString& text) { enter(p, field, gpNumCharPad, touch::textKeys(text)); }
    void pick(parafields::Page p, const char* field, int index)
    {
        auto* c = qobject_cast<QComboBox*>(page(p)->editor(field));
        ASSERT_TRUE(c) << field;
        // A tap opens the list, a tap on the row chooses it.
        c->showPopup();
        QAbstractItemView* list = c->view();
        ASSERT_TRUE(QTest::qWaitFor([list] { return list->isVisible(); }, 5000)) << field << ": no list";
        const QModelIndex row = list->model()->index(index, c->modelColumn());
        list->scrollTo(row);
        const QPoint at = list->visualRect(row).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        ASSERT_TRUE(QTest::qWaitFor([list] { return !list->isVisible(); }, 5000)) << field << ": the list stayed open";
        ASSERT_EQ(c->currentIndex(), index) << field;
    }
    void tick(parafields::Page p, const char* field)
    {
        auto* c = qobject_cast<QCheckBox*>(page(p)->editor(field));
        ASSERT_TRUE(c) << field;
        c->click();
    }
    QStringList changeLines() const
    {
        QStringList l;
        for (const QString& r : recordRemarks())
            if (r.startsWith(LanStr(1849)))
                l << r;
        return l;
    }
    static double meanOf(const QImage& img)
    {
        if (img.isNull())
            return -1;
        const QImage g = img.convertToFormat(QImage::Format_Grayscale8);
        double sum = 0;
        for (int y = 0; y < g.height(); ++y)
            for (int x = 0; x < g.width(); ++x)
                sum += g.constScanLine(y)[x];
        return sum / (g.width() * g.height());
    }
};

} // namespace

TEST(ParaFieldTable, EveryFieldHasALabelAndAChangeOfAnyOneIsOneRecordLine)
{
    LoadLanStr();
    gLan = 1;
    QSet<QString> names;
    WizardPara base;
    for (const parafields::Field& f : parafields::all()) {
        EXPECT_FALSE(names.contains(f.name)) << "two fields named " << f.name.toStdString();
        names.insert(f.name);
        EXPECT_FALSE(parafields::label(f).isEmpty()) << f.name.toStdString();
        EXPECT_FALSE(parafields::label(f).contains("%1")) << f.name.toStdString();
        EXPECT_EQ(parafields::find(f.name), &f);
        // One field changed: exactly one line, naming it, and the copy carries it.
        WizardPara changed = base;
        switch (f.kind) {
        case parafields::Kind::Text:
            SetParaText(f.text(changed), "x");
            break;
        case parafields::Kind::Address:
            f.octets[2](changed) += 1;
            break;
        default:
            f.ref(changed) += 1;
        }
        const QList<parafields::Change> c = parafields::changes(base, changed);
        ASSERT_EQ(c.size(), 1) << f.name.toStdString() << " shares its value with another field";
        EXPECT_EQ(c[0].field, &f);
        if (!f.masked)
            EXPECT_TRUE(c[0].line.contains(f.camera >= 0 ? QString::number(f.camera + 1) : parafields::label(f)))
                << c[0].line.toStdString();
        WizardPara copy = base;
        parafields::copyFields(copy, changed);
        EXPECT_TRUE(parafields::changes(copy, changed).isEmpty()) << f.name.toStdString();
    }
    // The password is never written into the record.
    WizardPara withPassword = base;
    SetParaText(withPassword.password, "secret7");
    const auto c = parafields::changes(base, withPassword);
    ASSERT_EQ(c.size(), 1);
    EXPECT_FALSE(c[0].line.contains("secret7"));
}

TEST_F(Pages, AFieldOfEachPageThroughTheKeypadsIsRecordedOnceAndLoadedBackAfterARestart)
{
    using namespace parafields;
    WizardParaWidget* s = settings();
    const int pulse = gpWPara->mold_pulse;
    const int gain = gpWPara->adjust_plus[0];
    s->open(2);
    typeNumber(Common, "mold_pulse", QString::number(pulse + 7));
    typeNumber(Camera, "adjust_plus0", QString::number(gain == 40 ? 41 : 40));
    typeText(Network, "cnt_pro_name", "Housing-A");
    typeText(Network, "local_addr", "10.0.0.7");
    pick(Io, "out_invert1", 1 - gpWPara->out_invert[1]);
    typeNumber(Advanced, "min_spot", "5");
    // Nothing reaches the live record before the confirmation.
    EXPECT_EQ(gpWPara->mold_pulse, pulse);
    EXPECT_EQ(gpWParaBak->mold_pulse, pulse + 7);
    EXPECT_TRUE(changeLines().isEmpty());

    ASSERT_TRUE(s->SlotOK()) << op->warned.join("; ").toStdString();
    const QStringList lines = changeLines();
    EXPECT_EQ(lines.size(), 6) << lines.join("\n").toStdString();
    EXPECT_TRUE(lines.contains(QString("Parameters changed, Clamp pulse is changed from %1 to %2").arg(pulse).arg(pulse + 7)))
        << lines.join("\n").toStdString();
    EXPECT_TRUE(lines.filter("Camera 1 Gain").size() == 1);
    EXPECT_TRUE(lines.filter("IP address is changed from").size() == 1);
    EXPECT_TRUE(lines.filter("to Housing-A").size() == 1);

    // A restart reads them back from the file.
    win.reset();
    makeWindow();
    EXPECT_EQ(gpWPara->mold_pulse, pulse + 7);
    EXPECT_EQ(gpWPara->adjust_plus[0], gain == 40 ? 41 : 40);
    EXPECT_EQ(ParaText(gpWPara->cnt_pro_name), "Housing-A");
    EXPECT_EQ(gpWPara->local_addr_1, 10);
    EXPECT_EQ(gpWPara->local_addr_4, 7);
    EXPECT_EQ(gpWPara->min_spot, 5);
}

TEST_F(Pages, ConfirmedIoWiringReachesTheBoardAtOnceWithClampingProhibited)
{
    using namespace parafields;
    WizardParaWidget* s = settings();
    ControlPort* io = win->io();
    ASSERT_NE(io, nullptr);
    ASSERT_EQ(io->config().outInvert[0], 0);
    s->open(2);
    pick(Io, "out_invert0", 1);  // output 1 wired the other way round
    EXPECT_EQ(io->config().outInvert[0], 0);  // not before the confirmation
    ASSERT_TRUE(s->SlotOK()) << op->warned.join("; ").toStdString();
    EXPECT_EQ(io->config().outInvert[0], 1);
    // Prohibited, in the new polarity: a physical 0 on the published word.
    EXPECT_EQ(io->outputOn(0), 1);
    QMutexLocker lock(pMutexIO);
    EXPECT_EQ(gDataOut & 1, 0);
    EXPECT_TRUE(recordRemarks().contains(LanStr(1721)));
}

// In the OK/NG pulse mode with the mould's OK on output 1, a set output 1 is
// the OK line: the prohibition at a confirmed wiring change is the NG line.
TEST_F(Pages, ConfirmedIoWiringInPulseModeRaisesTheNgLineNotTheOkLine)
{
    using namespace parafields;
    gpWPara->enable_ok_ng_pulse = 1;
    gpWPara->enable_ok_ng_pulse_mold = 1;
    WizardParaWidget* s = settings();
    ControlPort* io = win->io();
    ASSERT_NE(io, nullptr);
    s->open(2);
    pick(Io, "out_invert3", 1 - gpWPara->out_invert[3]);
    ASSERT_TRUE(s->SlotOK()) << op->warned.join("; ").toStdString();
    ASSERT_TRUE(recordRemarks().contains(LanStr(1721)));
    EXPECT_EQ(io->outputOn(0), 0) << "the OK line was raised by a wiring change";
    EXPECT_EQ(io->outputOn(1), 1);
}

TEST_F(Pages, CancelLeavesTheLiveRecordTheFileAndTheRecordUntouched)
{
    using namespace parafields;
    WizardParaWidget* s = settings();
    WizardPara before = *gpWPara;
    s->open(2);
    EXPECT_NE(gpWParaBak, gpWPara);
    typeNumber(Common, "thimble_pulse", "99");
    tick(Io, "mold_cutoff");
    typeText(Network, "cnt_operator", "Mia");
    pick(Common, "machine_mode", 2);
    EXPECT_EQ(gpWPara->thimble_pulse, before.thimble_pulse) << "the edit copy is a copy";
    s->SlotCancel();
    EXPECT_TRUE(changes(before, *gpWPara).isEmpty());
    EXPECT_EQ(gpWPara->machine_mode, before.machine_mode);
    EXPECT_TRUE(changeLines().isEmpty());
    WizardPara stored;
    stored.LoadDatafromFile();
    EXPECT_EQ(stored.thimble_pulse, before.thimble_pulse);
    EXPECT_EQ(ParaText(stored.cnt_operator), ParaText(before.cnt_operator));
    // Opening again shows the live values, not the cancelled edit.
    s->open(2);
    EXPECT_EQ(qobject_cast<QPushButton*>(page(Common)->editor("thimble_pulse"))->text(), QString::number(before.thimble_pulse));
}

TEST_F(Pages, FieldsAreShownWhereTheirModeAndLevelApply)
{
    using namespace parafields;
    WizardParaWidget* s = settings();
    gpWPara->machine_mode = gpWPara->pending_machine_mode = 0;
    gpWPara->enable_display_detail = 0;
    s->open(1);
    EXPECT_TRUE(page(Advanced)->shownFields().isEmpty()) << "the advanced page needs the advanced level";
    EXPECT_FALSE(page(Io)->shownFields().contains("serial_port"));
    EXPECT_FALSE(page(Common)->shownFields().contains("mold_side"));
    EXPECT_FALSE(page(Common)->shownFields().contains("input_timeout_len"));
    EXPECT_TRUE(page(Common)->shownFields().contains("semi_auto"));
    s->showPage(Advanced);
    s->open(2);
    EXPECT_TRUE(page(Advanced)->shownFields().contains("min_spot"));
    pick(Common, "machine_mode", 1);  // Two-color: the side, no semi-auto
    EXPECT_TRUE(page(Common)->shownFields().contains("mold_side"));
    EXPECT_FALSE(page(Common)->shownFields().contains("semi_auto"));
    pick(Common, "machine_mode", 4);  // the table of mode 4, as many detections as set
    typeNumber(Io, "multi_detect_num", "3");
    const QStringList io = page(Io)->shownFields();
    EXPECT_TRUE(io.contains("multi_detect_row2"));
    EXPECT_FALSE(io.contains("multi_detect_row3"));
    EXPECT_TRUE(io.contains("out_invert8"));
    EXPECT_FALSE(io.contains("enable_mold_backup"));
    tick(Advanced, "enable_display_detail");
    EXPECT_TRUE(page(Common)->shownFields().contains("input_timeout_len"));
    // The camera page shows the chosen camera's fields only.
    const QStringList cam = page(Camera)->shownFields();
    EXPECT_TRUE(cam.contains("expose_time0"));
    EXPECT_FALSE(cam.contains("expose_time1"));
    s->SlotCancel();
}

TEST_F(Pages, RestartNotesFollowTheirFieldsAndTheModeIsPutInForceOrLeftForTheNextStart)
{
    using namespace parafields;
    WizardParaWidget* s = settings();
    gpWPara->machine_mode = gpWPara->pending_machine_mode = 0;
    gpWPara->factory_param = 1;
    s->open(2);
    typeNumber(Common, "max_mold_num", QString::number(gpWPara->max_mold_num == 12 ? 13 : 12));
    tick(Camera, "enable_color_camera");
    pick(Common, "machine_mode", 1);
    ASSERT_TRUE(s->SlotOK());
    EXPECT_TRUE(op->warned.contains(shown(LanStr(1015))));
    EXPECT_TRUE(op->warned.contains(shown(LanStr(1016))));
    EXPECT_EQ(gpWPara->machine_mode, 1) << "Two-color at once";
    EXPECT_EQ(gDNum, 4);

    // Into mode 4: saved, in force at the next start.
    op->warned.clear();
    s->open(2);
    pick(Common, "machine_mode", 4);
    ASSERT_TRUE(s->SlotOK());
    EXPECT_TRUE(op->warned.isEmpty()) << op->warned.join("; ").toStdString();
    EXPECT_EQ(gpWPara->machine_mode, 1);
    WizardPara stored;
    stored.LoadDatafromFile();
    EXPECT_EQ(stored.machine_mode, 4);
}

TEST_F(Pages, InModeFourAConfirmedTableRetrainsTheDetectionsThroughTheStationsHook)
{
    using namespace parafields;
    ASSERT_TRUE(bool(WizardPara::retrainHook)) << "installed by the station";
    gpWPara->machine_mode = gpWPara->pending_machine_mode = 4;
    gpWPara->multi_detect_num = 2;
    gpWPara->enable_prod_detect = 1;
    for (int j = 0; j < 8; ++j)
        gpWPara->multi_detect_row[j] = j < 2 ? j : -1;
    gpWPara->DeriveDetections();
    // Detection 3 has no trained model yet.
    CammerView* view = win->cameras()->view(0);
    ASSERT_TRUE(view && view->recong);
    view->recong->detectMask[2].release();
    WizardParaWidget* s = settings();
    s->open(2);
    typeNumber(Io, "multi_detect_num", "3");
    pick(Io, "multi_detect_row2", 3);  // detection 3 on row 3
    ASSERT_TRUE(s->SlotOK());
    EXPECT_EQ(gDNum, 3);
    EXPECT_EQ(win->cycle()->curDetect(), 2) << "the cycle starts over with the new detections";
    EXPECT_FALSE(view->recong->detectMask[2].empty()) << "the new detection is trained";
    EXPECT_EQ(gpWPara->detect_enable[2], 1);
}

TEST_F(Pages, TheAdvancedPageAsksForTheServicePasswordAtTheSystemLevel)
{
    gpWPara->is_psw_used = 1;
    SetParaText(gpWPara->password, "1234");
    WizardParaWidget* s = settings();
    s->open(1);
    auto* tab = s->findChild<QPushButton*>("tabAdvanced");
    ASSERT_TRUE(tab);
    op.reset();
    touch::PanelOperator hand;  // no password: the box is cancelled
    tab->click();
    EXPECT_EQ(hand.passwordsAsked, 1);
    EXPECT_EQ(s->status(), LanStr(1899));
    EXPECT_NE(s->findChild<QStackedWidget*>()->currentWidget(), page(parafields::Advanced));
    hand.password = [] { return passwords::servicePassword(true, QDateTime::currentDateTime()); };
    tab->click();
    EXPECT_EQ(hand.passwordsAsked, 2);
    EXPECT_EQ(s->findChild<QStackedWidget*>()->currentWidget(), page(parafields::Advanced));
    EXPECT_EQ(gPasswordLevel, 2);
    s->SlotCancel();
}

TEST_F(Pages, TheLivePictureFollowsTheCameraEditAndGoesBackOnCancel)
{
    using namespace parafields;
    WizardParaWidget* s = settings();
    gpWPara->adjust_plus[0] = 20;
    gpWPara->expose_time[0] = 30;
    if (gCameraDevices[0])
        gCameraDevices[0]->SetAdjustPlus();
    s->open(2);
    s->showFullScreen();
    s->showPage(Camera);
    CameraParaPage* cam = s->cameraPage();
    CammerView* view = win->cameras()->view(0);
    ASSERT_TRUE(view);
    // The live picture once the camera delivered pictures taken after the last change.
    const auto settled = [&] {
        const quint64 mark = CameraDevice::frameSequence();
        if (!QTest::qWaitFor([&] { return view->frameSeq > mark + 1; }, 10000))
            return -1.0;
        const double target = cv::mean(view->frame())[0];
        if (!QTest::qWaitFor([&] { return std::abs(meanOf(cam->liveImage()) - target) < 1.5; }, 10000))
            return -2.0;
        return meanOf(cam->liveImage());
    };
    const double before = settled();
    ASSERT_GT(before, 0) << "a picture is shown";
    typeNumber(Camera, "adjust_plus0", "40");
    const double brighter = settled();
    EXPECT_GT(brighter, before * 1.5) << before << " -> " << brighter;
    s->SlotCancel();
    EXPECT_EQ(gpWPara->adjust_plus[0], 20);
    s->open(2);
    s->showFullScreen();
    const double back = settled();
    EXPECT_NEAR(back, before, 2) << before << " -> " << back;
}

TEST_F(Pages, TheCameraDefaultsGoIntoTheEditCopyOnlyAndTheOrderRefusesARepeatedIndex)
{
    WizardParaWidget* s = settings();
    s->open(2);
    EXPECT_TRUE(s->cameraPage()->SlotRestoreDefaultSettings());
    EXPECT_EQ(last(op->asked), shown(LanStr(1022)));
    EXPECT_TRUE(last(op->warned).startsWith("Camera 1 defaults restored"));
    s->SlotCancel();

    // The camera page's own order dialog, over the station's two cameras.
    s->open(2);
    ASSERT_GE(numCamera, 2);
    s->cameraPage()->showCameraOrder();
    WidgetChangeCamera* order = s->cameraPage()->findChild<WidgetChangeCamera*>();
    ASSERT_TRUE(order && order->isVisible());
    ASSERT_GE(order->choices().size(), 2);
    order->choices()[0]->setCurrentIndex(1);
    order->choices()[1]->setCurrentIndex(1);
    EXPECT_FALSE(order->SlotOK());
    EXPECT_EQ(order->status(), "2 repeating, please revise!");
    EXPECT_EQ(reboots(), 0);
    order->choices()[0]->setCurrentIndex(1);
    order->choices()[1]->setCurrentIndex(0);
    EXPECT_TRUE(order->SlotOK());
    EXPECT_EQ(reboots(), 1);
    EXPECT_EQ(gCamNO[0], 1);
    EXPECT_EQ(gCamNO[1], 0);
}

TEST_F(Pages, TheClientsServerSettingsAreReadAndWrittenAndAMissingDatabaseIsSaid)
{
    WizardParaWidget* s = settings();
    NetworkParaPage* net = s->networkPage();
    EXPECT_FALSE(net->loadServer()) << "no client database yet";
    // A tap on a field says why nothing can be changed.
    net->findChild<QPushButton*>(serverconf::rowName(0))->click();
    ASSERT_FALSE(op->warned.isEmpty());
    EXPECT_TRUE(last(op->warned).startsWith(shown(LanStr(1867)).section('%', 0, 0))) << last(op->warned).toStdString();

    QDir().mkpath("cnt_net");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "sysconf-test");
        db.setDatabaseName(serverconf::path());
        ASSERT_TRUE(db.open());
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec("create table info_sysconf (信息名称 text, 值 text)"));
        for (int i = 0; i < serverconf::kRows; ++i) {
            q.prepare("insert into info_sysconf values(?, ?)");
            q.addBindValue(QString(serverconf::rowName(i)));
            q.addBindValue(i < 2 ? "192.168.9.1" : "9000");
            ASSERT_TRUE(q.exec());
        }
        db.close();
    }
    QSqlDatabase::removeDatabase("sysconf-test");
    s->open(2);
    EXPECT_TRUE(net->loadServer());
    // A hostile value is a value: written as it is, nothing else touched.
    ASSERT_TRUE(net->setServer(1, "10.1.1.1'; drop table info_sysconf; --"));
    EXPECT_TRUE(net->serverChanged());
    QString values[serverconf::kRows];
    ASSERT_TRUE(serverconf::read(values, nullptr));
    EXPECT_EQ(values[0], "192.168.9.1");
    EXPECT_EQ(values[1], "10.1.1.1'; drop table info_sysconf; --");
    EXPECT_EQ(values[3], "9000");
    EXPECT_TRUE(recordRemarks().filter("Server address (files)").size() == 1);

    EXPECT_TRUE(net->SlotResetStatistics());
    EXPECT_EQ(last(op->asked), shown(LanStr(1871)));
    EXPECT_TRUE(recordRemarks().contains(LanStr(1870)));
    net->showProducts({"Cap 12", "Lid 7"});
    emit net->products()->itemClicked(net->products()->item(1));
    EXPECT_EQ(ParaText(gpWParaBak->cnt_pro_name), "Lid 7");
    EXPECT_EQ(ParaText(gpWPara->cnt_pro_name), QString()) << "until confirmed";
    s->SlotCancel();
}

TEST_F(Pages, EveryListOpensWithRowsAFingertipHits)
{
    using namespace parafields;
    WizardParaWidget* s = settings();
    s->open(2);
    int lists = 0;
    for (QComboBox* c : {qobject_cast<QComboBox*>(page(Common)->editor("machine_mode")),
                         qobject_cast<QComboBox*>(page(Io)->editor("out_invert0"))}) {
        ASSERT_TRUE(c);
        c->showPopup();
        ASSERT_TRUE(QTest::qWaitFor([c] { return c->view()->isVisible(); }, 5000));
        EXPECT_GE(c->view()->visualRect(c->model()->index(1, c->modelColumn())).height(), 48)
            << c->objectName().toStdString();
        c->hidePopup();
        ++lists;
    }
    EXPECT_GT(lists, 0) << "no list on the page";
    s->SlotCancel();
}

TEST_F(Pages, AFactoryResetBringsTheFactorySetUpBackAndKeepsRecordsCountersAndTheOldSetUp)
{
    const QString package = "paraGroup/default/20clearsh.tar.gz";
    ASSERT_TRUE(QFile::exists(package)) << "a new working directory holds its factory package";
    WizardParaWidget* s = settings();
    // Without the package there is nothing to restore: refused, no restart.
    ASSERT_TRUE(QFile::rename(package, package + ".away"));
    EXPECT_FALSE(s->SlotRestoreFactorySet());
    EXPECT_EQ(last(op->asked), "restore factory set?");
    EXPECT_TRUE(last(op->warned).startsWith("The factory package is missing"));
    EXPECT_EQ(reboots(), 0);
    EXPECT_FALSE(QFile::exists("newupdate.tar.gz"));
    ASSERT_TRUE(QFile::rename(package + ".away", package));

    // A configured station: a changed value, a region with its template, counts, a group, a record line.
    const int factoryPulse = gpWPara->mold_pulse;
    gpWPara->mold_pulse = factoryPulse + 7;
    ASSERT_TRUE(gpWPara->SaveDatatoFile());
    CammerView* v = win->cameras()->view(0);
    ASSERT_TRUE(v);
    ASSERT_GE(v->para.AddRect(1, {10, 10}, {60, 60}, *gpWPara), 0);
    ASSERT_TRUE(v->para.SaveDatatoFile());
    QDir().mkpath("cammer11");
    writeText("cammer11/template0.png", "the operator's template");
    gAllNum[0] = 123;
    gFailNum[0] = 4;
    const qsizetype recordsBefore = recordRemarks().size();

    EXPECT_TRUE(s->SlotRestoreFactorySet());
    EXPECT_EQ(reboots(), 1);
    ASSERT_TRUE(QFile::exists("newupdate.tar.gz"));

    // The restart: the station goes, the installer runs before the next start, as the service does.
    op.reset();
    win.reset();
    paramdb::closeAll();
    QProcess install;
    install.start(STATION_UPDATE, {"before-start", "--workdir", dir.path(), "--attempts", "2"});
    ASSERT_TRUE(install.waitForFinished(60000));
    const QString said = QString::fromUtf8(install.readAllStandardOutput() + install.readAllStandardError());
    ASSERT_EQ(install.exitCode(), 0) << said.toStdString();
    EXPECT_TRUE(said.contains("factory settings restored")) << said.toStdString();
    EXPECT_FALSE(QFile::exists("update.pending")) << "the program was not changed: nothing to roll back";
    EXPECT_FALSE(QFileInfo::exists("program")) << "the package is no program";
    makeWindow();

    // Factory values, no regions, and the station waits for the operator before it judges.
    EXPECT_EQ(gpWPara->mold_pulse, factoryPulse);
    for (int c = 0; c < 2; ++c) {
        CammerView* w = win->cameras()->view(c);
        ASSERT_TRUE(w) << "camera " << c;
        for (int d = 0; d < 8; ++d)
            EXPECT_EQ(w->para.roi_count[d], 0) << "camera " << c << " detection " << d;
    }
    EXPECT_FALSE(QFileInfo::exists("cammer11/template0.png"));
    EXPECT_FALSE(win->isDetecting());
    // Records and counters stay, and the set-up before the reset is a group to go back to.
    EXPECT_GE(recordRemarks().size(), recordsBefore);
    EXPECT_EQ(gAllNum[0], 123u);
    EXPECT_EQ(gFailNum[0], 4u);
    const QStringList kept = QDir("paraGroup").entryList({"before-factory-*"}, QDir::Dirs);
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(readText("paraGroup/" + kept[0] + "/cammer11/template0.png"), "the operator's template");
    EXPECT_TRUE(QFile::exists("paraGroup/" + kept[0] + "/PARAM.db"));
    EXPECT_TRUE(QFile::exists(package)) << "the factory group keeps its package for the next reset";
    EXPECT_TRUE(QFile::exists("newupdate.tar.gz.installed"));
}

TEST_F(Pages, ABackupTakesTheOpenDialogsValuesAndNeverAnEditCopyThatWasNotOpened)
{
    using namespace parafields;
    WizardParaWidget* s = settings();
    // Not opened: the edit copy is nobody's edit and must not reach the live record.
    gpWPara->mold_pulse = 33;
    gpWParaBak->mold_pulse = 0;
    s->groupName()->setText("plain");
    ASSERT_TRUE(s->SlotParaGroupBackup()) << op->warned.join("; ").toStdString();
    EXPECT_EQ(gpWPara->mold_pulse, 33);
    EXPECT_TRUE(changeLines().isEmpty());

    s->open(1);
    typeNumber(Common, "mold_pulse", "44");
    s->groupName()->setText("edited");
    ASSERT_TRUE(s->SlotParaGroupBackup());
    EXPECT_EQ(gpWPara->mold_pulse, 44) << "applied before the copy";
    EXPECT_EQ(changeLines().size(), 1);
    WizardPara stored;
    stored.LoadDatafromFile();
    EXPECT_EQ(stored.mold_pulse, 44);
    s->SlotCancel();
    EXPECT_EQ(gpWPara->mold_pulse, 44);
}

TEST_F(Pages, TheMainScreensWarningCountIsRecordedAndSavedAtOnce)
{
    gPasswordLevel = 1;
    auto* b = win->findChild<QPushButton*>("ngWarnCount");
    ASSERT_TRUE(b);
    const int before = gpWPara->roi_ng_warn_count;
    const int next = before == 6 ? 7 : 6;
    EXPECT_TRUE(touch::typeNumber(QString::number(next), [b] { b->click(); }));
    EXPECT_EQ(gpWPara->roi_ng_warn_count, next);
    EXPECT_EQ(b->text(), QString("NG warning %1").arg(next));
    EXPECT_EQ(changeLines(), QStringList{QString("Parameters changed, Region NG warning count is changed from %1 to %2").arg(before).arg(next)});
    WizardPara stored;
    stored.LoadDatafromFile();
    EXPECT_EQ(stored.roi_ng_warn_count, next);
    gPasswordLevel = 0;
}
