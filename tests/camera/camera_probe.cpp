// Runs one camera operation of the station and prints what came of it; the
// network tests start it inside the network namespaces they made.
//
//   camera_probe repair [SEED]          RepairAllCameraIP: "moved N"
//   camera_probe arp CANDIDATE IFACE    arpping from the interface: "arp R"
//   camera_probe genicam FRAMES         the GenICam kind: found, size, frames taken
#include "CameraDevice.h"
#include "Detection.h"
#include "GenicamCamera.h"
#include "GigE.h"
#include "WizardPara.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    createGlobalLocks();
    const QStringList args = app.arguments().mid(1);
    const QString mode = args.value(0);
    if (mode == "repair") {
        CIpConfig::testSeed = args.value(1).toUInt();
        std::printf("moved %d\n", RepairAllCameraIP());
        return 0;
    }
    if (mode == "discover" && args.size() == 3) {
        // Devices answering on an interface whose information starts with a tag.
        const QByteArray name = args[2].toLocal8Bit();
        ifaddrs* list = nullptr;
        getifaddrs(&list);
        uint32_t ip = 0;
        for (ifaddrs* a = list; a; a = a->ifa_next)
            if (a->ifa_addr && a->ifa_addr->sa_family == AF_INET && name == a->ifa_name)
                ip = reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr;
        freeifaddrs(list);
        CGevDiscovery d(ip, args[2], args[1].toStdString());
        size_t n = 0;
        for (int i = 0; i < 5 && n == 0; ++i) {
            d.SendDiscovery();
            QThread::msleep(300);
            n = d.GetDiscoveryList().size();
        }
        std::printf("found %zu\n", n);
        return 0;
    }
    if (mode == "arp" && args.size() == 3) {
        const QByteArray name = args[2].toLocal8Bit();
        ifaddrs* list = nullptr;
        getifaddrs(&list);
        uint32_t ip = 0;
        for (ifaddrs* a = list; a; a = a->ifa_next)
            if (a->ifa_addr && a->ifa_addr->sa_family == AF_INET && name == a->ifa_name)
                ip = reinterpret_cast<sockaddr_in*>(a->ifa_addr)->sin_addr.s_addr;
        freeifaddrs(list);
        ifreq req{};
        std::snprintf(req.ifr_name, sizeof req.ifr_name, "%s", name.constData());
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        ioctl(fd, SIOCGIFHWADDR, &req);
        ::close(fd);
        std::printf("arp %d\n", arpping(inet_addr(args[1].toLatin1().constData()), ip,
                                         reinterpret_cast<const uint8_t*>(req.ifr_hwaddr.sa_data), args[2]));
        return 0;
    }
    if (mode == "genicam") {
        const int frames = std::max(1, args.value(1).toInt());
        int found = 0, w = 0, h = 0, sw = 0, sh = 0;
        bool colour = false;
        if (!GenicamCamera::Probe(found, w, h, sw, sh, colour)) {
            std::printf("{\"found\": 0}\n");
            return 0;
        }
        DetectionResult r;
        r.kind = kKindGenicam;
        r.found = found;
        r.width = w;
        r.height = h;
        r.sensorW = sw;
        r.sensorH = sh;
        ApplyDetection(r);
        WizardPara wp;
        wp.expose_time[0] = 5;
        wp.adjust_plus[0] = 10;
        wp.capture_speed = 25;
        gpWPara = &wp;
        for (auto& s : gSerialNB)
            std::strcpy(s, "0");
        GenicamCamera cam(0);
        const bool opened = cam.CameraOpen();
        int taken = 0;
        if (opened) {
            cam.speedKind(25);
            cam.CameraStart();
            std::vector<unsigned char> f;
            QElapsedTimer t;
            t.start();
            while (taken < frames && t.elapsed() < 15000) {
                if (CameraDevice::TakeFrame(0, f) && f.size() == size_t(w * h))
                    ++taken;
                QThread::msleep(5);
            }
            cam.CameraClose();
        }
        std::printf("{\"found\": %d, \"width\": %d, \"height\": %d, \"opened\": %s, \"serial\": \"%s\", \"frames\": %d, "
                    "\"refused\": %llu}\n",
                    found, w, h, opened ? "true" : "false", qPrintable(cam.serialNumber()), taken,
                    static_cast<unsigned long long>(cam.refused()));
        return 0;
    }
    std::fprintf(stderr, "usage: camera_probe repair [SEED] | arp CANDIDATE IFACE | genicam FRAMES\n");
    return 2;
}
