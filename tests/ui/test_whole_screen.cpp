// The pages as the shipped program shows them on a real X server without a
// window manager, at the panel's two sizes: the station binary on Xvfb,
// driven only by mouse clicks (xdotool) at the places its own geometry dump
// (SIGUSR1 with STATION_TEST_GEOMETRY) names.
#include "BoardSim.h"
#include "ControlPort.h"
#include "Messages.h"
#include "ParamDb.h"
#include "TestDir.h"
#include "WizardPara.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRect>
#include <QStandardPaths>
#include <QTest>
#include <csignal>
#include <gtest/gtest.h>

namespace {

struct Xvfb {
    QProcess proc;
    QString display;
    bool start(const QString& size)
    {
        if (QStandardPaths::findExecutable("Xvfb").isEmpty())
            return false;
        // The server picks a free display and writes its number on our pipe.
        proc.start("Xvfb", {"-displayfd", "1", "-screen", "0", size + "x24", "-nolisten", "tcp"});
        if (!proc.waitForStarted(5000))
            return false;
        QElapsedTimer t;
        t.start();
        QByteArray out;
        while (!out.contains('\n') && t.elapsed() < 10000 && proc.state() == QProcess::Running) {
            proc.waitForReadyRead(100);
            out += proc.readAllStandardOutput();
        }
        display = ":" + QString::fromLatin1(out).trimmed();
        return out.contains('\n');
    }
    ~Xvfb()
    {
        proc.terminate();
        if (!proc.waitForFinished(5000))
            proc.kill();
    }
};

struct WholeScreen : ::testing::TestWithParam<QString> {
    TestDir dir;
    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        ASSERT_TRUE(paramdb::openAll({}));
        WizardPara wp;
        wp.LoadDatafromFile();
        wp.is_psw_used = 0;  // the pages open without a password here
        wp.enable_cnt_net = 0;
        ASSERT_TRUE(wp.SaveDatatoFile());
        dropConnections();
        QImage scene(640, 480, QImage::Format_Grayscale8);
        scene.fill(90);
        ASSERT_TRUE(scene.save(dir.file("scene.png")));
    }
};

using Rects = QMap<QString, QRect>;

// Asks the running program where its widgets are; the answer is a new file.
Rects where(QProcess& station, const QString& file)
{
    Rects out;
    if (station.processId() <= 0)
        return out;  // never a signal to our own process group
    QFile::remove(file);
    ::kill(pid_t(station.processId()), SIGUSR1);
    if (!QTest::qWaitFor([&] { return QFile::exists(file); }, 10000))
        return out;  // busy: the caller asks again
    for (const QString& line : readText(file).split('\n', Qt::SkipEmptyParts)) {
        const QStringList p = line.split(' ');
        if (p.size() == 5)
            out.insert(p[0], QRect(p[1].toInt(), p[2].toInt(), p[3].toInt(), p[4].toInt()));
    }
    return out;
}

QStringList windows(const Rects& r)
{
    QStringList w;
    for (auto it = r.begin(); it != r.end(); ++it)
        if (it.key().startsWith("@window:"))
            w << it.key();
    return w;
}

// The physical inversion of the outputs as the station directory stores it (bit k-1 for output k).
int storedInversion()
{
    int invert = 0;
    if (!paramdb::openAll({}))
        return invert;
    WizardPara wp;
    wp.LoadDatafromFile();
    const ControlPort::Config cfg = ControlPort::configFrom(wp);
    for (int k = 0; k < 9; ++k)
        invert |= (cfg.outInvert[k] ? 1 : 0) << k;
    dropConnections();
    return invert;
}

// The station on the display, driven by taps at the places its dump names.
struct Panel {
    const Xvfb& x;
    QString geometry;
    QProcess station;
    Rects r;

    Panel(const Xvfb& display, const QString& geometryFile) : x(display), geometry(geometryFile) {}

