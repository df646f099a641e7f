// station-train: lays a grid of regions over a camera's detection and takes
// its templates from pictures, as an operator would at the station; sets the
// few system parameters a set-up script needs. For the demo, the benchmarks
// and technicians preparing a station directory.
//
//   station-train --dir WORKDIR --camera C --detect D [--grid N] [--margin PX]
//                 [--sensibility S] [--area A] [--param NAME=VALUE]... IMAGE...
//
// The first picture becomes the base template, the others further templates.
// Prints one JSON line with what was written.
#include "CammerSingleton.h"
#include "ImageLib.h"
#include "Messages.h"
#include "ParamDb.h"
#include "Shapes.h"
#include "TemplateStore.h"
#include "WizardPara.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <cmath>
#include <cstdio>

namespace {

int usage(const char* why)
{
    std::fprintf(stderr,
                 "station-train: %s\nusage: station-train --dir WORKDIR --camera C --detect D [--grid N] [--margin PX]\n"
                 "         [--sensibility S] [--area A] [--param NAME=VALUE]... IMAGE...\n"
                 "  C and D count from 1; N regions (default 4, at most 50) in a grid over the picture.\n",
                 why);
    return 2;
}

// The system parameters a set-up may need, by their names.
QHash<QString, int*> settable(WizardPara& w)
{
    return {{"machine_mode", &w.machine_mode},
            {"enable_prod_detect", &w.enable_prod_detect},
            {"semi_auto", &w.semi_auto},
            {"finished_product_detect", &w.finished_product_detect},
            {"cavity_detect", &w.cavity_detect},
            {"front_auto_check_time", &w.front_auto_check_time},
            {"capture_speed", &w.capture_speed},
            {"input_timeout_len", &w.input_timeout_len},
            {"enable_trigger_safety", &w.enable_trigger_safety},
            {"enable_correct", &w.enable_correct},
            {"ng_max_num", &w.ng_max_num},
            {"ok_record_max_num", &w.ok_record_max_num},
            {"mold_pulse", &w.mold_pulse},
            {"thimble_pulse", &w.thimble_pulse},
            {"shake_erase_time", &w.shake_erase_time},
            {"enable_stop_mold", &w.enable_stop_mold},
            {"enable_io_lost_tip", &w.enable_io_lost_tip},
            {"enable_camera_lost_alarm", &w.enable_camera_lost_alarm},
            {"roi_ng_warn_count", &w.roi_ng_warn_count},
            {"max_mold_num", &w.max_mold_num},
            {"is_cut_ontime", &w.is_cut_ontime},
            {"enable_stop_thimble", &w.enable_stop_thimble},
            {"out_invert_1", &w.out_invert[0]},
            {"out_invert_2", &w.out_invert[1]},
            {"out_invert_3", &w.out_invert[2]},
            {"out_invert_4", &w.out_invert[3]},
            {"enable_statistics", &w.enable_statistics},
            {"enable_cnt_net", &w.enable_cnt_net},
            {"cnt_video_source", &w.cnt_video_source}};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    LoadLanStr();
    QString dir;
    int camera = 0, detect = 0, grid = 4, margin = 8, sensibility = -1, area = -1;
    QStringList images, params;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        auto value = [&]() { return i + 1 < args.size() ? args[++i] : QString(); };
        if (a == "--dir")
            dir = value();
        else if (a == "--camera")
            camera = value().toInt();
        else if (a == "--detect")
            detect = value().toInt();
        else if (a == "--grid")
            grid = value().toInt();
        else if (a == "--margin")
            margin = value().toInt();
        else if (a == "--sensibility")
            sensibility = value().toInt();
        else if (a == "--area")
            area = value().toInt();
        else if (a == "--param")
            params << value();
        else if (a.startsWith("--"))
            return usage(qPrintable("unknown option " + a));
        else
            images << QFileInfo(a).absoluteFilePath();
    }
    if (dir.isEmpty() || (images.isEmpty() && params.isEmpty()))
        return usage("a directory and pictures or parameters are needed");
    if (!images.isEmpty() && (camera < 1 || camera > 8 || detect < 1 || detect > 8))
        return usage("camera and detection count from 1 to 8");
    if (grid < 1 || grid > kMaxRoi)
        return usage("the grid holds 1 to 50 regions");
    if (!QFileInfo(QDir(dir).filePath("PARAM.db")).isFile())
        return usage(qPrintable("not a station directory (no PARAM.db): " + dir));
    QDir::setCurrent(dir);
    if (!paramdb::openAll({})) {
        std::fprintf(stderr, "station-train: the databases of %s cannot be opened\n", qPrintable(dir));
        return 1;
    }

