#include "Host.h"
#include "Globals.h"
#include "Messages.h"
#include "RemovableDisk.h"
#include "TestDir.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>
#include <QCoreApplication>

using disk::Outcome;

namespace {

// Relative path -> content hash of every file below dir.
QMap<QString, QByteArray> tree(const QString& dir)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        f.open(QIODevice::ReadOnly);
        files.insert(QDir(dir).relativeFilePath(path), QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1));
    }
    return files;
}

// A station directory with nested folders, a hidden file and a bigger picture.
void makeStationData(const QString& root, int pictures = 3)
{
    QDir(root).mkpath("originalimage/cammer00");
    QDir(root).mkpath("ResStatistics");
    QDir(root).mkpath("empty");
    writeText(root + "/PARAM.db", QByteArray(5000, 'p'));
    writeText(root + "/.hidden", "h");
    writeText(root + "/ResStatistics/2026-12-01.db", "day");
    for (int i = 0; i < pictures; ++i) {
        QByteArray picture(700 * 1024, char(i));
        picture[17] = 'x';
        writeText(root + QStringLiteral("/originalimage/cammer00/template%1.bmp").arg(i), picture);
    }
}

QString run(const QString& program, const QStringList& args, int* exitCode = nullptr)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    p.waitForFinished(120000);
    if (exitCode)
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromLocal8Bit(p.readAll());
}

} // namespace

TEST(DiskBlkid, TakesTheFirstRemovablePartitionListedAfterTheSystemDisk)
{
    const QString lines =
        "/dev/sda1: UUID=\"a\" TYPE=\"ext4\" PARTUUID=\"1\"\n"
        "/dev/sda2: UUID=\"b\" TYPE=\"vfat\"\n"          // on the system disk: the panel's own
        "/dev/sdb1: LABEL=\"USB\" UUID=\"c\" TYPE=\"vfat\"\n"
        "/dev/sdc1: UUID=\"d\" TYPE=\"exfat\"\n"
        "/dev/sdd1: UUID=\"e\" TYPE=\"ntfs\"\n"
        "/dev/sde1: UUID=\"f\" TYPE=\"xfs\"\n";
    const disk::BlkidDisks d = disk::parseBlkid(lines);
    EXPECT_EQ(d.systemDisk, "/dev/sda");
    EXPECT_EQ(d.removable, (QStringList{"/dev/sdb1", "/dev/sdc1", "/dev/sdd1"}));

    // Listed before the system disk, or no ext4 at all: nothing.
    EXPECT_TRUE(disk::parseBlkid("/dev/sdb1: TYPE=\"vfat\"\n/dev/sda1: TYPE=\"ext4\"\n").removable.isEmpty());
    EXPECT_TRUE(disk::parseBlkid("/dev/sdb1: TYPE=\"vfat\"\n/dev/sdc1: TYPE=\"exfat\"\n").removable.isEmpty());
    // The type word must be the TYPE tag, not a label that happens to say it.
    EXPECT_TRUE(disk::parseBlkid("/dev/sda1: TYPE=\"ext4\"\n/dev/sdb1: LABEL=\"vfat\" TYPE=\"iso9660\"\n").removable.isEmpty());
}

TEST(DiskUpdate, TargetNameFollowsTheArchiveExtension)
{
    EXPECT_EQ(disk::updateTargetName("/mnt/station-2.1.tar.gz"), "newupdate.tar.gz");
    EXPECT_EQ(disk::updateTargetName("/mnt/station.tar.xz"), "newupdate.tar.xz");
    EXPECT_EQ(disk::updateTargetName("/mnt/station.rar"), "newupdate.rar");
    EXPECT_EQ(disk::updateTargetName("/mnt/station.tar.bz2"), QString());
    EXPECT_EQ(disk::updateTargetName("/mnt/station.zip"), QString());
    // Only the file's name decides, not a folder on its way.
    EXPECT_EQ(disk::updateTargetName("/mnt/x.tar.gz/readme.txt"), QString());
}

