#pragma once
// What the vendor stand-ins share: the simulated devices a test (or the
// STATION_SIM_CAMERAS environment) sets up, and the record of every feature
// the station wrote.
#include <QMutex>
#include <QString>
#include <QStringList>
#include <map>
#include <string>
#include <vector>

namespace standin {

struct Device {
    std::string serial;
    int width = 1280, height = 1024;
    bool colour = false;
    // Network cameras (Hikvision): addresses in host order, the host port's
    // address, whether the device answers, and the model name.
    unsigned ip = 0, mask = 0, hostIp = 0;
    bool usb = false;
    bool reachable = true;
    std::string model = "MV-SIM-M";
};

// Devices of one vendor. STATION_SIM_CAMERAS="count[:WxH][:colour]" sets them
// for a run without a test; serials are SIM0000001, SIM0000002, ...
std::vector<Device>& devices(const char* vendor);
void setDevices(const char* vendor, const std::vector<Device>& devs);

// Feature writes: (handle serial, feature name) -> last value written, and
// the ordered log of every call.
void record(const std::string& serial, const std::string& feature, const std::string& value);
std::string written(const std::string& serial, const std::string& feature);
QStringList callLog();
void clearLog();

// A synthetic frame: a grey ramp with a bright block that moves with n, so
// consecutive frames differ.
void fillFrame(unsigned char* dst, int width, int height, int channels, unsigned n);

} // namespace standin
