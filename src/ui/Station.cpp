#include "Station.h"

#include "DiVeZoruzo.h"
#include "Globals.h"
#include "MApplication.h"
#include "Messages.h"
#include "ParamDb.h"
#include "Termination.h"
#include "WholeScreen.h"

#include <QDir>

void prepareStation()
{
    createGlobalLocks();
    LoadLanStr();
    LoadPixmaps();
    gAppDirPath = QDir::currentPath();

    installTerminationHandler([] {
        if (gpWin)
            gpWin->endForRestart();
        else
            paramdb::closeAll();
    });
    if (auto* app = qobject_cast<MApplication*>(QCoreApplication::instance())) {
        app->flushAll = [] {
            if (gpWin)
                gpWin->FLushAll();
        };
        app->onActivity = [] {
            if (gpWin)
                gpWin->restartActivityTimers();
        };
    }
}

std::unique_ptr<DiVeZoruzo> buildStation()
{
    prepareStation();
    auto win = std::make_unique<DiVeZoruzo>();
    win->startUp();
    if (stationTerminating())
        return nullptr;
    showOnWholeScreen(win.get());
    return win;
}