    WizardPara wp;
    wp.LoadDatafromFile();
    QJsonObject out;
    if (!params.isEmpty()) {
        const QHash<QString, int*> names = settable(wp);
        for (const QString& p : params) {
            const QString name = p.section('=', 0, 0);
            bool ok = false;
            const int v = p.section('=', 1).toInt(&ok);
            if (!names.contains(name) || !ok) {
                std::fprintf(stderr, "station-train: cannot set %s (known: %s)\n", qPrintable(p),
                             qPrintable(QStringList(names.keys()).join(", ")));
                return 2;
            }
            *names[name] = v;
            out.insert(name, v);
        }
        if (!wp.SaveDatatoFile()) {
            std::fprintf(stderr, "station-train: the parameters could not be saved\n");
            return 1;
        }
        wp.LoadDatafromFile();
    }
    if (images.isEmpty()) {
        std::printf("%s\n", QJsonDocument(out).toJson(QJsonDocument::Compact).constData());
        return 0;
    }

    const bool colour = wp.enable_color_camera != 0;
    std::vector<cv::Mat> frames;
    for (const QString& path : images) {
        cv::Mat f = cv::imread(path.toStdString(), colour ? cv::IMREAD_COLOR : cv::IMREAD_GRAYSCALE);
        if (f.empty()) {
            std::fprintf(stderr, "station-train: cannot read %s\n", qPrintable(path));
            return 1;
        }
        if (colour)
            cv::cvtColor(f, f, cv::COLOR_BGR2BGRA);
        if (!frames.empty() && f.size() != frames.front().size()) {
            std::fprintf(stderr, "station-train: %s differs in size from the first picture\n", qPrintable(path));
            return 1;
        }
        frames.push_back(f);
    }
    const int W = frames.front().cols, H = frames.front().rows;
    SetImageBounds(W, H);
    const int c = camera - 1, d = detect - 1;

    // The grid: as square as the picture allows.
    const int cols = std::max(1, int(std::lround(std::sqrt(grid * double(W) / H))));
    const int rows = (grid + cols - 1) / cols;
    const int cw = W / cols, ch = H / rows;
    if (cw <= 2 * margin + 4 || ch <= 2 * margin + 4)
        return usage("the regions would be too small for the picture");
    CammerSingleton para(c);
    para.LoadDatafromFile([](int m) { std::fprintf(stderr, "station-train: %s\n", qPrintable(LanStrEn(m))); });
    while (para.roi_count[d] > 0)
        para.DeleteROI(d, para.roi_count[d] - 1);
    for (int r = 0; r < grid; ++r) {
        const int x = (r % cols) * cw + margin, y = (r / cols) * ch + margin;
        int message = 0;
        const int slot = para.AddRect(d, {x, y}, {x + cw - 2 * margin - 1, y + ch - 2 * margin - 1}, wp, &message);
        if (slot < 0) {
            std::fprintf(stderr, "station-train: region %d refused: %s\n", r + 1, qPrintable(LanStrEn(message)));
            return 1;
        }
        // Defect detection against the templates, whatever the factory's first function.
        para.roi[d][slot] = {3, 45, 100, 0, ShapeRect, 0};
        if (sensibility >= 0)
            para.roi[d][slot].sensibility = sensibility;
        if (area >= 0)
            para.roi[d][slot].max_area = area;
    }
    if (!para.SaveDatatoFile()) {
        std::fprintf(stderr, "station-train: the regions could not be saved\n");
        return 1;
    }
    TemplateStore store(c, wp.max_mold_num, W, H, colour);
    store.LoadAll();
    for (int k = store.slotCount() - 1; k >= 0; --k)
        if (store.used(d, k))
            store.DeleteCurrent(d, k);
    if (!store.SaveReTrainImage(d, frames.front()).ok) {
        std::fprintf(stderr, "station-train: the base template could not be written\n");
        return 1;
    }
    int templates = 1;
    for (size_t i = 1; i < frames.size(); ++i) {
        const TemplateStore::Outcome o = store.AddTemplate(d, frames[i]);
        if (!o.ok) {
            std::fprintf(stderr, "station-train: template %zu refused: %s\n", i + 1,
                         qPrintable(o.message ? LanStrEn(o.message) : QStringLiteral("not written")));
            return 1;
        }
        ++templates;
    }
    out.insert("camera", camera);
    out.insert("detect", detect);
    out.insert("regions", para.roi_count[d]);
    out.insert("templates", templates);
    out.insert("width", W);
    out.insert("height", H);
    std::printf("%s\n", QJsonDocument(out).toJson(QJsonDocument::Compact).constData());
    return 0;
}
