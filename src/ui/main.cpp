// The station: brings the panel from power-on to running detection.
#include "Boxes.h"
#include "DiVeZoruzo.h"
#include "Globals.h"
#include "Host.h"
#include "LedDevice.h"
#include "Logs.h"
#include "MApplication.h"
#include "Station.h"
#include "Messages.h"
#include "ParamDb.h"
#include "Termination.h"
#include "WholeScreen.h"
#include "WizardPara.h"

#include <QDir>
#include <cstdio>
#include <glog/logging.h>

int main(int argc, char** argv)
{
    // The launcher's check that this program can run at all: nothing else is touched.
    if (argc > 1 && qstrcmp(argv[1], "--version") == 0) {
        std::printf("station %s\n", STATION_VERSION);
        return 0;
    }
    platform::Host::instance().iopl(3);
    m_F75111 = 0x9C;
    gfLED = platform::LedDevice::instance().open();

    MApplication app(argc, argv);
    // Qt 6 strings are UTF-8 throughout; nothing to set for the codecs.

    QDir().mkpath("./cnt_net/cnt_log_app/");
    GLog glog("./cnt_net/cnt_log_app/", argv[0]);
    LOG(INFO) << STATION_VERSION << " release";

    const std::unique_ptr<DiVeZoruzo> station = buildStation();
    if (!station)
        return exitstatus::kRestart;
    return app.exec();
}
