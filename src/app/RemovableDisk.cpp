#include "RemovableDisk.h"

#include "Host.h"
#include "Messages.h"

#include <algorithm>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QTextStream>
#include <QtDebug>

#include <sys/stat.h>
#include <unistd.h>

namespace disk {

namespace {

QString deviceOf(const QString& line) { return line.section(':', 0, 0).trimmed(); }

bool hasType(const QString& line, const char* type)
{
    return line.contains(QStringLiteral("TYPE=\"%1\"").arg(QLatin1String(type)));
}

constexpr qint64 kChunk = 1 << 20;

dev_t deviceOfPath(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_dev : dev_t(0);
}

// Copies one file; on failure the partial target is removed and result says why.
bool copyFile(const QString& from, const QString& to, Progress* progress, CopyResult* result)
{
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly)) {
        result->outcome = Outcome::ReadFailed;
        result->failedPath = from;
        result->detail = in.errorString();
        return false;
    }
    QFile out(to);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        result->outcome = errno == ENOSPC ? Outcome::NoSpace : Outcome::WriteFailed;
        result->failedPath = to;
        result->detail = out.errorString();
        return false;
    }
    auto failWrite = [&](const QString& why, bool full) {
        result->outcome = full ? Outcome::NoSpace : Outcome::WriteFailed;
        result->failedPath = to;
        result->detail = why;
        out.close();
        out.remove();
        return false;
    };
    QByteArray buffer;
    for (;;) {
        if (progress && progress->cancel.load()) {
            result->outcome = Outcome::Cancelled;
            out.close();
            out.remove();
            return false;
        }
        buffer = in.read(kChunk);
        if (buffer.isEmpty()) {
            if (in.error() != QFileDevice::NoError) {
                result->outcome = Outcome::ReadFailed;
                result->failedPath = from;
                result->detail = in.errorString();
                out.close();
                out.remove();
                return false;
            }
            break;
        }
        if (out.write(buffer) != buffer.size())
            return failWrite(out.errorString(), errno == ENOSPC || out.error() == QFileDevice::ResourceError);
        result->bytes += buffer.size();
        if (progress)
            progress->bytesDone += buffer.size();
    }
    // The data must be on the disk before it counts as copied: a pulled-out
    // disk shows here, not after the success message.
    if (!out.flush())
        return failWrite(out.errorString(), errno == ENOSPC || out.error() == QFileDevice::ResourceError);
    if (::fsync(out.handle()) != 0) {
        const int e = errno;
        return failWrite(QString::fromLocal8Bit(strerror(e)), e == ENOSPC);
    }
    out.close();
    ++result->files;
    if (progress)
        ++progress->filesDone;
    return true;
}

} // namespace

BlkidDisks parseBlkid(const QString& output)
{
    BlkidDisks disks;
    static const QRegularExpression partitionDigits(QStringLiteral("\\d+$"));
    for (const QString& line : output.split('\n', Qt::SkipEmptyParts)) {
        if (hasType(line, "ext4")) {
            QString dev = deviceOf(line);
            dev.remove(partitionDigits);
            disks.systemDisk = dev;
        } else if (hasType(line, "vfat") || hasType(line, "ntfs") || hasType(line, "exfat")) {
            const QString dev = deviceOf(line);
            // Only partitions listed after the system disk, and not on it.
            if (!disks.systemDisk.isEmpty() && !dev.contains(disks.systemDisk))
                disks.removable << dev;
        }
    }
    return disks;
}

QString updateTargetName(const QString& selectedFile)
{
    const QString name = QFileInfo(selectedFile).fileName();
    if (name.contains(QLatin1String(".tar.gz")))
        return QStringLiteral("newupdate.tar.gz");
    if (name.contains(QLatin1String(".tar.xz")))
        return QStringLiteral("newupdate.tar.xz");
    if (name.contains(QLatin1String(".rar")))
        return QStringLiteral("newupdate.rar");
    return {};
}

QString freeName(const QString& parent, const QString& base)
{
    const QDir dir(parent);
    QString name = base;
    for (int n = 2; dir.exists(name); ++n)
        name = QStringLiteral("%1-%2").arg(base).arg(n);
    return name;
}

RemovableDisk::RemovableDisk(QString mountPoint, QString mountsFile)
    : m_mountPoint(std::move(mountPoint)), m_mountsFile(std::move(mountsFile))
{
}

QString RemovableDisk::readMounts() const
{
    QFile f(m_mountsFile);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qWarning() << "cannot read" << m_mountsFile << f.errorString();
        return {};
    }
    // /proc files report size 0: read to the end.
    return QString::fromLocal8Bit(f.readAll());
}

bool RemovableDisk::mounted() const
{
    const QString needle = QLatin1Char(' ') + m_mountPoint + QLatin1Char(' ');
    return readMounts().contains(needle);
}

QString RemovableDisk::FindAU()
{
    platform::Host& host = platform::Host::instance();
    const BlkidDisks disks = parseBlkid(host.blkid({}));
    if (disks.removable.isEmpty())
        return {};
    const QString candidate = disks.removable.first();
    // Whatever is on the mount point goes first, once per line that names it.
    for (const QString& line : readMounts().split('\n', Qt::SkipEmptyParts))
        if (line.contains(m_mountPoint))
            host.umount(m_mountPoint);
    host.mount(candidate, m_mountPoint);
    if (readMounts().contains(candidate + QLatin1Char(' ') + m_mountPoint))
        return m_mountPoint;
    return {};
}

