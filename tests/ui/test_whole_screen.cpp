// The pages as the shipped program shows them on a real X server without a
// window manager, at the panel's two sizes: the station binary on Xvfb,
// driven only by mouse clicks (xdotool) at the places its own geometry dump
// (SIGUSR1 with STATION_TEST_GEOMETRY) names.
#include "BoardSim.h"
#include "ParamDb.h"
#include "TestDir.h"
#include "WizardPara.h"

#include <QElapsedTimer>
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
    QTest::qWaitFor([&] { return QFile::exists(file); }, 10000);
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
} // namespace

TEST_P(WholeScreen, EveryPageOpensOverTheWholeScreen)
{
    Xvfb x;
    ASSERT_TRUE(x.start(GetParam())) << "Xvfb is needed (./station.sh deps)";
    ASSERT_FALSE(QStandardPaths::findExecutable("xdotool").isEmpty()) << "xdotool is needed (./station.sh deps)";
    const QString geometry = dir.file("geometry.txt");
    for (const char* button : {"settings", "accounts", "regionEditor", "help", "cycleLog"}) {
        SCOPED_TRACE(button);
        QFile::remove(dir.file("RECORD.db"));
        BoardSim board;
        ASSERT_TRUE(board.ok());
        QProcessEnvironment env;
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("DISPLAY", x.display);
        env.insert("STATION_TEST_GEOMETRY", geometry);
        env.insert("STATION_CAMERA", "replay:" + dir.file("scene.png"));
        QProcess station;
        ASSERT_TRUE(startStation(station, dir.path(), board, env));
        // Up (its signal handlers are in place once it says so): the main window, over the whole screen.
        ASSERT_TRUE(QTest::qWaitFor([&] {
            return recordRemarks(dir.file("RECORD.db")).filter("The system is ready").size() > 0;
        }, 30000)) << readText(dir.file("station.err")).toStdString();
        Rects r;
        ASSERT_TRUE(QTest::qWaitFor([&] {
            r = where(station, geometry);
            return r.contains("@window:mainWindow") && r.contains(button);
        }, 30000)) << readText(dir.file("station.err")).toStdString();
        const QRect screen = r.value("@screen");
        EXPECT_EQ(r.value("@window:mainWindow"), screen);
        const QStringList before = windows(r);
        // The operator's tap on the button.
        const QPoint c = r.value(button).center();
        QProcess tap;
        QProcessEnvironment xenv = QProcessEnvironment::systemEnvironment();
        xenv.insert("DISPLAY", x.display);
        tap.setProcessEnvironment(xenv);
        tap.start("xdotool", {"mousemove", "--sync", QString::number(c.x()), QString::number(c.y()), "click", "1"});
        ASSERT_TRUE(tap.waitForFinished(10000));
        // The page comes up as a window of its own, over the whole screen, its widgets on it.
        QString page;
        ASSERT_TRUE(QTest::qWaitFor([&] {
            r = where(station, geometry);
            for (const QString& w : windows(r))
                if (!before.contains(w))
                    page = w;
            return !page.isEmpty();
        }, 10000)) << "no page opened";
        EXPECT_EQ(r.value(page), screen) << qPrintable(page);
        // Nothing needs a sideways scroll: a page may scroll down, never across.
        for (auto it = r.begin(); it != r.end(); ++it)
            if (!it.key().startsWith('@') && it.value().width() > 0)
                EXPECT_TRUE(it.value().left() >= screen.left() && it.value().right() <= screen.right())
                    << qPrintable(it.key()) << " leaves the screen sideways: " << it.value().x() << " "
                    << it.value().width() << " wide";
        station.kill();
        station.waitForFinished(5000);
    }
}

INSTANTIATE_TEST_SUITE_P(PanelSizes, WholeScreen, ::testing::Values(QString("1024x768"), QString("1920x1080")),
                         [](const auto& info) { return info.param.toStdString(); });
