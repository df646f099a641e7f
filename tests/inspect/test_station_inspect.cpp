#include "CammerSingleton.h"
#include "ImageLib.h"
#include "ParamDb.h"
#include "Photos.h"
#include "TemplateStore.h"
#include "TestDir.h"
#include "WizardPara.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSqlQuery>
#include <opencv2/imgproc.hpp>
#include <gtest/gtest.h>

namespace {
struct Tool : ::testing::Test {
    TestDir dir;  // a factory directory made by the station's generator
    cv::Mat scene = photo("fruits.jpg")(cv::Rect(40, 60, 440, 360)).clone();
    QByteArray out, err;

    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        ASSERT_TRUE(paramdb::openAll({}));
        SetImageBounds(scene.cols, scene.rows);
        WizardPara wp;
        wp.LoadDatafromFile();
        // Regions and templates written by the station's own code: camera 2, detection 1.
        CammerSingleton para(1);
        para.LoadDatafromFile();
        para.AddRect(0, {20, 20}, {419, 339}, wp);
        para.roi[0][0] = {3, 45, 30, 0, ShapeRect, 0};
        para.AddRect(0, {0, 0}, {10, 10}, wp);
        para.roi[0][1] = {0, 10, 1000, 4, ShapeRect, 0};  // black area, allowing all of it
        ASSERT_TRUE(para.SaveDatatoFile());
        TemplateStore store(1, wp.max_mold_num, scene.cols, scene.rows, false);
        store.LoadAll();
        ASSERT_TRUE(store.SaveReTrainImage(0, scene).ok);
        cv::Mat brighter;
        scene.convertTo(brighter, -1, 1.03, 0);
        ASSERT_TRUE(store.AddTemplate(0, brighter).ok);
        dropConnections();
    }
    int runTool(const QStringList& args)
    {
        QProcess p;
        p.start(STATION_INSPECT_TOOL, args);
        EXPECT_TRUE(p.waitForFinished(60000));
        out = p.readAllStandardOutput();
        err = p.readAllStandardError();
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    QString write(const QString& name, const cv::Mat& img)
    {
        const QString path = dir.file(name);
        cv::imwrite(path.toStdString(), img);
        return path;
    }
};
} // namespace

TEST_F(Tool, JudgesPicturesAsTheCycleWouldAndSavesTheAlarmPicture)
{
    cv::Mat blemished = scene.clone();
    cv::Mat spot = blemished(cv::Rect(100, 150, 12, 12));  // on a mid-grey surface, above the alarm area of 100
    spot.convertTo(spot, -1, 1.0, -60);
    const QString clean = write("clean.png", scene), bad = write("bad.png", blemished);
    const QByteArray before = QFile(dir.file("PARAM.db")).size() ? QByteArray::number(QFile(dir.file("PARAM.db")).size()) : "";
    ASSERT_EQ(runTool({"--dir", dir.path(), "--camera", "2", "--detect", "1", "--save", dir.file("out"), clean, bad}), 0)
        << err.toStdString();
    const QList<QByteArray> lines = out.trimmed().split('\n');
    ASSERT_EQ(lines.size(), 2);
    const QJsonObject ok = QJsonDocument::fromJson(lines[0]).object();
    const QJsonObject ng = QJsonDocument::fromJson(lines[1]).object();
    EXPECT_EQ(ok["image"].toString(), clean);
    EXPECT_EQ(ok["verdict"].toString(), "OK") << lines[0].toStdString() << err.toStdString();
    EXPECT_EQ(ng["verdict"].toString(), "NG") << lines[1].toStdString();
    EXPECT_GE(ng["ms"].toDouble(), 0.0);
    const QJsonArray regions = ng["regions"].toArray();
    ASSERT_EQ(regions.size(), 2);
    const QJsonObject first = regions[0].toObject();
    EXPECT_EQ(first["region"].toInt(), 1);
    EXPECT_EQ(first["function"].toInt(), 0);
    EXPECT_FALSE(first["ok"].toBool());
    EXPECT_EQ(first["max"].toInt(), 30);
    ASSERT_FALSE(first["alarms"].toArray().isEmpty());
    const QJsonArray box = first["alarms"].toArray()[0].toArray();
    EXPECT_TRUE(box[0].toInt() <= 111 && box[2].toInt() >= 100 && box[1].toInt() <= 161 && box[3].toInt() >= 150);
    EXPECT_TRUE(regions[1].toObject()["ok"].toBool());
    EXPECT_TRUE(QFile::exists(dir.file("out/bad_alarm.png")));
    EXPECT_EQ(QByteArray::number(QFile(dir.file("PARAM.db")).size()), before);  // the station's files are only read
}

