#pragma once
// Pages as the panel shows them: over the whole screen on every platform,
// with or without a window manager.
#include <QEvent>
#include <QObject>
#include <QString>
#include <functional>

class QWidget;

// Runs act on every event of one type that reaches the objects it watches
// (install it as their event filter); the event goes on as usual.
class EventHook : public QObject {
public:
    EventHook(QObject* parent, QEvent::Type type, std::function<void(QObject*)> act)
        : QObject(parent), m_type(type), m_act(std::move(act))
    {
    }
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() == m_type)
            m_act(o);
        return false;
    }

private:
    QEvent::Type m_type;
    std::function<void(QObject*)> m_act;
};

// Shows w as a page over the whole screen. Without a window manager (linuxfb,
// eglfs, a bare X server) nobody honours a full-screen request: the page
// takes the screen's geometry itself.
void showOnWholeScreen(QWidget* w);

// A box or keypad over everything each time it is shown: without a window
// manager nobody keeps a dialog above the page it belongs to, and a question
// waiting under the main window would hold the station unseen.
void raiseWhenShown(QWidget* box);

// Tests of the running program: writes "name x y w h" (screen coordinates)
// of every visible top-level window and every visible named widget in them
// to file, replacing it in one step. Used on SIGUSR1 when
// STATION_TEST_GEOMETRY names the file; never otherwise.
bool dumpGeometry(const QString& file);
