#pragma once
// The maintenance commands that use the USB disk: the disk prompt, the data
// export of the working directory, the program update, and putting an
// exported workbook onto the disk. Long copies run on a worker thread with
// the progress shown, so the cycle keeps running meanwhile.
#include "RemovableDisk.h"

#include <QObject>
#include <functional>

class QWidget;

class DiskCommands : public QObject {
    Q_OBJECT
public:
    explicit DiskCommands(QWidget* parent = nullptr);

    // Looks for a disk until one is mounted or the operator gives up.
    bool promptForDisk();
    // The data export: the working directory into a new folder on the disk,
    // then the raw pictures of every camera and detection are cleared.
    bool SlotExportData();
    // The program update: an archive chosen on the disk is copied to
    // newupdate.tar.gz / .tar.xz / .rar, then the station restarts.
    bool SlotUpdateApp();
    // A file made in the working directory goes onto the disk under name
    // (made unique), then the disk is released; the message says how it went.
    bool putOnDisk(const QString& file, const QString& name);

    // The last message shown to the operator (tests read it).
    QString lastMessage() const { return m_lastMessage; }

    // The disk in use (a simulated one: see simulatedDisk()).
    disk::RemovableDisk disk;

    // Off a panel, STATION_USB_DISK names a folder that stands for a mounted
    // USB disk (nothing is mounted); empty on a panel or when unset.
    static QString simulatedDisk();

private:
    // The mount point of a disk found (and mounted), empty when there is none.
    QString findDisk();
    // The update archive the operator picks on the disk (empty: none).
    QString chooseUpdate(const QString& dir);
    disk::CopyResult withProgress(const std::function<disk::CopyResult(disk::Progress*)>& work);
    void tell(const QString& text);
    void release();

    QWidget* m_parent;
    QString m_lastMessage;
};

extern DiskCommands* gpDiskCommands;
