#include "FactoryDir.h"
#include "Messages.h"
#include "ParamDb.h"
#include "TestDir.h"
#include "WizardPara.h"

#include <QFile>
#include <QSqlQuery>
#include <gtest/gtest.h>

using namespace paramdb;

namespace {
struct Params : ::testing::Test {
    TestDir dir;
    int savedLan = gLan;
    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        ASSERT_TRUE(openAll({}));
    }
    void TearDown() override { gLan = savedLan; }
    void set(const char* key, const QString& value) { ASSERT_TRUE(writeValues(paramDb(), "sysparam", {{key, value}}, true)); }
    QString get(const char* key)
    {
        QString v;
        readValue(paramDb(), "sysparam", key, &v);
        return v;
    }
    void drop(const char* key)
    {
        QSqlQuery q(paramDb());
        q.prepare("delete from sysparam where name=?");
        q.addBindValue(key);
        ASSERT_TRUE(q.exec());
    }
    WizardPara load()
    {
        WizardPara p;
        p.LoadDatafromFile();
        return p;
    }
};
} // namespace

TEST_F(Params, LoadCorrections)
{
    set("numFailDetect", "9 0 0 0 0 0 0 0");
    set("exposeTime", "-5 20000 50 0");
    set("system1", "0 1 0 1 0 0 0 0 0");
    set("system2", "0 0 0 0 0 0 0 0 0 0 0 0 7 0 0 15 0 -1");
    WizardPara p = load();
    EXPECT_EQ(p.machine_mode, 0);
    EXPECT_EQ(p.pending_machine_mode, 0);
    EXPECT_EQ(gDNum, 2);
    EXPECT_EQ((QList<int>{p.expose_time[0], p.expose_time[1], p.expose_time[2], p.expose_time[3]}),
              (QList<int>{30, 30, 50, 0}));
    EXPECT_EQ(p.enable_correct, -1);
    EXPECT_EQ(p.max_mold_num, 10);
    EXPECT_EQ(p.min_spot, 3);
    EXPECT_EQ(gLan, 0);
    EXPECT_EQ(p.location_level, 600);
    EXPECT_EQ(p.location_adge, 8000);
    EXPECT_EQ(p.input_timeout_len, 60);  // negative caught by the unsigned bound

    set("system2", "0 10 3 0 0 0 0 0 0 0 0 0 1 0 100 0 12 60");
    EXPECT_EQ(load().location_level, 0);  // 0: the screen never goes dark
}

TEST_F(Params, AlgorithmRuleAndOverlongPassword)
{
    set("numFailDetect", "0 0 0 0 0 0 0 0");
    set("system3", "0 0 0 0 0 0 0 0 0 0 0");
    set("system7", "0 0 0 0 0 0 1 0 0 0 0 0 0 0 0 0 0 0 0 0");
    set("system8", "2 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0");
    set("system9", "0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0");
    set("password", QString(100, 'x'));
    WizardPara p = load();
    EXPECT_EQ(p.enable_defect_detect, 1);
    EXPECT_STREQ(p.password, "");
    set("password", QString(99, 'y'));
    EXPECT_EQ(ParaText(load().password), QString(99, 'y'));
    // 33 characters of three bytes each fill the 99 bytes; one more does not fit.
    set("password", QString(33, QChar(0x5BC6)));
    EXPECT_EQ(ParaText(load().password), QString(33, QChar(0x5BC6)));
    set("password", QString(34, QChar(0x5BC6)));
    EXPECT_STREQ(load().password, "");
}

TEST_F(Params, MissingLaterRowsAreInsertedButStartValuesHoldUntilNextStart)
{
    for (const char* k : {"system7", "system8", "system9", "system10", "system11", "system12"})
        drop(k);
    WizardPara first = load();
    EXPECT_EQ(first.report_alarm(), 0);
    EXPECT_EQ(first.roi_ng_warn_count, 2);
    EXPECT_EQ(first.multi_detect_num, 2);
    EXPECT_EQ(get("system7"), "0 0 0 0 0 0 1 0 0 0 0 0 0 0 0 0 0 0 0 0");
    EXPECT_EQ(get("system12"), QString("0 ").repeated(19) + "0");
    WizardPara second = load();
    EXPECT_EQ(second.report_alarm(), 1);
    EXPECT_EQ(second.enable_detect_cycle, 0);
}

TEST_F(Params, SaveWritesEveryKeyAndTheRepeatedFieldFourTimes)
{
    WizardPara p = load();
    p.reserved_sys9 = 77;
    p.enable_stop_mold = 1;
    ASSERT_TRUE(p.SaveDatatoFile());
    const QList<int> s9 = parseInts(get("system9"), 20);
    EXPECT_EQ(s9.mid(16), (QList<int>{77, 77, 77, 77}));
    EXPECT_EQ(s9[13], 1);
    EXPECT_EQ(parseInts(get("system1"), 9)[4], 1);
    EXPECT_EQ(parseInts(get("system12"), 22).size(), 22);
    EXPECT_EQ(get("system12").split(' ').size(), 21);
    EXPECT_EQ(get("system2").split(' ').size(), 18);
}

