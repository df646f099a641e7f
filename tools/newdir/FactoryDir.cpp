#include "FactoryDir.h"

#include "Messages.h"
#include "ParamDb.h"
#include "WizardPara.h"

#include <QDataStream>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QtMath>
#include <archive.h>
#include <archive_entry.h>

namespace factory {

void setFactoryValues(WizardPara& p)
{
    p.finished_product_detect = 5;
    p.cavity_detect = 5;
    for (int c = 0; c < kMaxCameras; ++c) {
        p.expose_time[c] = 30;
        p.adjust_plus[c] = 32;
        p.sharp[c] = 0;
        p.contrast[c] = 100;
        p.gamma[c] = 100;
    }
    p.machine_mode = p.pending_machine_mode = 0;
    p.save_ok_record = 1;
    p.enable_prod_detect = 1;
    p.enable_stop_mold = 1;
    p.ok_record_max_num = 200;
    p.max_mold_num = 10;
    p.min_spot = 3;
    p.ng_max_num = 500;
    gLan = 1;
    p.location_adge = 8000;
    p.location_level = 0;
    p.capture_speed = 12;
    p.input_timeout_len = 60;
    p.difference_multiplier = 1;
    p.enable_defect_detect = 1;
    p.enable_spot_detect = 1;
    p.local_addr_1 = 192; p.local_addr_2 = 168; p.local_addr_3 = 1; p.local_addr_4 = 100;
    p.mask_1 = 255; p.mask_2 = 255; p.mask_3 = 255; p.mask_4 = 0;
    p.gateway_1 = 192; p.gateway_2 = 168; p.gateway_3 = 1; p.gateway_4 = 1;
    p.minimum_size = 3;
    p.minimum_area = 100;
    p.match_angle = 10;
    p.shake_erase_time = 1;
    p.enable_statistics = 1;
    p.report_alarm() = 1;
    p.enable_show_roi = 1;
    p.multi_detect_num = 2;
    p.enable_log = 1;
    p.multi_detect_row[0] = 0;
    p.multi_detect_row[1] = 1;
    for (int j = 2; j < 8; ++j)
        p.multi_detect_row[j] = -1;
    for (int j = 0; j < 8; ++j) {
        p.multi_row_input[j] = j;
        p.multi_in_name[j] = j;
        p.multi_out_name[j] = j;
    }
    p.roi_ng_warn_count = 2;
    p.enable_camera_lost_alarm = 1;
    p.enable_io_lost_tip = 1;
    p.enable_detect_cycle = 1;
    p.enable_cnt_net = 0;
    p.cnt_video_source = 1;
    p.cnt_video_rate = 3;
    p.cnt_cavities = 6;
    p.cnt_products_num = 1;
    p.cnt_product_serial = 10000;
}

namespace {

bool exec(QSqlDatabase& db, const QString& sql, QString* error)
{
    QSqlQuery q(db);
    if (q.exec(sql))
        return true;
    *error = QStringLiteral("%1: %2 (%3)").arg(db.databaseName(), q.lastError().text(), sql);
    return false;
}

// Runs fn on a fresh connection to file, then closes it.
template <class Fn>
bool withDb(const QString& file, QString* error, Fn fn)
{
    const QString conn = QUuid::createUuid().toString();
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", conn);
        db.setDatabaseName(file);
        if (!db.open())
            *error = QStringLiteral("cannot create %1: %2").arg(file, db.lastError().text());
        else {
            db.transaction();
            ok = fn(db);
            ok = ok && db.commit();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(conn);
    return ok;
}

bool makeParamDb(const QString& file, QString* error)
{
    return withDb(file, error, [&](QSqlDatabase& db) {
        if (!exec(db, "create table sysparam(name text, value text)", error))
            return false;
        for (int c = 0; c < kMaxCameras; ++c)
            if (!exec(db, QStringLiteral("create table cammer%1(name text, value text)").arg(c), error))
                return false;
        WizardPara p;
        const int lan = gLan;
        setFactoryValues(p);
        const auto rows = p.storedRows();
        gLan = lan;
        QSqlQuery q(db);
        q.prepare("insert into sysparam values(?, ?)");
        for (const auto& [key, value] : rows) {
            q.addBindValue(key);
            q.addBindValue(value);
            if (!q.exec()) {
                *error = q.lastError().text();
                return false;
            }
        }
        return true;
    });
}

bool makeSnDb(const QString& file, QString* error)
{
    return withDb(file, error, [&](QSqlDatabase& db) {
        if (!exec(db, "create table sysparam(name text, value text)", error))
            return false;
        for (int i = 0; i < kMaxCameras; ++i)
            if (!exec(db, QStringLiteral("insert into sysparam values('serialNB%1', '0')").arg(i), error))
                return false;
        return true;
    });
}

bool makeRecordDb(const QString& file, QString* error)
{
    return withDb(file, error, [&](QSqlDatabase& db) {
        return exec(db, "create table RECORD(recordtime text, recordpassword text, remarks text)", error);
    });
}

bool makeStatisticsDb(const QString& file, QString* error)
{
    return withDb(file, error, [&](QSqlDatabase& db) {
        if (!exec(db, "create table resstatistics(name text, value1 text, value2 text)", error))
            return false;
        const QString zeros = QString("0 ").repeated(24);
        QSqlQuery q(db);
        q.prepare("insert into resstatistics values(?, ?, ?)");
        for (int c = 0; c <= 8; ++c) {
            for (int d = 0; d <= 8; ++d) {
                q.addBindValue(QStringLiteral("C%1_D%2").arg(c).arg(d));
                q.addBindValue(zeros);
                q.addBindValue(zeros);
                if (!q.exec()) {
                    *error = q.lastError().text();
                    return false;
                }
            }
        }
        return true;
    });
}

// Plain drawn stand-ins for the panel's pixmaps: readable, correctly sized.
bool drawImages(const QString& dir, QString* error)
{
    struct Pix { const char* name; int w, h; QColor bg; const char* label; };
    const Pix pix[] = {
        {"logo.bmp", 200, 60, QColor(20, 60, 120), "MOULD GUARD"},
        {"background.png", 1024, 768, QColor(32, 36, 44), ""},
        {"title.png", 1024, 48, QColor(20, 60, 120), ""},
        {"line.png", 1024, 2, QColor(90, 100, 120), ""},
        {"edit.png", 48, 48, QColor(60, 70, 90), "E"},
        {"slideru.png", 40, 40, QColor(80, 80, 80), ""},
        {"sliderd.png", 40, 40, QColor(50, 50, 50), ""},
        {"slidert.png", 40, 40, QColor(110, 110, 110), ""},
        {"buttonu.png", 120, 48, QColor(70, 90, 130), ""},
        {"buttond.png", 120, 48, QColor(40, 60, 100), ""},
        {"OUT1.png", 32, 32, QColor(40, 200, 60), ""},
        {"OUT0.png", 32, 32, QColor(90, 90, 90), ""},
        {"Origin.png", 48, 48, QColor(60, 70, 90), "1:1"},
        {"MoveUp.png", 48, 48, QColor(60, 70, 90), "^"},
        {"MoveDown.png", 48, 48, QColor(60, 70, 90), "v"},
        {"MoveLeft.png", 48, 48, QColor(60, 70, 90), "<"},
        {"MoveRight.png", 48, 48, QColor(60, 70, 90), ">"},
        {"EnlargeScale.png", 48, 48, QColor(60, 70, 90), "+"},
        {"ReductionScale.png", 48, 48, QColor(60, 70, 90), "-"},
    };
    for (const Pix& p : pix) {
        QImage img(p.w, p.h, QImage::Format_RGB32);
        img.fill(p.bg);
        if (*p.label) {
            QPainter painter(&img);
            painter.setPen(Qt::white);
            QFont f = painter.font();
            f.setPixelSize(qMax(10, p.h / 2));
            f.setBold(true);
            painter.setFont(f);
            painter.drawText(img.rect(), Qt::AlignCenter, p.label);
        }
        const QString path = dir + "/" + p.name;
        if (!img.save(path)) {
            *error = "cannot write " + path;
            return false;
        }
    }
    return true;
}

// A two-tone chime, 16-bit mono PCM, about one second: loops as an alarm.
bool writeAlarmWav(const QString& path, QString* error)
{
    const int rate = 16000, samples = rate;
    QByteArray pcm;
    pcm.reserve(samples * 2);
    for (int i = 0; i < samples; ++i) {
        const double t = double(i) / rate;
        const double f = i < samples / 2 ? 880.0 : 660.0;
        const double env = qMin(1.0, qMin(t, 1.0 - t) * 50.0);
        const qint16 s = qint16(12000.0 * env * qSin(2 * M_PI * f * t));
        pcm.append(char(s & 0xff)).append(char((s >> 8) & 0xff));
    }
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        *error = "cannot write " + path;
        return false;
    }
    QDataStream out(&f);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + pcm.size());
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(1) << quint32(rate) << quint32(rate * 2) << quint16(2)
        << quint16(16);
    out.writeRawData("data", 4);
    out << quint32(pcm.size());
    out.writeRawData(pcm.constData(), pcm.size());
    return f.error() == QFile::NoError;
}

bool writeText(const QString& path, const QByteArray& text, QString* error)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Text) && f.write(text) == text.size())
        return true;
    *error = "cannot write " + path;
    return false;
}

