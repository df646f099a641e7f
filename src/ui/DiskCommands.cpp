#include "DiskCommands.h"

#include "Boxes.h"
#include "DiVeZoruzo.h"
#include "Globals.h"
#include "Host.h"
#include "Messages.h"
#include "OperationRecord.h"
#include "Panel.h"
#include "StartupFiles.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QThread>
#include <QTimer>
#include <QtDebug>
#include <thread>

DiskCommands* gpDiskCommands = nullptr;

DiskCommands::DiskCommands(QWidget* parent) : QObject(parent), m_parent(parent) {}

QString DiskCommands::simulatedDisk()
{
    if (platform::Host::instance().isPanel())
        return {};
    return qEnvironmentVariable("STATION_USB_DISK");
}

QString DiskCommands::findDisk()
{
    const QString simulated = simulatedDisk();
    if (simulated.isEmpty())
        return disk.FindAU();
    disk = disk::RemovableDisk(simulated, QString());
    return QFileInfo::exists(simulated) ? simulated : QString();
}

QString DiskCommands::chooseUpdate(const QString& dir)
{
    QFileDialog dialog(m_parent, QString(), dir, QStringLiteral("*.[r,t]ar*"));
    dialog.setObjectName("updateChooser");
    dialog.setViewMode(QFileDialog::List);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty() ? dialog.selectedFiles().first()
                                                                                    : QString();
}

void DiskCommands::tell(const QString& text)
{
    m_lastMessage = text;
    gpWarnBox->showMessage(text);
}

void DiskCommands::release()
{
    if (!disk.release())
        tell(LanStr(1521));
}

bool DiskCommands::promptForDisk()
{
    // Unattended, a "yes" would ask for ever: three looks, then give up.
    const bool unattended = autoAnswer().has_value();
    for (int tries = 0;; ++tries) {
        if (!findDisk().isEmpty())
            return true;
        if (unattended && tries >= 2)
            return false;
        if (gpChooseBox->ask(LanStr(1509)) != 1)
            return false;
    }
}

disk::CopyResult DiskCommands::withProgress(const std::function<disk::CopyResult(disk::Progress*)>& work)
{
    disk::Progress progress;
    disk::CopyResult result;
    bool done = false;
    QEventLoop loop;
    QTimer tick;
    WarnBox box(m_parent);
    box.showProgress(LanStr(1518).arg(0), LanStr(1528));
    QObject::connect(&box, &QDialog::rejected, [&] { progress.cancel = true; });
    QObject::connect(&box, &QDialog::accepted, [&] { progress.cancel = true; });
    QObject::connect(&tick, &QTimer::timeout, [&] {
        box.showProgress(LanStr(1518).arg(progress.percent()), LanStr(1528));
        if (done)
            loop.quit();
    });
    std::thread worker([&] {
        result = work(&progress);
        QMetaObject::invokeMethod(&tick, [&] { done = true; }, Qt::QueuedConnection);
    });
    tick.start(200);
    loop.exec();
    worker.join();
    box.hideMessage();
    return result;
}

bool DiskCommands::SlotExportData()
{
    if (gpChooseBox->ask(LanStr(1500)) != 1 || !promptForDisk())
        return false;
    const QString name = QDateTime::currentDateTime().toString("yyyy-MM-dd_hh.mm.ss");
    const QString source = QDir::currentPath();
    // The accounts' passwords and the broker's stay on the station.
    static const QStringList kSecrets{QStringLiteral("UserDataBase.db"), QStringLiteral("cnt_net/client.conf")};
    const disk::CopyResult r =
        withProgress([&](disk::Progress* p) { return disk.exportDirectory(source, name, p, kSecrets); });
    if (!r.ok()) {
        OperationRecord::instance().InsertRecord(LanStr(1520).arg(disk::describe(r)));
        release();
        tell(disk::describe(r));
        return false;
    }
    // The raw pictures are on the disk now; only then are they cleared here.
    const int cameras = numCamera;
    QStringList notCleared;
    for (int c = 1; c <= cameras; ++c)
        for (int d = 1; d <= kMaxDetections; ++d) {
            QDir raw(QStringLiteral("./originalimage/cammer%1%2").arg(c).arg(d));
            for (const QString& f : raw.entryList(QDir::Files | QDir::Hidden))
                if (!raw.remove(f))
                    notCleared << raw.filePath(f);
        }
    OperationRecord::instance().InsertRecord(LanStr(1519).arg(QFileInfo(r.target).fileName()));
    const QString leftOut = r.leftOut.isEmpty() ? QString() : LanStr(1893).arg(r.leftOut.join(", "));
    if (!leftOut.isEmpty())
        OperationRecord::instance().InsertRecord(leftOut);
    release();
    if (!notCleared.isEmpty()) {
        tell(LanStr(1522).arg(notCleared.first()));
        return false;
    }
    tell(leftOut.isEmpty() ? LanStr(1501) : LanStr(1501) + "\n" + leftOut);
    return true;
}

bool DiskCommands::SlotUpdateApp()
{
    if (!promptForDisk())
        return false;
    const QString selected = chooseUpdate(disk.mountPoint());
    if (selected.isEmpty() || gpChooseBox->ask(LanStr(1510)) != 1) {
        release();
        return false;
    }
    const QString target = disk::updateTargetName(selected);
    if (target.isEmpty()) {
        release();
        tell(LanStr(1517).arg(QFileInfo(selected).fileName()));
        return false;
    }
    const disk::CopyResult r =
        withProgress([&](disk::Progress* p) { return disk::RemovableDisk::copyIn(selected, "./" + target, p); });
    if (!r.ok()) {
        OperationRecord::instance().InsertRecord(LanStr(1520).arg(disk::describe(r)));
        release();
        tell(disk::describe(r));
        return false;
    }
    // What was installed can be told later: the archive's own name and size.
    OperationRecord::instance().InsertRecord(LanStr(1516).arg(QFileInfo(selected).fileName()).arg(r.bytes));
    release();
    RestartStation();
    return true;
}

bool DiskCommands::putOnDisk(const QString& file, const QString& name)
{
    const QFileInfo fi(name);
    QString free = name;
    for (int n = 2; QFileInfo::exists(QDir(disk.mountPoint()).filePath(free)); ++n)
        free = QStringLiteral("%1-%2.%3").arg(fi.completeBaseName()).arg(n).arg(fi.suffix());
    const disk::CopyResult r = disk.moveOnto(file, free);
    release();
    if (!r.ok()) {
        OperationRecord::instance().InsertRecord(LanStr(1520).arg(disk::describe(r)));
        tell(disk::describe(r));
        return false;
    }
    tell(LanStr(1501));
    return true;
}