TEST_F(Params, RoundTripOfEveryField)
{
    WizardPara p = load();
    // Give every stored position a distinct value that survives the corrections.
    int n = 0;
    for (WizardPara::Binding& b : p.bindings()) {
        for (int* f : b.ints)
            *f = 1 + (n++ % 2);
        if (b.text)
            SetParaText(b.text, QStringLiteral("%1 text é 密码 密碼").arg(b.key));
    }
    gLan = 2;
    p.enable_correct = -1;
    p.multi_detect_num = 2;
    p.machine_mode = p.pending_machine_mode = 3;
    p.location_level = 30;
    p.reserved_sys9 = 123456;
    p.reserved_sys10_17 = 42;
    p.tick_limit = -9;
    p.reserved_sys7_12 = 5;
    p.enable_prod_ok_ng_output = 1;  // keeps the derived outputs 5..8 at 0 on reload
    for (int k = 4; k <= 7; ++k)
        p.out_invert[k] = 0;
    ASSERT_TRUE(p.SaveDatatoFile());
    const auto before = p.storedRows();
    gLan = 0;
    WizardPara q = load();
    EXPECT_EQ(q.storedRows(), before);
    EXPECT_EQ(gLan, 2);
    // Every text field reads back unchanged, characters outside Latin-1 included.
    for (WizardPara::Binding& b : q.bindings())
        if (b.text)
            EXPECT_EQ(ParaText(b.text), QStringLiteral("%1 text é 密码 密碼").arg(b.key)) << b.key;
}

TEST_F(Params, AnOlderFileGainsTheRowsItLacks)
{
    drop("CntNet");
    drop("system4");
    drop("contrast");
    WizardPara p = load();
    p.minimum_area = 555;
    p.contrast[2] = 150;
    p.enable_cnt_net = 1;
    ASSERT_TRUE(p.SaveDatatoFile());
    WizardPara q = load();
    EXPECT_EQ(q.minimum_area, 555);
    EXPECT_EQ(q.contrast[2], 150);
    EXPECT_EQ(q.enable_cnt_net, 1);
}

TEST_F(Params, DerivedDetectionsOfTheStandardModes)
{
    WizardPara p = load();
    p.machine_mode = 0;
    p.enable_prod_detect = 0;
    p.semi_auto = 1;
    p.DeriveDetections();
    EXPECT_EQ(gDNum, 2);
    EXPECT_EQ(p.detect_enable[0], 0);
    EXPECT_EQ(p.detect_enable[1], 1);
    EXPECT_EQ(p.detect_trig_input[1], 2);
    EXPECT_EQ(p.out_invert[5], 1);
    p.enable_stop_not_alarm = 1;
    p.machine_mode = 3;
    p.DeriveDetections();
    EXPECT_EQ(p.out_invert[5], 0);
    EXPECT_EQ(p.io_count, 4);
}

TEST_F(Params, DerivedDetectionsOfTwoColorAndTurntable)
{
    WizardPara p = load();
    p.enable_prod_detect = 1;
    struct Case { int mode, side, semi; int en[4]; int in0, in1; bool left; };
    const Case cases[] = {
        {1, 0, 0, {1, 1, 0, 0}, 0, 2, true},   {1, 1, 0, {0, 0, 1, 1}, 0, 3, false},
        {1, 2, 0, {1, 1, 1, 1}, 0, 255, true}, {2, 0, 1, {1, 1, 0, 0}, 0, 2, true},
        {2, 1, 0, {0, 0, 1, 1}, 3, 3, false},  {2, 3, 0, {1, 1, 1, 1}, 255, 255, true},
        {2, 9, 1, {1, 1, 0, 0}, 0, 2, true},  // an out-of-range side becomes Left
    };
    for (const Case& c : cases) {
        p.machine_mode = c.mode;
        p.mold_side = c.side;
        p.semi_auto = c.semi;
        p.DeriveDetections();
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " side " << c.side);
        EXPECT_EQ(gDNum, 4);
        for (int j = 0; j < 4; ++j)
            EXPECT_EQ(p.detect_enable[j], c.en[j]) << "detection " << j;
        EXPECT_EQ(p.detect_trig_input[0], c.in0);
        EXPECT_EQ(p.detect_trig_input[1], c.in1);
        EXPECT_EQ(p.left_side_active, c.left);
    }
}

