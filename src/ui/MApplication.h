#pragma once
// The application object and its touch filter: touch calibration when no
// camera is found, activity timers, and the wake-only first touch on a dark screen.
#include <QApplication>
#include <QTimer>
#include <functional>

class MApplication : public QApplication {
    Q_OBJECT
public:
    MApplication(int& argc, char** argv);

    // Returns true when the event is swallowed.
    bool qwsEventFilter(QEvent* e);

    // Called on every press (auto-logout and screen-off timers restart).
    std::function<void()> onActivity;
    // Closes the databases before the reboot that follows calibration.
    std::function<void()> flushAll;

    bool calibrationArmed() const { return m_armed; }
    QTimer& calibrationTimer() { return m_calib; }

protected:
    bool eventFilter(QObject* obj, QEvent* e) override;

private:
    QTimer m_calib;
    bool m_armed = false;
    bool m_waking = false;
};
