// station-newdir DIR: makes a complete factory working directory.
// station-newdir --factory-package WORKDIR: writes the factory package of an
// existing one from its factory group.
#include "FactoryDir.h"

#include <QGuiApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    const bool package = argc == 3 && qstrcmp(argv[1], "--factory-package") == 0;
    if (argc != 2 && !package) {
        std::fprintf(stderr, "usage: station-newdir DIR | --factory-package WORKDIR\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QString error;
    if (package) {
        // A station made before the package existed gets one from its factory group.
        if (!factory::writeFactoryPackage(QString::fromLocal8Bit(argv[2]), &error)) {
            std::fprintf(stderr, "station-newdir: %s\n", qPrintable(error));
            return 1;
        }
        return 0;
    }
    if (!factory::makeWorkingDir(QString::fromLocal8Bit(argv[1]), &error)) {
        std::fprintf(stderr, "station-newdir: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("factory working directory ready: %s\n", argv[1]);
    return 0;
}
