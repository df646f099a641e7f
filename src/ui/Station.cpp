#include "Station.h"

#include "DiVeZoruzo.h"
#include "Globals.h"
#include "MApplication.h"
#include "Messages.h"
#include "ParamDb.h"
#include "Termination.h"
#include "WholeScreen.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QEvent>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTimer>


void prepareStation()
{
    // Every drop-down list of the station opens with rows a fingertip hits: the
    // plain combo rows (about 29 px) made operators choose the row next to the one meant.
    static QPointer<EventHook> touchLists;
    if (!touchLists) {
        touchLists = new EventHook(QCoreApplication::instance(), QEvent::Polish, [](QObject* o) {
            if (auto* combo = qobject_cast<QComboBox*>(o); combo && !combo->property("touchRows").toBool()) {
                combo->setProperty("touchRows", true);
                combo->setItemDelegate(new QStyledItemDelegate(combo));
                combo->view()->setStyleSheet(QStringLiteral("QAbstractItemView::item{min-height:52px;}"));
            }
        });
        QCoreApplication::instance()->installEventFilter(touchLists);
    }
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
    // What the start-up opened before the main window was up (the alarm page of
    // an alarm the last run died in, a note) comes back over it: boxes last.
    const auto bringForward = [main = QPointer<QWidget>(win.get())] {
        if (!main)
            return;
        QList<QWidget*> boxes;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w == main || !w->isVisible())
                continue;
            if (qobject_cast<QDialog*>(w))
                boxes << w;
            else
                w->raise();
        }
        for (QWidget* b : boxes)
            b->raise();
    };
    bringForward();
    QTimer::singleShot(0, win.get(), bringForward);
    return win;
}