CopyResult RemovableDisk::exportDirectory(const QString& source, const QString& name, Progress* progress,
                                          const QStringList& leaveOut) const
{
    CopyResult result;
    if (!m_mountsFile.isEmpty() && !mounted()) {
        result.outcome = Outcome::NoDisk;
        return result;
    }
    // The disk that is there now: once it is gone, nothing more is written
    // to whatever lies below the mount point.
    const dev_t diskDevice = deviceOfPath(m_mountPoint);
    const QDir src(source);
    QStringList dirs, files;
    qint64 total = 0;
    QDirIterator it(src.absolutePath(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo fi = it.fileInfo();
        if (fi.isSymLink())
            continue;  // FAT keeps no links; what they point at is exported where it lives
        const QString rel = src.relativeFilePath(fi.absoluteFilePath());
        const bool left = std::any_of(leaveOut.begin(), leaveOut.end(), [&rel](const QString& l) {
            return rel == l || rel.startsWith(l + QLatin1Char('-'));
        });
        if (left) {
            result.leftOut << rel;
            continue;
        }
        if (fi.isDir()) {
            dirs << rel;
        } else if (fi.isFile()) {
            files << rel;
            total += fi.size();
        }
    }
    if (progress) {
        progress->bytesTotal = total;
        progress->filesTotal = int(files.size());
    }
    const QStorageInfo storage(m_mountPoint);
    if (storage.isValid() && storage.bytesAvailable() < total) {
        result.outcome = Outcome::NoSpace;
        result.bytes = total;
        result.detail = QString::number(storage.bytesAvailable());
        return result;
    }

    const QString folder = freeName(m_mountPoint, name);
    const QDir mountDir(m_mountPoint);
    // The working directory's own name inside the export folder, as a copy of the directory.
    const QString top = folder + QLatin1Char('/') + QFileInfo(src.absolutePath()).fileName();
    result.target = mountDir.filePath(folder);
    auto removePartial = [&] {
        QDir(result.target).removeRecursively();
    };
    if (deviceOfPath(m_mountPoint) != diskDevice || !mountDir.mkpath(top)) {
        result.outcome = Outcome::WriteFailed;
        result.failedPath = mountDir.filePath(top);
        result.detail = QStringLiteral("cannot make the folder");
        return result;
    }
    const QDir dest(mountDir.filePath(top));
    for (const QString& d : std::as_const(dirs)) {
        if (deviceOfPath(m_mountPoint) != diskDevice || !dest.mkpath(d)) {
            result.outcome = Outcome::WriteFailed;
            result.failedPath = dest.filePath(d);
            result.detail = QStringLiteral("cannot make the folder");
            removePartial();
            return result;
        }
    }
    for (const QString& f : std::as_const(files)) {
        const QString from = src.filePath(f);
        // The station may remove an old picture while the copy runs: it is simply not exported.
        if (!QFileInfo::exists(from))
            continue;
        if (deviceOfPath(m_mountPoint) != diskDevice) {
            result.outcome = Outcome::WriteFailed;
            result.failedPath = dest.filePath(f);
            result.detail = LanStr(1539);
            return result;
        }
        if (!copyFile(from, dest.filePath(f), progress, &result)) {
            if (result.outcome == Outcome::ReadFailed && !QFileInfo::exists(from)) {
                result.outcome = Outcome::Done;
                continue;
            }
            removePartial();
            return result;
        }
    }
    return result;
}

CopyResult RemovableDisk::copyIn(const QString& diskFile, const QString& target, Progress* progress)
{
    CopyResult result;
    result.target = target;
    if (progress) {
        progress->bytesTotal = QFileInfo(diskFile).size();
        progress->filesTotal = 1;
    }
    // Into a side file first: a failed copy leaves an older archive as it was.
    const QString part = target + QStringLiteral(".part");
    QFile::remove(part);
    if (!copyFile(diskFile, part, progress, &result))
        return result;
    QFile::remove(target);
    if (!QFile::rename(part, target)) {
        result.outcome = Outcome::WriteFailed;
        result.failedPath = target;
        result.detail = QStringLiteral("rename failed");
        QFile::remove(part);
    }
    return result;
}

CopyResult RemovableDisk::moveOnto(const QString& file, const QString& name) const
{
    CopyResult result;
    const QString target = QDir(m_mountPoint).filePath(name);
    result.target = target;
    if (!copyFile(file, target, nullptr, &result))
        return result;
    if (!QFile::remove(file))
        qWarning() << "exported file stays in the working directory:" << file;
    return result;
}

bool RemovableDisk::release() const
{
    platform::Host& host = platform::Host::instance();
    const bool synced = host.sync();
    return host.umount(m_mountPoint) && synced;
}

QString describe(const CopyResult& r)
{
    const QString file = QFileInfo(r.failedPath).fileName();
    switch (r.outcome) {
    case Outcome::Done:
        return LanStr(1501);
    case Outcome::NoDisk:
        return LanStr(1509);
    case Outcome::NoSpace:
        if (r.failedPath.isEmpty())
            return LanStr(1511)
                .arg(QString::number(double(r.bytes) / 1e6, 'f', 1), QString::number(r.detail.toDouble() / 1e6, 'f', 1));
        return LanStr(1512).arg(file);
    case Outcome::WriteFailed:
        return LanStr(1513).arg(r.failedPath, r.detail);
    case Outcome::ReadFailed:
        return LanStr(1514).arg(r.failedPath, r.detail);
    case Outcome::Cancelled:
        return LanStr(1515);
    }
    return {};
}

} // namespace disk