    // answer: what every question box answers ("" none: they wait, and the keypads come up).
    bool start(const TestDir& dir, const BoardSim& board, const QString& answer = "no")
    {
        QProcessEnvironment env;
        env.insert("STATION_ANSWER", answer);
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("DISPLAY", x.display);
        env.insert("STATION_TEST_GEOMETRY", geometry);
        env.insert("STATION_CAMERA", "replay:" + dir.file("scene.png"));
        return startStation(station, dir.path(), board, env) && QTest::qWaitFor([&] {
            return recordRemarks(dir.file("RECORD.db")).filter("The system is ready").size() > 0;
        }, 30000);
    }
    // Waits until the named widget is on the screen.
    bool shows(const QString& name)
    {
        return QTest::qWaitFor([&] {
            r = where(station, geometry);
            return r.contains(name);
        }, 30000);
    }
    // The operator's tap on it, once it is there.
    bool tap(const QString& name)
    {
        if (!shows(name)) {
            ADD_FAILURE() << "not on the screen: " << qPrintable(name) << "; windows: " << qPrintable(windows(r).join(' '));
            return false;
        }
        const QPoint c = r.value(name).center();
        QProcess xdo;
        QProcessEnvironment xenv = QProcessEnvironment::systemEnvironment();
        xenv.insert("DISPLAY", x.display);
        xdo.setProcessEnvironment(xenv);
        // No --sync: it waits for ever when the pointer is already there (the same key twice).
        xdo.start("xdotool", {"mousemove", QString::number(c.x()), QString::number(c.y()), "click", "1"});
        if (xdo.waitForFinished(10000) && xdo.exitCode() == 0)
            return true;
        ADD_FAILURE() << "xdotool: " << xdo.readAllStandardError().toStdString();
        return false;
    }
    // The operator's finger drawn across the named widget, from and to fractions of it.
    bool drag(const QString& name, QPointF from, QPointF to)
    {
        if (!shows(name))
            return false;
        const QRect w = r.value(name);
        auto at = [&](QPointF f) {
            return QStringList{QString::number(w.x() + int(f.x() * w.width())), QString::number(w.y() + int(f.y() * w.height()))};
        };
        const QPointF mid = (from + to) / 2;
        QProcess xdo;
        QProcessEnvironment xenv = QProcessEnvironment::systemEnvironment();
        xenv.insert("DISPLAY", x.display);
        xdo.setProcessEnvironment(xenv);
        xdo.start("xdotool", QStringList{"mousemove"} + at(from) + QStringList{"mousedown", "1", "mousemove"} + at(mid) +
                                 QStringList{"mousemove"} + at(to) + QStringList{"mouseup", "1"});
        return xdo.waitForFinished(10000) && xdo.exitCode() == 0;
    }
    // Waits until the named window is gone (a pad or box closed on its own).
    bool gone(const QString& window)
    {
        return QTest::qWaitFor([&] {
            r = where(station, geometry);
            return r.contains("@window:mainWindow") && !r.contains("@window:" + window);
        }, 10000);
    }
    // A new station greets with its guide: five steps to the end.
    bool passGuide()
    {
        for (int step = 0; step < 5; ++step)
            if (!tap("next"))
                return false;
        return gone("beginnerGuide");
    }
    // The screen as it is now, kept under the build's screenshots.
    void shoot(const QString& name)
    {
        const QString folder = QStringLiteral(STATION_SCREENSHOTS) + "/journey";
        QDir().mkpath(folder);
        QProcess::execute("import", {"-display", x.display, "-window", "root",
                                     folder + '/' + QString::number(r.value("@screen").width()) + '-' + name + ".png"});
    }
    ~Panel()
    {
        station.kill();
        station.waitForFinished(5000);
    }
};
} // namespace

