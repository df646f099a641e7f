#include "MApplication.h"

#include "Boxes.h"
#include "Globals.h"
#include "Host.h"
#include "Messages.h"
#include "Panel.h"

#include <QMouseEvent>
#include <QThread>

MApplication::MApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    m_calib.setSingleShot(true);
    m_calib.setInterval(3000);
    connect(&m_calib, &QTimer::timeout, this, [this] {
        m_armed = true;
        if (gpWarnBox)
            gpWarnBox->showMessage(LanStr(370), false);
    });
    installEventFilter(this);
}

bool MApplication::eventFilter(QObject* obj, QEvent* e)
{
    // The window sees each touch once, before any widget does.
    if (obj->isWindowType() && qwsEventFilter(e))
        return true;
    return QApplication::eventFilter(obj, e);
}

bool MApplication::qwsEventFilter(QEvent* e)
{
    const QEvent::Type t = e->type();
    const bool press = t == QEvent::MouseButtonPress || t == QEvent::TouchBegin;
    const bool release = t == QEvent::MouseButtonRelease || t == QEvent::TouchEnd;
    const bool mouse = press || release || t == QEvent::MouseMove || t == QEvent::TouchUpdate ||
                       t == QEvent::MouseButtonDblClick;
    if (!mouse)
        return false;

    if (gCameraID == 0) {
        if (press && !m_calib.isActive() && !m_armed) {
            m_calib.start();
        } else if (release) {
            if (m_armed) {
                m_armed = false;
                platform::Host::instance().runTsc();
                QThread::msleep(500);
                if (flushAll)
                    flushAll();
                platform::Host::instance().reboot();
            } else {
                m_calib.stop();
            }
        }
    }
    if (press && onActivity)
        onActivity();
    // The whole touch that wakes a dark screen is swallowed, up to its release.
    if (gisLCDOff) {
        LCDOnOff(1);
        m_waking = !release;
        return true;
    }
    if (m_waking) {
        if (release)
            m_waking = false;
        return true;
    }
    return false;
}