TEST_F(Params, MultiDetectionModeFollowsItsIoTable)
{
    WizardPara p = load();
    p.machine_mode = 4;
    p.multi_detect_num = 3;
    p.enable_prod_detect = 0;
    const int rows[8] = {0, 2, 1, -1, 0, 0, 0, 0};
    const int inputs[8] = {4, 0, 7, 0, 0, 0, 0, 0};
    for (int j = 0; j < 8; ++j) {
        p.multi_detect_row[j] = rows[j];
        p.multi_row_input[j] = inputs[j];
    }
    QList<QPair<int, int>> retrained;
    WizardPara::retrainHook = [&](int c, int d) { retrained.append({c, d}); };
    p.DeriveDetections();
    WizardPara::retrainHook = nullptr;
    EXPECT_EQ(gDNum, 3);
    EXPECT_EQ(p.io_count, 3);
    EXPECT_EQ(p.detect_enable[0], 0);  // product detection off
    EXPECT_EQ(p.detect_enable[1], 1);
    EXPECT_EQ(p.detect_trig_input[1], 9 - 1);  // row 2 -> input choice 7 -> input 9
    EXPECT_EQ(p.detect_enable[2], 1);
    EXPECT_EQ(p.detect_trig_input[2], 0);  // row 1 -> input choice 0 -> input 1
    EXPECT_EQ(p.detect_enable[3], 0);      // beyond multi_detect_num
    EXPECT_EQ(p.detect_trig_input[3], -1);
    EXPECT_EQ(retrained.size(), 8 * 2);
    // A row pointing outside the table disables the detection instead of reading past it.
    p.multi_detect_row[1] = 12;
    p.DeriveDetections();
    EXPECT_EQ(p.detect_enable[1], 0);
}

TEST_F(Params, PendingModeChangesAtOnceExceptAcrossModeFour)
{
    WizardPara p = load();
    p.pending_machine_mode = 1;
    p.ApplyPendingMode();
    EXPECT_EQ(p.machine_mode, 1);
    EXPECT_EQ(gDNum, 4);
    p.pending_machine_mode = 4;
    p.ApplyPendingMode();
    EXPECT_EQ(p.machine_mode, 1);
    ASSERT_TRUE(p.SaveDatatoFile());
    EXPECT_EQ(parseInts(get("numFailDetect"), 1)[0], 4);
}

TEST_F(Params, SerialsSignalNamesAndGroupIndex)
{
    ASSERT_TRUE(writeValues(serialDb(), "sysparam", {{"serialNB0", "AB1234567"}, {"serialNB1", "short"}}, true));
    QSqlQuery q(serialDb());
    ASSERT_TRUE(q.exec("delete from sysparam where name='serialNB7'"));
    writeText("sysadd.txt", "3\n");
    gLan = 1;
    WizardPara p = load();
    EXPECT_EQ(p.RecordedCameraCount(), 1);
    EXPECT_STREQ(p.serialNB[0], "AB1234567");
    EXPECT_STREQ(p.serialNB[7], "0");
    QString v;
    EXPECT_TRUE(readValue(serialDb(), "sysparam", "serialNB7", &v));
    EXPECT_EQ(p.para_group_index, 3);
    EXPECT_EQ(p.signal_names[0], "Mould open");
    EXPECT_EQ(p.signal_names[4], "Clamp line");

    writeText("name.txt", "in one\nin two\n");
    p.LoadSignalNames();
    EXPECT_EQ(p.signal_names[1], "in two");
    EXPECT_EQ(p.signal_names[2], p.defaultSignalNames()[2]) << "no name of its own: the language's";
    // An empty line is no name of its own either: it follows the language.
    writeText("name.txt", "\nin two\n");
    gLan = 0;
    p.LoadSignalNames();
    EXPECT_EQ(p.signal_names[0], LanStr(1250, 0));
    EXPECT_EQ(p.signal_names[1], "in two");
    gLan = 1;
    QFile::remove("name.txt");

    QFile::remove("sysadd.txt");
    WizardPara r = load();
    EXPECT_EQ(r.para_group_index, 0);
    EXPECT_EQ(readText("sysadd.txt"), "0\n");
}

TEST_F(Params, SignalNamesFollowTheModeAndTheLanguage)
{
    WizardPara p = load();
    gLan = 0;
    p.machine_mode = 0;
    p.LoadSignalNames();
    EXPECT_EQ(p.signal_names[0], LanStr(1250, 0));
    EXPECT_EQ(p.signal_names[4], LanStr(1270, 0));
    gLan = 2;
    p.machine_mode = 2;  // turntable: input 4 is the valve, output 4 the shift
    p.LoadSignalNames();
    EXPECT_EQ(p.signal_names[3], LanStr(1255, 2));
    EXPECT_EQ(p.signal_names[7], LanStr(1282, 2));
    EXPECT_EQ(p.signal_names[6], LanStr(152, 2)) << "output 3 is the alarm";
    gLan = 1;
    p.machine_mode = 4;  // mode 4: the names chosen in the IO table, out-of-range choices clipped
    p.multi_in_name[0] = 6;
    p.multi_out_name[1] = 99;
    p.LoadSignalNames();
    EXPECT_EQ(p.signal_names[0], "Robot");
    EXPECT_EQ(p.signal_names[5], "Machine move");
}