TEST_F(Tool, BadInputGetsAClearMessageAndAFailingExit)
{
    EXPECT_EQ(runTool({"--dir", dir.file("nowhere"), "--camera", "1", "--detect", "1", "x.png"}), 2);
    EXPECT_TRUE(err.contains("no such directory"));
    EXPECT_EQ(runTool({"--dir", dir.path(), "--camera", "9", "--detect", "1", "x.png"}), 2);
    const QString clean = write("clean.png", scene);
    writeText(dir.file("broken.png"), "not a picture");
    const QString small = write("small.png", cv::Mat(100, 100, CV_8UC1, cv::Scalar(5)));
    EXPECT_EQ(runTool({"--dir", dir.path(), "--camera", "2", "--detect", "1", dir.file("broken.png"), small, clean}), 1);
    EXPECT_TRUE(err.contains("cannot read")) << err.toStdString();
    EXPECT_TRUE(err.contains("the station works at 440x360")) << err.toStdString();
    EXPECT_EQ(out.trimmed().split('\n').size(), 1);  // the good picture is still judged
    QDir empty(dir.file("empty"));
    QDir().mkpath(empty.path());
    EXPECT_EQ(runTool({"--dir", empty.path(), "--camera", "1", "--detect", "1", clean}), 1);
    EXPECT_TRUE(err.contains("is not a station directory"));
}

TEST_F(Tool, ReadsQuietlyAndReportsARegionInDoubtAsNotOk)
{
    const QString clean = write("clean.png", scene);
    // Camera 1 was never set up: its table lacks every row; reading it must
    // neither write nor complain.
    ASSERT_EQ(runTool({"--dir", dir.path(), "--camera", "1", "--detect", "1", clean}), 0);
    EXPECT_TRUE(err.isEmpty()) << err.toStdString();

    // A polygon of two points has no inside: the region cannot say OK.
    ASSERT_TRUE(paramdb::openAll({}));
    QSqlQuery q(paramdb::paramDb());
    ASSERT_TRUE(q.exec("insert into cammer1 values('ROI0-2', '3 45 30 0 2 0 2 5 5 90 5 ')"));
    ASSERT_TRUE(q.exec("update cammer1 set value='3 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0' where name='detect0'"));
    dropConnections();
    ASSERT_EQ(runTool({"--dir", dir.path(), "--camera", "2", "--detect", "1", clean}), 0) << err.toStdString();
    const QJsonObject line = QJsonDocument::fromJson(out.trimmed()).object();
    EXPECT_EQ(line["verdict"].toString(), "NG") << out.toStdString();
    const QJsonArray regions = line["regions"].toArray();
    ASSERT_EQ(regions.size(), 3);
    EXPECT_TRUE(regions[0].toObject()["ok"].toBool());
    const QJsonObject doubtful = regions[2].toObject();
    EXPECT_FALSE(doubtful["ok"].toBool());
    EXPECT_EQ(doubtful["error"].toInt(), -1);
    EXPECT_TRUE(err.contains("REG RUN ERROR = 1, 0, -1")) << err.toStdString();
}