TEST_P(WholeScreen, EveryPageOpensOverTheWholeScreen)
{
    Xvfb x;
    ASSERT_TRUE(x.start(GetParam())) << "Xvfb is needed (./station.sh deps)";
    ASSERT_FALSE(QStandardPaths::findExecutable("xdotool").isEmpty()) << "xdotool is needed (./station.sh deps)";
    // The taps that open each page from the main screen.
    const QList<QStringList> paths{{"settings"},
                                   {"accounts"},
                                   {"regionEditor"},
                                   {"help"},
                                   {"cycleLog"},
                                   {"settings", "tabMaintenance", "ioNames"},
                                   {"settings", "tabMaintenance", "cavityNames"}};
    for (const QStringList& path : paths) {
        SCOPED_TRACE(path.join(" > ").toStdString());
        QFile::remove(dir.file("RECORD.db"));
        BoardSim board;
        ASSERT_TRUE(board.ok());
        Panel panel(x, dir.file("geometry.txt"));
        ASSERT_TRUE(panel.start(dir, board)) << readText(dir.file("station.err")).toStdString();
        // Up: the main window, over the whole screen, its title bar read from afar.
        ASSERT_TRUE(panel.shows("@window:mainWindow")) << readText(dir.file("station.err")).toStdString();
        const QRect screen = panel.r.value("@screen");
        EXPECT_EQ(panel.r.value("@window:mainWindow"), screen);
        EXPECT_EQ(panel.r.value("titleBar").width(), screen.width() - 2 * panel.r.value("titleBar").left());
        EXPECT_GE(panel.r.value("runState").height(), 40) << "the run state is read from two metres";
        for (int i = 0; i + 1 < path.size(); ++i)
            ASSERT_TRUE(panel.tap(path[i])) << qPrintable(path[i]);
        ASSERT_TRUE(panel.shows(path.last()));
        const QStringList before = windows(panel.r);
        ASSERT_TRUE(panel.tap(path.last()));
        // The page comes up as a window of its own, over the whole screen, its widgets on it.
        QString page;
        ASSERT_TRUE(QTest::qWaitFor([&] {
            panel.r = where(panel.station, panel.geometry);
            for (const QString& w : windows(panel.r))
                if (!before.contains(w))
                    page = w;
            return !page.isEmpty();
        }, 10000)) << "no page opened";
        EXPECT_EQ(panel.r.value(page), screen) << qPrintable(page);
        // Nothing needs a sideways scroll: a page may scroll down, never across.
        for (auto it = panel.r.begin(); it != panel.r.end(); ++it) {
            if (it.key().startsWith('@') || it.value().width() == 0)
                continue;
            EXPECT_TRUE(it.value().left() >= screen.left() && it.value().right() <= screen.right())
                    << qPrintable(it.key()) << " leaves the screen sideways: " << it.value().x() << " "
                    << it.value().width() << " wide";
        }
    }
}

TEST_P(WholeScreen, TheSignalNamesAreTypedOnThePadKeptAndRecorded)
{
    Xvfb x;
    ASSERT_TRUE(x.start(GetParam())) << "Xvfb is needed (./station.sh deps)";
    BoardSim board;
    ASSERT_TRUE(board.ok());
    Panel panel(x, dir.file("geometry.txt"));
    // Nothing answered for the operator: the keypads come up as they do on the panel.
    ASSERT_TRUE(panel.start(dir, board, "")) << readText(dir.file("station.err")).toStdString();
    ASSERT_TRUE(panel.passGuide());
    for (const char* t : {"settings", "tabMaintenance", "ioNames", "ioName3", "key_clear", "key_p", "key_r", "key_e",
                          "key_s", "key_s", "key_ok"})
        ASSERT_TRUE(panel.tap(t)) << t;
    // The pad has closed on the page; its save keeps the names for the next start.
    ASSERT_TRUE(QTest::qWaitFor([&] {
        panel.r = where(panel.station, panel.geometry);
        return !panel.r.contains("@window:numCharPad");
    }, 10000));
    ASSERT_TRUE(panel.tap("save"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return readText(dir.file("name.txt")).split('\n').value(2) == "press"; }, 10000))
        << readText(dir.file("name.txt")).toStdString();
    EXPECT_EQ(readText(dir.file("name.txt")).split('\n').value(0), "");  // the others follow the language
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return recordRemarks(dir.file("RECORD.db")).filter(LanStr(1738).section(':', 0, 0)).size() == 1;
    }, 10000));
    // Defaults: the file goes, the names follow the mode again.
    ASSERT_TRUE(panel.tap("ioNames"));
    ASSERT_TRUE(panel.tap("defaults"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !QFile::exists(dir.file("name.txt")); }, 10000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return recordRemarks(dir.file("RECORD.db")).contains(LanStr(1740)); }, 10000));
}

