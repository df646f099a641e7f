#include "StandIn.h"

#include <QByteArray>
#include <cstring>

namespace standin {

namespace {
QMutex mutex;
std::map<std::string, std::vector<Device>> vendorDevices;
std::map<std::pair<std::string, std::string>, std::string> features;
QStringList calls;

std::vector<Device> fromEnvironment()
{
    std::vector<Device> out;
    const QStringList parts = qEnvironmentVariable("STATION_SIM_CAMERAS").split(':', Qt::SkipEmptyParts);
    const int count = parts.value(0).toInt();
    Device d;
    for (const QString& p : parts.mid(1)) {
        if (p == "colour" || p == "color")
            d.colour = true;
        else if (p.contains('x')) {
            d.width = p.section('x', 0, 0).toInt();
            d.height = p.section('x', 1, 1).toInt();
        }
    }
    for (int i = 0; i < count && i < 8; ++i) {
        d.serial = QStringLiteral("SIM%1").arg(i + 1, 7, 10, QChar('0')).toStdString();
        out.push_back(d);
    }
    return out;
}
} // namespace

std::vector<Device>& devices(const char* vendor)
{
    QMutexLocker lock(&mutex);
    auto it = vendorDevices.find(vendor);
    if (it == vendorDevices.end())
        it = vendorDevices.emplace(vendor, fromEnvironment()).first;
    return it->second;
}

void setDevices(const char* vendor, const std::vector<Device>& devs)
{
    QMutexLocker lock(&mutex);
    vendorDevices[vendor] = devs;
}

void record(const std::string& serial, const std::string& feature, const std::string& value)
{
    QMutexLocker lock(&mutex);
    features[{serial, feature}] = value;
    calls << QString::fromStdString(serial + " " + feature + "=" + value);
}

std::string written(const std::string& serial, const std::string& feature)
{
    QMutexLocker lock(&mutex);
    auto it = features.find({serial, feature});
    return it == features.end() ? std::string() : it->second;
}

QStringList callLog()
{
    QMutexLocker lock(&mutex);
    return calls;
}

void clearLog()
{
    QMutexLocker lock(&mutex);
    calls.clear();
    features.clear();
}

void fillFrame(unsigned char* dst, int width, int height, int channels, unsigned n)
{
    const int bx = int((n * 7u) % unsigned(std::max(1, width - 16)));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const unsigned char v = (x >= bx && x < bx + 16 && y < 16) ? 255 : static_cast<unsigned char>((x + y) & 0x7F);
            for (int c = 0; c < channels; ++c)
                dst[(size_t(y) * width + x) * channels + c] = v;
        }
}

} // namespace standin
