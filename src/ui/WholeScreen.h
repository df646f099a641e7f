#pragma once
// Pages as the panel shows them: over the whole screen on every platform,
// with or without a window manager.
#include <QString>

class QWidget;

// Shows w as a page over the whole screen. Without a window manager (linuxfb,
// eglfs, a bare X server) nobody honours a full-screen request: the page
// takes the screen's geometry itself.
void showOnWholeScreen(QWidget* w);

// Tests of the running program: writes "name x y w h" (screen coordinates)
// of every visible top-level window and every visible named widget in them
// to file, replacing it in one step. Used on SIGUSR1 when
// STATION_TEST_GEOMETRY names the file; never otherwise.
bool dumpGeometry(const QString& file);