TEST_P(WholeScreen, AnAlarmTheLastRunDiedInComesBackOverTheScreenAndIsClearedByTouch)
{
    writeText(dir.file("alarm.state"), "1 0\n");  // the mould detection of camera 1 was in the alarm
    const int invert = storedInversion();
    const auto alarmOn = [&](int word) { return ((word ^ invert) & 4) != 0; };
    Xvfb x;
    ASSERT_TRUE(x.start(GetParam())) << "Xvfb is needed (./station.sh deps)";
    BoardSim board;
    ASSERT_TRUE(board.ok());
    Panel panel(x, dir.file("geometry.txt"));
    ASSERT_TRUE(panel.start(dir, board, "yes")) << readText(dir.file("station.err")).toStdString();
    ASSERT_TRUE(QTest::qWaitFor([&] { return alarmOn(board.held()); }, 10000)) << "the alarm is back at the board";
    // The operator's decisions are over the main window, where a tap reaches them.
    ASSERT_TRUE(panel.tap("dontDetectAll"));
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return readText(dir.file("station.err")).contains(QString(LanStr(102)).replace("\r\n", "\n"));
    }, 10000)) << "the tap did not reach the alarm page";
    EXPECT_TRUE(QTest::qWaitFor([&] { return !alarmOn(board.held()); }, 10000)) << "the alarm was not cleared";
}

TEST_P(WholeScreen, ExitFromTheMaintenancePageEndsTheProgramForGoodWithClampingProhibited)
{
    const int invert = storedInversion();
    Xvfb x;
    ASSERT_TRUE(x.start(GetParam())) << "Xvfb is needed (./station.sh deps)";
    BoardSim board;
    ASSERT_TRUE(board.ok());
    Panel panel(x, dir.file("geometry.txt"));
    ASSERT_TRUE(panel.start(dir, board, "yes")) << readText(dir.file("station.err")).toStdString();
    for (const char* t : {"settings", "tabMaintenance", "exitProgram"})
        ASSERT_TRUE(panel.tap(t)) << t;
    ASSERT_TRUE(panel.station.waitForFinished(20000)) << "the program did not end";
    EXPECT_EQ(panel.station.exitCode(), 10) << "the one status the supervisor does not restart";
    EXPECT_TRUE(recordRemarks(dir.file("RECORD.db")).contains("Exiting monitor system Manually"));
    EXPECT_TRUE(((board.held() ^ invert) & 1) != 0) << "the board is left prohibiting clamping";
    EXPECT_FALSE(hostJournal().join('\n').contains("poweroff"));
}

TEST_P(WholeScreen, TheEditorAfterResamplingGoesBackToDetectingHoweverItCloses)
{
    Xvfb x;
    ASSERT_TRUE(x.start(GetParam())) << "Xvfb is needed (./station.sh deps)";
    BoardSim board;
    ASSERT_TRUE(board.ok());
    Panel panel(x, dir.file("geometry.txt"));
    ASSERT_TRUE(panel.start(dir, board, "yes")) << readText(dir.file("station.err")).toStdString();
    ASSERT_TRUE(panel.tap("resample"));
    // The next opening takes the new templates and opens the editor over the screen.
    board.send("set 1 1");
    ASSERT_TRUE(panel.shows("@window:regionEditor"));
    ASSERT_TRUE(panel.tap("cancel"));
    // Detection goes on: the mould standing open is judged at once. This factory
    // station has no regions yet: the judgement says so, and the mould stays shut.
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return !recordRemarks(dir.file("RECORD.db")).filter(LanStr(1716).section('%', 0, 0)).isEmpty();
    }, 10000)) << "the opening was not judged";
    EXPECT_EQ(board.held() & 1, 1);
}