TEST(DiskDryRun, FindsNoDiskAndMountsNothing)
{
    TestDir dir(TestDir::Empty);
    LoadLanStr();
    disk::RemovableDisk d;
    EXPECT_EQ(d.FindAU(), QString());
    EXPECT_EQ(hostActions(), QStringList{"blkid"});
}

TEST(DiskExport, CopiesEveryFileIntoAFolderThatNeverCollides)
{
    TestDir dir(TestDir::Empty);
    LoadLanStr();
    QTemporaryDir station, mountPoint;
    makeStationData(station.path());
    const auto before = tree(station.path());
    disk::RemovableDisk d(mountPoint.path(), QString());
    disk::Progress progress;
    const disk::CopyResult first = d.exportDirectory(station.path(), "2026-12-09_10.00.00", &progress);
    ASSERT_TRUE(first.ok()) << disk::describe(first).toStdString();
    const QString top = QFileInfo(station.path()).fileName();
    EXPECT_EQ(tree(first.target + "/" + top), before);
    EXPECT_TRUE(QDir(first.target + "/" + top + "/empty").exists());
    EXPECT_EQ(progress.percent(), 100);
    EXPECT_EQ(progress.filesDone.load(), before.size());

    // The same minute again: a second folder, the first one untouched.
    const disk::CopyResult second = d.exportDirectory(station.path(), "2026-12-09_10.00.00");
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(second.target, mountPoint.path() + "/2026-12-09_10.00.00-2");
    EXPECT_EQ(tree(first.target + "/" + top), before);
    EXPECT_EQ(tree(station.path()), before);
}

TEST(DiskUpdate, CopyInReplacesTheTargetOnlyWhenComplete)
{
    TestDir dir(TestDir::Empty);
    writeText("newupdate.tar.gz", "old");
    QTemporaryDir mountPoint;
    writeText(mountPoint.path() + "/station-2.tar.gz", QByteArray(3 << 20, 'u'));
    disk::CopyResult r = disk::RemovableDisk::copyIn(mountPoint.path() + "/station-2.tar.gz", "newupdate.tar.gz");
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.bytes, 3 << 20);
    EXPECT_EQ(QFileInfo("newupdate.tar.gz").size(), 3 << 20);
    EXPECT_FALSE(QFile::exists("newupdate.tar.gz.part"));

    // A file that vanished from the disk: the archive there before stays.
    writeText("newupdate.tar.gz", "old");
    r = disk::RemovableDisk::copyIn(mountPoint.path() + "/gone.tar.gz", "newupdate.tar.gz");
    EXPECT_EQ(r.outcome, Outcome::ReadFailed);
    EXPECT_EQ(readText("newupdate.tar.gz"), "old");
}

// --- a real disk: FAT and ext4 images on loop devices, in a mount namespace of the test's own ---

namespace {

bool insideDiskWorld() { return qgetenv("STATION_DISK_WORLD") == "1"; }

// One image file attached to a loop device for the life of the object, seen
// through a device node named like a panel's disk (sda1, sdb1...): blkid
// and mount name it so, and loop devices would all share the name "/dev/loop".
struct LoopImage {
    QString image, loop, device;
    LoopImage(const QString& dir, const QString& name, int megabytes, const QStringList& mkfs)
    {
        image = dir + "/" + name + ".img";
        QFile f(image);
        if (!f.open(QIODevice::WriteOnly) || !f.resize(qint64(megabytes) << 20))
            return;
        f.close();
        int rc = 0;
        const QString out = run(mkfs.first(), mkfs.mid(1) + QStringList{image}, &rc);
        if (rc != 0) {
            ADD_FAILURE() << out.toStdString();
            return;
        }
        loop = run("losetup", {"--find", "--show", image}, &rc).trimmed();
        if (rc != 0 || !loop.startsWith("/dev/loop")) {
            loop.clear();
            return;
        }
        device = dir + "/" + name;
        if (run("mknod", {device, "b", "7", loop.mid(9)}, &rc), rc != 0)
            device.clear();
    }
    ~LoopImage()
    {
        if (!loop.isEmpty())
            run("losetup", {"-d", loop});
    }
};

// FAT where the kernel has it; else NTFS through FUSE (ntfs-3g), the other
// kind of USB disk the station takes.
QStringList usbMkfs()
{
    QFile f("/proc/filesystems");
    f.open(QIODevice::ReadOnly);
    if (f.readAll().contains("vfat"))
        return {"mkfs.vfat", "-s", "4"};  // 2 KiB clusters
    return {"mkntfs", "-F", "-Q", "-q"};
}

struct DiskWorld {
    QTemporaryDir images;
    std::unique_ptr<LoopImage> system, usb, small;
    DiskWorld()
    {
        system = std::make_unique<LoopImage>(images.path(), "sda1", 8, QStringList{"mkfs.ext4", "-q", "-F"});
        usb = std::make_unique<LoopImage>(images.path(), "sdb1", 32, usbMkfs());
        small = std::make_unique<LoopImage>(images.path(), "sdc1", 4, usbMkfs());
    }
    bool ready() const { return !system->device.isEmpty() && !usb->device.isEmpty() && !small->device.isEmpty(); }
};

bool mntMounted()
{
    QFile f("/proc/self/mounts");
    f.open(QIODevice::ReadOnly);
    return f.readAll().contains(" /mnt ");
}

} // namespace

