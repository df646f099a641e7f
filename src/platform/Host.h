#pragma once
// The seam between the station and the computer it runs on. Every action that
// reaches beyond the working directory (reboot, power-off, mounting, clock,
// port privilege, helper programs) goes through here. With
// STATION_PLATFORM=panel the actions are real; otherwise they are a dry run
// that only appends a line to host-actions.log in the working directory.
#include <QDateTime>
#include <QMutex>
#include <QString>
#include <QStringList>

namespace platform {

class Host {
public:
    // Mode decided once from STATION_PLATFORM.
    static Host& instance();

    explicit Host(bool panel);
    bool isPanel() const { return m_panel; }

    bool reboot();
    bool powerOff();                                   // "init 0"
    bool mount(const QString& device, const QString& dir);
    bool umount(const QString& dir);
    bool sync();
    // Output of blkid with the given arguments; empty in a dry run or on failure.
    QString blkid(const QStringList& args);
    bool hwclockSysToHc();                             // "hwclock --systohc"
    bool setTime(const QDateTime& t);
    bool runTsc();                                     // touch calibration "./tsc"
    bool runUpdate();                                  // one-shot "./update.sh"
    bool iopl(int level);
    // "ping ADDRESS -w 1"; output gets what it printed (empty in a dry run).
    bool ping(const QString& address, QString* output);
    // An action on the host's network that was not taken (not a panel and the
    // interface not allowed): one journal line, nothing sent.
    void skipped(const QString& action, const QStringList& args);

    // Interfaces on which GigE discovery, force-IP, ARP probes and camera
    // enumeration may send: every one on a panel, else only those named in
    // STATION_GIGE_IFACES (comma-separated).
    bool gigeAllowed(const QString& interfaceName) const;
    // Whether any interface may be used at all.
    bool gigeAnyAllowed() const;

    // Tests: in a dry run, the named action ("set-time", "hwclock", ...) is
    // journalled but reports failure, as a real command that fails would.
    void simulateFailure(const QString& action, bool fail = true);

    // Tests of the removable disk, inside a mount namespace of their own:
    // mount, umount and blkid become real (reboot, power-off and the clock
    // stay dry runs), and blkid is asked about the given devices only, in
    // that order, so the host's own disks are never looked at.
    void setDiskReal(bool real, const QStringList& blkidDevices = {});

    // Journal file of the dry run, relative to the working directory.
    static QString journalName() { return QStringLiteral("host-actions.log"); }

private:
    bool act(const QString& action, const QStringList& args,
             const QString& program, const QStringList& programArgs,
             QString* output = nullptr, int timeoutMs = 30000);
    void journal(const QString& action, const QStringList& args);

    bool m_panel;
    QStringList m_helper;
    QMutex m_mutex;
    QStringList m_failing;
    bool m_diskReal = false;
    QStringList m_blkidDevices;
};

} // namespace platform
