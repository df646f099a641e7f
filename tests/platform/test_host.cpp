#include "Host.h"
#include "LedDevice.h"
#include "TestDir.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

TEST(HostDryRun, JournalsEveryActionWithItsArguments)
{
    TestDir dir(TestDir::Empty);
    platform::Host host(false);
    EXPECT_TRUE(host.reboot());
    EXPECT_TRUE(host.powerOff());
    EXPECT_TRUE(host.mount("/dev/sdb1", "/mnt"));
    EXPECT_TRUE(host.umount("/mnt"));
    EXPECT_TRUE(host.sync());
    EXPECT_EQ(host.blkid({"/dev/sdb1"}), QString());
    EXPECT_TRUE(host.hwclockSysToHc());
    EXPECT_TRUE(host.setTime(QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7))));
    EXPECT_TRUE(host.runTsc());
    EXPECT_TRUE(host.runUpdate());
    EXPECT_TRUE(host.iopl(3));
    const QStringList expected{"reboot", "poweroff", "mount /dev/sdb1 /mnt", "umount /mnt", "sync",
                               "blkid /dev/sdb1", "hwclock --systohc", "set-time 2026-03-04T05:06:07",
                               "run-tsc", "run-update", "iopl 3"};
    EXPECT_EQ(hostActions(), expected);

    // Every line starts with an ISO-8601 time.
    const QString first = readText("host-actions.log").section('\n', 0, 0);
    EXPECT_TRUE(QDateTime::fromString(first.section(' ', 0, 0), Qt::ISODateWithMs).isValid()) << first.toStdString();
}

TEST(HostDryRun, NeverRunsTheProgramsItNames)
{
    TestDir dir(TestDir::Empty);
    // Helper programs that would leave a trace if they were run.
    for (const char* name : {"tsc", "update.sh"}) {
        writeText(name, "#!/bin/sh\ntouch ran-" + QByteArray(name) + "\n");
        QFile::setPermissions(name, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    platform::Host host(false);
    host.runTsc();
    host.runUpdate();
    EXPECT_FALSE(QFile::exists("ran-tsc"));
    EXPECT_FALSE(QFile::exists("ran-update.sh"));
}

TEST(HostPanel, ReportsAProgramThatFails)
{
    TestDir dir(TestDir::Empty);
    // In panel mode the helper really runs; a failing one is reported, not hidden.
    writeText("tsc", "#!/bin/sh\nexit 3\n");
    QFile::setPermissions("tsc", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    writeText("update.sh", "#!/bin/sh\ntouch updated\n");
    QFile::setPermissions("update.sh", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    platform::Host host(true);
    EXPECT_FALSE(host.runTsc());
    EXPECT_TRUE(host.runUpdate());
    EXPECT_TRUE(QFile::exists("updated"));
    EXPECT_FALSE(QFile::exists(platform::Host::journalName()));
}

TEST(LedStandIn, RecordsRequestsOnlyOnceOpened)
{
    platform::LedDevice dev(false);
    dev.request(0x5A018B00u);
    EXPECT_TRUE(dev.recorded().isEmpty());
    EXPECT_EQ(dev.open(), 0);
    dev.request(0x5A018A00u);
    EXPECT_EQ(dev.recorded(), QList<quint32>{0x5A018A00u});
}

TEST(LedPanel, AMissingDeviceIgnoresEveryRequest)
{
    if (QFile::exists("/dev/led"))
        GTEST_SKIP() << "this machine has a real /dev/led";
    platform::LedDevice dev(true);
    EXPECT_LT(dev.open(), 0);
    EXPECT_FALSE(dev.isOpen());
    dev.request(0x5A018B00u);  // nothing happens, nothing is recorded
    EXPECT_TRUE(dev.recorded().isEmpty());
}

TEST(HostPanel, ActionsThatNeedRootGoThroughTheHelperOnly)
{
    TestDir dir(TestDir::Empty);
    // Stand-ins for the real programs on PATH: if one ran, the helper was bypassed.
    QDir().mkpath("fakebin");
    for (const char* name : {"reboot", "init", "mount", "umount", "date", "hwclock", "sync"}) {
        const QString f = QString("fakebin/") + name;
        writeText(f, "#!/bin/sh\necho \"bypassed $0 $*\" >> \"$STATION_TEST_LOG\"\n");
        QFile::setPermissions(f, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    writeText("helper", "#!/bin/sh\necho \"helper $*\" >> \"$STATION_TEST_LOG\"\n");
    QFile::setPermissions("helper", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", QDir::current().absoluteFilePath("fakebin").toLocal8Bit() + ":" + oldPath);
    qputenv("STATION_TEST_LOG", QDir::current().absoluteFilePath("calls.log").toLocal8Bit());
    qputenv("STATION_HOST_HELPER", QDir::current().absoluteFilePath("helper").toLocal8Bit() + " --as-root");
    {
        platform::Host host(true);
        EXPECT_TRUE(host.reboot());
        EXPECT_TRUE(host.powerOff());
        EXPECT_TRUE(host.mount("/dev/sdb1", "/mnt"));
        EXPECT_TRUE(host.umount("/mnt"));
        EXPECT_TRUE(host.setTime(QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7))));
        EXPECT_TRUE(host.hwclockSysToHc());
    }
    qunsetenv("STATION_HOST_HELPER");
    qputenv("PATH", oldPath);
    EXPECT_EQ(readText("calls.log").split('\n', Qt::SkipEmptyParts),
              (QStringList{"helper --as-root reboot", "helper --as-root poweroff", "helper --as-root mount /dev/sdb1 /mnt",
                           "helper --as-root umount /mnt", "helper --as-root set-time 2026-03-04T05:06:07",
                           "helper --as-root hwclock --systohc"}));
}

TEST(HostHelper, RefusesEverythingOutsideItsList)
{
    TestDir dir(TestDir::Empty);
    const QString helper = QString(STATION_SOURCE_DIR) + "/packaging/station-host";
    const QList<QStringList> refused = {
        {"frobnicate"}, {}, {"reboot", "now"}, {"mount", "/dev/sda1", "/etc"}, {"mount", "/dev/mmcblk0p1", "/mnt"},
        {"mount", "/dev/sda1;id", "/mnt"}, {"umount", "/"}, {"set-time", "tomorrow"}, {"set-time", "2026-01-01T00:00:00;id"},
        {"hwclock", "--hctosys"},
    };
    for (const QStringList& args : refused) {
        QProcess p;
        p.start(helper, args);
        ASSERT_TRUE(p.waitForFinished(5000));
        EXPECT_EQ(p.exitCode(), 2) << args.join(' ').toStdString();
        EXPECT_TRUE(p.readAllStandardError().startsWith("station-host: refused")) << args.join(' ').toStdString();
    }
}