// Runs the DISABLED_DiskInside tests below in a private mount namespace:
// whatever they mount disappears with the namespace, the host's mounts are never touched.
TEST(DiskWorld, RealDiskTestsPassInAPrivateMountNamespace)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root for loop devices and a mount namespace";
    for (const char* tool : {"unshare", "losetup", "mkfs.vfat", "mkntfs", "mkfs.ext4", "blkid"})
        if (QStandardPaths::findExecutable(tool).isEmpty() &&
            QStandardPaths::findExecutable(tool, {"/usr/sbin", "/sbin"}).isEmpty())
            GTEST_SKIP() << tool << " is missing";
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("STATION_DISK_WORLD", "1");
    env.remove("STATION_PLATFORM");
    p.setProcessEnvironment(env);
    p.start("unshare", {"--mount", "--propagation", "private", QCoreApplication::applicationFilePath(),
                        "--gtest_also_run_disabled_tests", "--gtest_filter=DISABLED_DiskInside.*"});
    ASSERT_TRUE(p.waitForFinished(240000));
    const QString out = QString::fromLocal8Bit(p.readAll());
    if (out.contains("no loop device"))
        GTEST_SKIP() << "this machine has no loop devices";
    EXPECT_EQ(p.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("[  PASSED  ] 5 tests")) << out.toStdString();
    EXPECT_FALSE(mntMounted()) << "a mount leaked out of the namespace";
}

class DISABLED_DiskInside : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(insideDiskWorld());
        LoadLanStr();
        gLan = 1;
        if (!world.ready()) {
            std::printf("no loop device\n");
            GTEST_SKIP();
        }
    }
    void TearDown() override
    {
        platform::Host::instance().setDiskReal(false);
        while (mntMounted())
            run("umount", {"/mnt"});
    }
    void disks(const QStringList& order) { platform::Host::instance().setDiskReal(true, order); }

    TestDir dir{TestDir::Empty};
    DiskWorld world;
};

TEST_F(DISABLED_DiskInside, ExportsAWorkingDirectoryFileByFile)
{
    disks({world.system->device, world.usb->device});
    QTemporaryDir station;
    makeStationData(station.path());
    const auto before = tree(station.path());
    disk::RemovableDisk d;
    ASSERT_EQ(d.FindAU(), "/mnt");
    const disk::CopyResult r = d.exportDirectory(station.path(), "2026-12-09_10.00.00");
    ASSERT_TRUE(r.ok()) << disk::describe(r).toStdString();
    EXPECT_TRUE(d.release());
    EXPECT_FALSE(mntMounted());

    // Read back from a fresh mount, not from the page cache of the first.
    ASSERT_EQ(d.FindAU(), "/mnt");
    EXPECT_EQ(tree("/mnt/2026-12-09_10.00.00/" + QFileInfo(station.path()).fileName()), before);
    EXPECT_EQ(tree(station.path()), before);
}

