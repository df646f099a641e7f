// station-update: installs a waiting program update before the station
// starts, and rolls back one that never reached detecting.
//
//   station-update before-start [--workdir DIR] [--attempts N]
//   station-update check ARCHIVE
//   station-update install ARCHIVE PROGRAM_DIR
//   station-update rollback PROGRAM_DIR
//
// Exit status 0 also when nothing was to do: the station must start anyway.
#include "Installer.h"

#include <QCoreApplication>
#include <QDir>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList a = app.arguments().mid(1);
    auto print = [](const updater::Result& r) {
        std::fprintf(r.ok ? stdout : stderr, "%s\n", qPrintable(r.message));
    };
    if (!a.isEmpty() && a[0] == "before-start") {
        QString workdir = QDir::currentPath();
        int attempts = 2;
        for (int i = 1; i + 1 < a.size(); i += 2) {
            if (a[i] == "--workdir")
                workdir = a[i + 1];
            else if (a[i] == "--attempts")
                attempts = std::max(1, a[i + 1].toInt());
        }
        bool nothing = false;
        const updater::Result r = updater::beforeStart(workdir, attempts, &nothing);
        if (!nothing)
            print(r);
        return 0;
    }
    if (a.size() == 2 && a[0] == "check") {
        const updater::Result r = updater::check(a[1]);
        print(r);
        return r.ok ? 0 : 1;
    }
    if (a.size() == 3 && a[0] == "install") {
        const updater::Result r = updater::install(a[1], a[2]);
        if (r.ok)
            updater::endSwap(a[2]);
        print(r);
        return r.ok ? 0 : 1;
    }
    if (a.size() == 2 && a[0] == "rollback") {
        const updater::Result r = updater::rollback(a[1]);
        if (r.ok)
            updater::endRollback(a[1]);
        print(r);
        return r.ok ? 0 : 1;
    }
    std::fprintf(stderr, "usage: station-update before-start [--workdir DIR] [--attempts N] | check ARCHIVE |\n"
                         "       install ARCHIVE PROGRAM_DIR | rollback PROGRAM_DIR\n");
    return 2;
}