bool copy(const QString& from, const QString& to, QString* error)
{
    if (QFile::copy(from, to))
        return true;
    *error = QStringLiteral("cannot copy %1 to %2").arg(from, to);
    return false;
}

namespace {
// The network client and its settings, from the resources of this program.
bool writeClient(const QDir& dir, QString* error)
{
    if (!QDir().mkpath(dir.absoluteFilePath("cnt_net/data"))) {
        *error = "cannot create " + dir.absoluteFilePath("cnt_net");
        return false;
    }
    for (const char* name : {"runNetClient.py", "client.conf"}) {
        QFile in(QStringLiteral(":/factory/") + name);
        const QString to = dir.absoluteFilePath(QStringLiteral("cnt_net/") + name);
        if (!in.open(QIODevice::ReadOnly) || !writeText(to, in.readAll(), error))
            return false;
    }
    QFile::setPermissions(dir.absoluteFilePath("cnt_net/runNetClient.py"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup |
                              QFile::ReadOther | QFile::ExeOther);
    return true;
}
} // namespace

// The factory package: the factory parameters (the factory group's PARAM.db)
// and the group index under "factory-reset/", which the installer puts back
// in place of the operator's. The camera order (SN.db) is the wiring, not the
// set-up: a reset leaves it.
bool writeFactoryPackage(const QDir& dir, const QString& file, QString* error)
{
    QFile param(dir.absoluteFilePath("paraGroup/default/PARAM.db"));
    if (!param.open(QIODevice::ReadOnly)) {
        *error = "no factory parameters in " + param.fileName();
        return false;
    }
    const QList<QPair<QByteArray, QByteArray>> entries{{"factory-reset/PARAM.db", param.readAll()},
                                                       {"factory-reset/sysadd.txt", "0\n"}};
    const QString part = file + ".part";
    archive* a = archive_write_new();
    archive_write_add_filter_gzip(a);
    archive_write_set_format_pax_restricted(a);
    bool ok = archive_write_open_filename(a, QFile::encodeName(part).constData()) == ARCHIVE_OK;
    for (const auto& [name, data] : entries) {
        if (!ok)
            break;
        archive_entry* e = archive_entry_new();
        archive_entry_set_pathname(e, name.constData());
        archive_entry_set_filetype(e, AE_IFREG);
        archive_entry_set_perm(e, 0644);
        archive_entry_set_size(e, data.size());
        ok = archive_write_header(a, e) == ARCHIVE_OK &&
             archive_write_data(a, data.constData(), size_t(data.size())) == data.size();
        archive_entry_free(e);
    }
    ok = archive_write_close(a) == ARCHIVE_OK && ok;
    archive_write_free(a);
    // Whole or not at all: a reset must never find half a package.
    ok = ok && (!QFile::exists(file) || QFile::remove(file)) && QFile::rename(part, file);
    if (!ok) {
        QFile::remove(part);
        *error = "cannot write the factory package " + file;
    }
    return ok;
}
} // namespace

