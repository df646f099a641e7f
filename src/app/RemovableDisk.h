#pragma once
// The USB disk: found among the block devices, mounted on /mnt through the
// host seam, and the copies that go onto it or come from it. Every copy is
// done with Qt file operations and checked; a failure is reported with what
// failed, never as success.
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>

namespace disk {

// What blkid said, in its line order: the system disk (the disk of the first
// ext4 partition, partition digits stripped) and the vfat/ntfs/exfat
// partitions listed after it that are not on it.
struct BlkidDisks {
    QString systemDisk;
    QStringList removable;
};
BlkidDisks parseBlkid(const QString& output);

// The name an update archive is copied to in the working directory:
// "newupdate.tar.gz", "newupdate.tar.xz" or "newupdate.rar"; empty when the
// selected file is none of those.
QString updateTargetName(const QString& selectedFile);

// A folder name under parent that does not exist yet: base, else base-2, base-3 ...
QString freeName(const QString& parent, const QString& base);

// How far a long copy is, for the progress box (written by the copying thread).
struct Progress {
    std::atomic<qint64> bytesDone{0};
    std::atomic<qint64> bytesTotal{0};
    std::atomic<int> filesDone{0};
    std::atomic<int> filesTotal{0};
    std::atomic<bool> cancel{false};
    int percent() const
    {
        const qint64 total = bytesTotal.load();
        return total <= 0 ? 0 : int(bytesDone.load() * 100 / total);
    }
};

enum class Outcome { Done, NoDisk, NoSpace, WriteFailed, ReadFailed, Cancelled };

struct CopyResult {
    Outcome outcome = Outcome::Done;
    QString target;      // the folder or file written on the disk
    QString failedPath;  // the file that could not be written or read
    QString detail;      // the file system's own error text
    qint64 bytes = 0;
    int files = 0;
    QStringList leftOut;  // what the source held and the copy left out on purpose
    bool ok() const { return outcome == Outcome::Done; }
};

class RemovableDisk {
public:
    // An empty mountsFile: the mount point is a plain folder standing for a disk.
    explicit RemovableDisk(QString mountPoint = QStringLiteral("/mnt"),
                           QString mountsFile = QStringLiteral("/proc/mounts"));

    // The mount point when a removable disk was found and is mounted there
    // now, else an empty string.
    QString FindAU();
    // Whether anything is mounted on the mount point according to the mounts file.
    bool mounted() const;
    QString mountPoint() const { return m_mountPoint; }

    // Copies the directory source into a new folder (name, made unique) on
    // the disk, file by file. Space is checked first; a full or removed disk
    // stops the copy, removes the partial file and reports which file it was.
    // The source is only read. Paths in leaveOut (relative to source, each
    // with its "-journal"/"-wal" companions) are not copied.
    CopyResult exportDirectory(const QString& source, const QString& name, Progress* progress = nullptr,
                               const QStringList& leaveOut = {}) const;
    // Copies one file from the disk to target (replacing it only when the
    // whole copy succeeded).
    static CopyResult copyIn(const QString& diskFile, const QString& target, Progress* progress = nullptr);
    // Moves a file produced in the working directory onto the disk under
    // name; the original is removed only after the copy is complete.
    CopyResult moveOnto(const QString& file, const QString& name) const;

    // sync and umount of the mount point.
    bool release() const;

private:
    QString readMounts() const;

    QString m_mountPoint;
    QString m_mountsFile;
};

// The operator's text for a copy result (message table, current language).
QString describe(const CopyResult& result);

} // namespace disk