TEST_F(DISABLED_DiskInside, FindsTheDiskOnlyAfterTheSystemDiskAndUnmountsWhatWasThere)
{
    disk::RemovableDisk d;
    disks({world.usb->device});
    EXPECT_EQ(d.FindAU(), QString()) << "no ext4 line";
    disks({world.usb->device, world.system->device});
    EXPECT_EQ(d.FindAU(), QString()) << "listed before the system disk";
    EXPECT_FALSE(mntMounted());

    // Something already on /mnt goes first; then the first disk after ext4, not the second.
    run("mount", {"-t", "tmpfs", "leftover", "/mnt"});
    ASSERT_TRUE(mntMounted());
    disks({world.system->device, world.small->device, world.usb->device});
    EXPECT_EQ(d.FindAU(), "/mnt");
    QFile mounts("/proc/self/mounts");
    mounts.open(QIODevice::ReadOnly);
    const QString m = QString::fromLocal8Bit(mounts.readAll());
    EXPECT_TRUE(m.contains(world.small->device + " /mnt ")) << m.toStdString();
    EXPECT_FALSE(m.contains("leftover"));
}

TEST_F(DISABLED_DiskInside, ADiskTooSmallIsRefusedBeforeAnythingIsWritten)
{
    disks({world.system->device, world.small->device});
    QTemporaryDir station;
    makeStationData(station.path(), 6);  // 4.2 MB of pictures on a 4 MiB disk
    disk::RemovableDisk d;
    ASSERT_EQ(d.FindAU(), "/mnt");
    const disk::CopyResult r = d.exportDirectory(station.path(), "full");
    EXPECT_EQ(r.outcome, Outcome::NoSpace);
    EXPECT_TRUE(disk::describe(r).contains("MB needed")) << disk::describe(r).toStdString();
    EXPECT_TRUE(QDir("/mnt").entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}

TEST_F(DISABLED_DiskInside, ADiskThatFillsUpEndsWithAClearMessageAndNoHalfExport)
{
    disks({world.system->device, world.small->device});
    QTemporaryDir station;
    // Few bytes, many clusters: passes the space check, then fills the disk.
    QDir(station.path()).mkpath("records");
    for (int i = 0; i < 4000; ++i)
        writeText(station.path() + QStringLiteral("/records/r%1.txt").arg(i), QByteArray(100, 'r'));
    const auto before = tree(station.path());
    disk::RemovableDisk d;
    ASSERT_EQ(d.FindAU(), "/mnt");
    const disk::CopyResult r = d.exportDirectory(station.path(), "filling");
    ASSERT_EQ(r.outcome, Outcome::NoSpace) << disk::describe(r).toStdString();
    EXPECT_TRUE(disk::describe(r).contains("is full")) << disk::describe(r).toStdString();
    EXPECT_TRUE(r.failedPath.contains("/records/r"));
    EXPECT_FALSE(QDir("/mnt/filling").exists()) << "the incomplete export stays on the disk";
    EXPECT_EQ(tree(station.path()), before);
}

TEST_F(DISABLED_DiskInside, ADiskPulledOutMidCopyIsReportedNotSucceeded)
{
    disks({world.system->device, world.usb->device});
    // A mount point of the test's own: after the disk has gone, nothing may be
    // written to the directory below it.
    QTemporaryDir station, point;
    QDir(station.path()).mkpath("pictures");
    for (int i = 0; i < 400; ++i)
        writeText(station.path() + QStringLiteral("/pictures/p%1.bmp").arg(i), QByteArray(64 * 1024, char(i)));
    disk::RemovableDisk d(point.path(), "/proc/self/mounts");
    ASSERT_EQ(d.FindAU(), point.path());
    disk::Progress progress;
    disk::CopyResult r;
    std::thread copy([&] { r = d.exportDirectory(station.path(), "pulled", &progress); });
    while (progress.filesDone.load() < 10)
        std::this_thread::yield();
    run("umount", {"-l", point.path()});
    copy.join();
    EXPECT_EQ(r.outcome, Outcome::WriteFailed);
    EXPECT_TRUE(disk::describe(r).contains("pulled out")) << disk::describe(r).toStdString();
    EXPECT_TRUE(QDir(point.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty())
        << "files were written below the mount point";
}