bool writeFactoryPackage(const QString& dirPath, QString* error)
{
    QString dummy;
    const QDir dir(dirPath);
    return writeFactoryPackage(dir, dir.absoluteFilePath("paraGroup/default/20clearsh.tar.gz"), error ? error : &dummy);
}

bool makeWorkingDir(const QString& dirPath, QString* error)
{
    QString dummy;
    if (!error)
        error = &dummy;
    const QDir dir(dirPath);
    if (dir.exists("PARAM.db")) {
        *error = QStringLiteral("%1 already holds a station (PARAM.db); choose an empty folder")
                     .arg(dir.absolutePath());
        return false;
    }
    if (!QDir().mkpath(dir.absoluteFilePath("paraGroup/default")) || !QDir().mkpath(dir.absoluteFilePath("images"))) {
        *error = "cannot create " + dir.absolutePath();
        return false;
    }
    const auto at = [&](const char* name) { return dir.absoluteFilePath(name); };
    const QByteArray now = QDateTime::currentDateTime().toString("yyyy-MM-dd").toUtf8();
    return makeParamDb(at("PARAM.db"), error) && makeSnDb(at("SN.db"), error) &&
           makeRecordDb(at("RECORDNULL.db"), error) && copy(at("RECORDNULL.db"), at("RECORD.db"), error) &&
           makeStatisticsDb(at("ResStatisticsNULL.db"), error) &&
           copy(at("PARAM.db"), at("paraGroup/default/PARAM.db"), error) &&
           copy(at("SN.db"), at("paraGroup/default/SN.db"), error) &&
           drawImages(at("images"), error) && writeAlarmWav(at("alarm.wav"), error) &&
           writeText(at("time.txt"), now + '\n', error) &&
           writeText(at("realytime.txt"), QByteArray::number(QDateTime::currentMSecsSinceEpoch()) + '\n', error) &&
           writeText(at("sysadd.txt"), "0\n", error) &&
           writeFactoryPackage(dir, at("paraGroup/default/20clearsh.tar.gz"), error) && writeClient(dir, error);
}

} // namespace factory
