// station-newdir DIR: makes a complete factory working directory.
#include "FactoryDir.h"

#include <QGuiApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: station-newdir DIR\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QString error;
    if (!factory::makeWorkingDir(QString::fromLocal8Bit(argv[1]), &error)) {
        std::fprintf(stderr, "station-newdir: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("factory working directory ready: %s\n", argv[1]);
    return 0;
}