// An operator's first shift, by touch only: the keypads, the settings, a region
// and its template, cycles and an alarm, the other language, the accounts' protection.
TEST_P(WholeScreen, AnOperatorsJourneyByTouch)
{
    const auto savedDelay = [] {
        if (!paramdb::openAll({}))
            return -1;
        WizardPara saved;
        saved.LoadDatafromFile();
        dropConnections();
        return saved.finished_product_detect;
    };
    // Clamping prohibited in the board's word, whichever way output 1 is wired.
    bool invert1 = false;
    const auto prohibits = [&](int word) { return ((word & 1) != 0) != invert1; };
    {
        ASSERT_TRUE(paramdb::openAll({}));
        WizardPara wp;
        wp.LoadDatafromFile();
        wp.is_psw_used = 1;
        SetParaText(wp.password, "1234");
        wp.enable_prod_detect = 0;  // the mould alone: the journey draws its one region
        invert1 = wp.out_invert[0] != 0;
        wp.shake_erase_time = 0;  // an input level seen once counts
        ASSERT_TRUE(wp.SaveDatatoFile());
        dropConnections();
    }
    Xvfb x;
    ASSERT_TRUE(x.start(GetParam())) << "Xvfb is needed (./station.sh deps)";
    BoardSim board({"--log", dir.file("board.log")});
    ASSERT_TRUE(board.ok());
    Panel panel(x, dir.file("geometry.txt"));
    ASSERT_TRUE(panel.start(dir, board, "")) << readText(dir.file("station.err")).toStdString();
    ASSERT_TRUE(panel.passGuide());
    panel.shoot("01-main");

    // Log in with the system password, typed on the text pad (shown as dots).
    for (const char* t : {"login", "password", "key_1", "key_2", "key_3", "key_4"})
        ASSERT_TRUE(panel.tap(t)) << t;
    panel.shoot("02-password");
    ASSERT_TRUE(panel.tap("key_ok"));
    ASSERT_TRUE(panel.gone("numCharPad"));
    ASSERT_TRUE(panel.tap("passwordOk"));
    ASSERT_TRUE(panel.gone("passwordBox"));

    // The product trigger delay to 7 on the number pad, confirmed.
    for (const char* t : {"settings", "finished_product_detect", "key_7"})
        ASSERT_TRUE(panel.tap(t)) << t;
    panel.shoot("03-numpad");
    ASSERT_TRUE(panel.tap("key_ok"));
    ASSERT_TRUE(panel.gone("numPad"));
    panel.shoot("04-settings");
    ASSERT_TRUE(panel.tap("confirm"));
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return !recordRemarks(dir.file("RECORD.db")).filter(QRegularExpression("\\b7\\b")).isEmpty();
    }, 10000)) << recordRemarks(dir.file("RECORD.db")).join("\n").toStdString();
    EXPECT_EQ(savedDelay(), 7);
    ASSERT_TRUE(panel.gone("settingsPage"));
    const auto recorded = [&](const QString& line) {
        return QTest::qWaitFor([&] { return !recordRemarks(dir.file("RECORD.db")).filter(line).isEmpty(); }, 10000);
    };

    // A rectangle on the mould's picture, its sensitivity on the pad, the picture
    // as the template, saved.
    for (const char* t : {"regionEditor", "detectionBox", "detectionList#1", "toolRect"})
        ASSERT_TRUE(panel.tap(t)) << t;
    ASSERT_TRUE(panel.drag("canvas", {0.3, 0.3}, {0.6, 0.6}));
    // The difference from the template, from 10 pixels on, at sensitivity 30.
    for (const char* t : {"functionBox", "functionList#0", "minSize", "key_clear", "key_1", "key_0", "key_ok"})
        ASSERT_TRUE(panel.tap(t)) << t;
    ASSERT_TRUE(panel.gone("numPad"));
    for (const char* t : {"sensitivity", "key_clear", "key_3", "key_0"})
        ASSERT_TRUE(panel.tap(t)) << t;
    panel.shoot("05-region");
    ASSERT_TRUE(panel.tap("key_ok"));
    ASSERT_TRUE(panel.gone("numPad"));
    for (const char* t : {"addTemplate", "yes"})
        ASSERT_TRUE(panel.tap(t)) << t;
    ASSERT_TRUE(recorded(LanStr(1304).arg(1))) << recordRemarks(dir.file("RECORD.db")).join("\n").toStdString();
    for (const char* t : {"save", "yes"})
        ASSERT_TRUE(panel.tap(t)) << t;
    ASSERT_TRUE(recorded(LanStr(1305).section('%', 0, 0))) << recordRemarks(dir.file("RECORD.db")).join("\n").toStdString();
    panel.shoot("06-saved");
    ASSERT_TRUE(panel.tap("cancel"));
    ASSERT_TRUE(panel.gone("regionEditor"));

    // Cycles with the board: each opening prohibits clamping until the clean mould is judged.
    // The station has read the board's inputs three more times: it knows their level.
    const auto inputsRead = [&] {
        const auto reads = [&] { return int(readText(dir.file("board.log")).split('\n').filter(QRegularExpression("^cmd \\d+ 2 ")).size()); };
        const int from = reads();
        return QTest::qWaitFor([&] { return reads() >= from + 30; }, 10000);
    };
    const auto cycleEndsAllowed = [&] {
        board.send("set 1 0");
        if (!inputsRead())
            return false;
        board.held();  // what the board reported so far, read
        const int seen = int(board.outs().size());
        board.send("set 1 1");
        return QTest::qWaitFor([&] {
            const int now = board.held();
            const QList<int> outs = board.outs();
            // The opening prohibits, or it was prohibited already (the start).
            bool prohibited = seen > 0 && prohibits(outs[seen - 1]);
            for (int i = seen; i < outs.size(); ++i)
                prohibited = prohibited || prohibits(outs[i]);
            return prohibited && !prohibits(now);
        }, 15000);
    };
    for (int cycle = 0; cycle < 3; ++cycle)
        ASSERT_TRUE(cycleEndsAllowed()) << "cycle " << cycle << ": board " << board.held() << " of "
                                        << QStringList([&] { QStringList o; for (int w : board.outs()) o << QString::number(w, 16); return o; }()).join(' ').toStdString()
                                        << " invert " << invert1 << "; "
                                        << recordRemarks(dir.file("RECORD.db")).join("\n").toStdString()
                                        << readText(dir.file("station.err")).right(3000).toStdString();

    // A blemish in the region: the alarm page, clamping prohibited; "Don't Detect" clears it.
    {
        QImage blemished(dir.file("scene.png"));
        ASSERT_FALSE(blemished.isNull());
        for (int y = blemished.height() * 20 / 100; y < blemished.height() * 70 / 100; ++y)
            for (int x = blemished.width() * 20 / 100; x < blemished.width() * 70 / 100; ++x)
                blemished.setPixel(x, y, 0);
        ASSERT_TRUE(blemished.save(dir.file("scene.tmp.png")));
        ASSERT_TRUE(QFile::remove(dir.file("scene.png")) && QFile::rename(dir.file("scene.tmp.png"), dir.file("scene.png")));
    }
    board.send("set 1 0");
    ASSERT_TRUE(inputsRead());
    board.send("set 1 1");
    ASSERT_TRUE(panel.shows("@window:alarmPage")) << recordRemarks(dir.file("RECORD.db")).join("\n").toStdString();
    EXPECT_TRUE(prohibits(board.held()));
    panel.shoot("07-alarm");
    for (const char* t : {"dontDetectAll", "yes"})
        ASSERT_TRUE(panel.tap(t)) << t;
    ASSERT_TRUE(panel.gone("alarmPage"));
    EXPECT_TRUE(recorded(LanStr(103)));

    // In Chinese: the trigger delay once more, to 5, on the pad with its Chinese title.
    ASSERT_TRUE(panel.tap("language"));
    for (const char* t : {"settings", "finished_product_detect", "key_5"})
        ASSERT_TRUE(panel.tap(t)) << t;
    panel.shoot("08-chinese");
    ASSERT_TRUE(panel.tap("key_ok"));
    ASSERT_TRUE(panel.gone("numPad"));
    ASSERT_TRUE(panel.tap("confirm"));
    ASSERT_TRUE(panel.gone("settingsPage"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return savedDelay() == 5; }, 10000));
    // Back to English, through the other language (the lines below are English again).
    ASSERT_TRUE(panel.tap("language"));
    ASSERT_TRUE(panel.tap("language"));

    // Logged out, nobody may delete the administrator: refused, said and recorded.
    ASSERT_TRUE(panel.tap("login"));  // now "Log out"
    for (const char* t : {"accounts", "users#admin", "deleteUser"})
        ASSERT_TRUE(panel.tap(t)) << t;
    if (panel.shows("@window:chooseBox"))
        ASSERT_TRUE(panel.tap("yes"));
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return !recordRemarks(dir.file("RECORD.db")).filter(LanStr(1729, 1).section('(', 0, 0)).isEmpty();
    }, 10000)) << recordRemarks(dir.file("RECORD.db")).join("\n").toStdString();
    panel.shoot("09-refused");
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "journeyUsers");
    db.setDatabaseName(dir.file("UserDataBase.db"));
    ASSERT_TRUE(db.open());
    QSqlQuery q(db);
    ASSERT_TRUE(q.exec("select count(*) from user_table where name = 'admin'") && q.next());
    EXPECT_EQ(q.value(0).toInt(), 1);
    db.close();
}

INSTANTIATE_TEST_SUITE_P(PanelSizes, WholeScreen, ::testing::Values(QString("1024x768"), QString("1920x1080")),
                         [](const auto& info) { return info.param.toStdString(); });
