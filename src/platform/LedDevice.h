#pragma once
// The backlight and panel-LED device "/dev/led". Every request is an ioctl
// whose request number carries the command. Outside panel mode a stand-in
// keeps the requests in memory so tests can read them.
#include <QList>
#include <QMutex>

namespace platform {

class LedDevice {
public:
    static LedDevice& instance();

    explicit LedDevice(bool panel);
    ~LedDevice();

    // Opens the device; returns the descriptor (negative when absent). The
    // stand-in always opens and returns 0.
    int open();
    bool isOpen() const;
    // Sends one request; nothing happens when the device is not open.
    void request(quint32 code);

    QList<quint32> recorded() const;
    void clearRecorded();

private:
    bool m_panel;
    int m_fd = -1;
    bool m_standInOpen = false;
    mutable QMutex m_mutex;
    QList<quint32> m_recorded;
};

} // namespace platform
