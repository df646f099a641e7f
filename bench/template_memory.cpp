// Resident memory of the template store: 2 cameras, 2 detections, 1920 x 1080
// grey, 10 slots per detection, with N templates each (argument, default 3).
// Baseline in the same run: the bytes a store reserving every slot of all 8
// detections up front would hold.
#include "Messages.h"
#include "TemplateStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <opencv2/core.hpp>

namespace {
long rssKiB()
{
    QFile f("/proc/self/status");
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    LoadLanStr();
    const int n = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    const int W = 1920, H = 1080, slotCount = 10;
    QTemporaryDir tmp;
    QDir::setCurrent(tmp.path());
    const long before = rssKiB();
    std::vector<std::unique_ptr<TemplateStore>> stores;
    for (int c = 0; c < 2; ++c) {
        stores.push_back(std::make_unique<TemplateStore>(c, slotCount, W, H, false));
        stores.back()->LoadAll();
        for (int d = 0; d < 2; ++d) {
            cv::Mat frame(H, W, CV_8UC1);
            cv::randu(frame, 0, 255);
            stores.back()->SaveReTrainImage(d, frame);
            for (int k = 1; k < n; ++k) {
                cv::randu(frame, 0, 255);
                stores.back()->AddTemplate(d, frame);
            }
        }
    }
    size_t held = 0;
    for (const auto& s : stores)
        held += s->heldBytes();
    const double mib = 1024.0 * 1024.0;
    std::printf("templates per detection %d: resident %.1f MiB more than before (%ld KiB total), slots hold %.1f MiB; "
                "reserving every slot up front would hold %.1f MiB\n",
                n, (rssKiB() - before) / 1024.0, rssKiB(), held / mib, 2.0 * 8 * slotCount * W * H / mib);
    return 0;
}
