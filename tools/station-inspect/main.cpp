// station-inspect: judges pictures against a station's regions and templates,
// as the cycle would, for technicians and benchmarks.
//
//   station-inspect --dir WORKDIR --camera C --detect D [--no-correct] [--save OUTDIR] IMAGE...
//
// Prints one JSON object per image. The station's directory is only read.
#include "CammerRecong.h"
#include "ImageLib.h"
#include "Messages.h"
#include "OperationRecord.h"
#include "ParamDb.h"
#include "WizardPara.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <cstdio>

namespace {

int usage(const char* why)
{
    std::fprintf(stderr,
                 "station-inspect: %s\nusage: station-inspect --dir WORKDIR --camera C --detect D [--no-correct] "
                 "[--save OUTDIR] IMAGE...\n  C and D count from 1.\n",
                 why);
    return 2;
}

bool openReadOnly(const char* conn, const QString& file, QString* error)
{
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", conn);
    db.setDatabaseName(file);
    db.setConnectOptions("QSQLITE_OPEN_READONLY");
    if (!QFileInfo::exists(file) || !db.open()) {
        *error = QStringLiteral("cannot open %1: %2").arg(file, db.lastError().text());
        return false;
    }
    return true;
}

cv::Mat annotate(const cv::Mat& frame, const CammerRecong& engine, const CammerSingleton& para, int d)
{
    cv::Mat grey = frame.channels() == 4 ? engine.plane(frame) : frame;
    cv::Mat out;
    cv::cvtColor(grey, out, cv::COLOR_GRAY2BGR);
    if (engine.alarmImage.size() == grey.size())
        out.setTo(cv::Scalar(0, 0, 255), engine.alarmImage);
    for (int r = 0; r < std::clamp(para.roi_count[d], 0, kMaxRoi); ++r) {
        if (const RegionShape* s = para.shape(d, r))
            s->Draw(out, engine.regionVerdict[d][r] ? cv::Scalar(0, 200, 0) : cv::Scalar(0, 0, 255));
        for (const AlarmRect& a : engine.alarms[d][r])
            cv::rectangle(out, cv::Point(a[0], a[1]), cv::Point(a[2], a[3]), cv::Scalar(0, 255, 255));
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    LoadLanStr();
    QString dir, save;
    int camera = 0, detect = 0;
    bool correct = true;
    QStringList images;
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
        else if (a == "--save")
            save = value();
        else if (a == "--no-correct")
            correct = false;
        else if (a.startsWith("--"))
            return usage(qPrintable("unknown option " + a));
        else
            images << QFileInfo(a).absoluteFilePath();
    }
    if (dir.isEmpty() || images.isEmpty())
        return usage("a directory and at least one image are needed");
    if (camera < 1 || camera > 8 || detect < 1 || detect > 8)
        return usage("camera and detection count from 1 to 8");
    if (!QFileInfo(dir).isDir())
        return usage(qPrintable("no such directory: " + dir));
    if (!save.isEmpty() && !QDir().mkpath(save))
        return usage(qPrintable("cannot create " + save));
    save = save.isEmpty() ? QString() : QFileInfo(save).absoluteFilePath();
    QDir::setCurrent(dir);

    // Read only, and quietly: keys an older file lacks are not created.
    paramdb::setReadOnly(true);
    OperationRecord::instance().setReadOnly(true);
    OperationRecord::instance().setForwarder([](const QString&, const QString&, const QString& text) {
        std::fprintf(stderr, "station-inspect: %s\n", qPrintable(text));
    });
    QString error;
    if (!openReadOnly(paramdb::kParamConn, "PARAM.db", &error) || !openReadOnly(paramdb::kSerialConn, "SN.db", &error)) {
        std::fprintf(stderr, "station-inspect: %s is not a station directory: %s\n", qPrintable(dir), qPrintable(error));
        return 1;
    }
    WizardPara wp;
    wp.LoadDatafromFile();
    const int c = camera - 1, d = detect - 1;
    const bool colour = wp.enable_color_camera != 0;

    // Working size: the base template's, else the first picture's.
    const QString base = QStringLiteral("./cammer%1%2/template0.bmp").arg(camera).arg(detect);
    cv::Mat probe = QFileInfo::exists(base) ? cv::imread(base.toStdString(), cv::IMREAD_UNCHANGED) : cv::Mat();
    if (probe.empty())
        probe = cv::imread(images.first().toStdString(), cv::IMREAD_UNCHANGED);
    if (probe.empty()) {
        std::fprintf(stderr, "station-inspect: cannot read %s\n", qPrintable(images.first()));
        return 1;
    }
    const int W = probe.cols, H = probe.rows;
    SetImageBounds(W, H);

    TemplateStore store(c, wp.max_mold_num, W, H, colour);
    store.LoadAll();
    CammerSingleton para(c);
    para.LoadDatafromFile([](int m) { std::fprintf(stderr, "station-inspect: %s\n", qPrintable(LanStrEn(m))); });
    WizardPara only = wp;
    for (int j = 0; j < 8; ++j)
        only.detect_enable[j] = j == d ? 1 : 0;
    if (!correct)
        only.enable_correct = -1;
    CammerRecong engine(&para, &store, &only);

    int failures = 0;
    for (const QString& path : images) {
        cv::Mat frame = cv::imread(path.toStdString(), colour ? cv::IMREAD_COLOR : cv::IMREAD_GRAYSCALE);
        if (frame.empty()) {
            std::fprintf(stderr, "station-inspect: cannot read %s\n", qPrintable(path));
            ++failures;
            continue;
        }
        if (colour)
            cv::cvtColor(frame, frame, cv::COLOR_BGR2BGRA);
        if (frame.cols != W || frame.rows != H) {
            std::fprintf(stderr, "station-inspect: %s is %dx%d, the station works at %dx%d\n", qPrintable(path),
                         frame.cols, frame.rows, W, H);
            ++failures;
            continue;
        }
        QElapsedTimer t;
        t.start();
        cv::Mat judged, valid;
        engine.ShapeMatch(d, frame, judged, &valid);
        engine.Run(d, judged, false, valid);
        const double ms = t.nsecsElapsed() / 1e6;

        QJsonArray regions;
        for (int r = 0; r < std::clamp(para.roi_count[d], 0, kMaxRoi); ++r) {
            QJsonArray alarms;
            for (const AlarmRect& a : engine.alarms[d][r])
                alarms.append(QJsonArray{a[0], a[1], a[2], a[3]});
            QJsonObject region{{"region", r + 1},
                               {"function", para.roi[d][r].algorithm},
                               {"score", engine.score[d][r]},
                               {"min", engine.premin[d][r]},
                               {"max", engine.premax[d][r]},
                               {"ok", engine.regionVerdict[d][r] == 1},
                               {"alarms", alarms}};
            if (engine.regionError[d][r] != RegionOk)
                region.insert("error", engine.regionError[d][r]);
            regions.append(region);
        }
        const QJsonObject line{{"image", path},
                               {"verdict", engine.cameraVerdict ? "OK" : "NG"},
                               {"ms", qRound(ms * 1000) / 1000.0},
                               {"regions", regions}};
        std::printf("%s\n", QJsonDocument(line).toJson(QJsonDocument::Compact).constData());
        std::fflush(stdout);
        if (!save.isEmpty()) {
            const QString out = save + "/" + QFileInfo(path).completeBaseName() + "_alarm.png";
            if (!cv::imwrite(out.toStdString(), annotate(judged, engine, para, d))) {
                std::fprintf(stderr, "station-inspect: cannot write %s\n", qPrintable(out));
                ++failures;
            }
        }
    }
    return failures ? 1 : 0;
}
