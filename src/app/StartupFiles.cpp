#include "StartupFiles.h"

#include "Globals.h"
#include "Host.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QThread>
#include <QtDebug>
#include <cstdlib>

namespace startup {

qint64 readRealyTime()
{
    QFile f("realytime.txt");
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return 0;
    bool ok = false;
    const qint64 v = QString::fromUtf8(f.readLine()).trimmed().toLongLong(&ok);
    if (!ok || v < 0) {
        qWarning() << "realytime.txt holds no time; the clock will be checked by the operator";
        return 0;
    }
    return v;
}

bool writeRealyTime(qint64 ms)
{
    QSaveFile f("realytime.txt");
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    f.write(QByteArray::number(ms) + '\n');
    return f.commit();
}

bool ensureFolders(int cameras)
{
    bool ok = true;
    auto make = [&ok](const QString& p) {
        if (!QDir().mkpath(p)) {
            qWarning() << "cannot create folder" << p;
            ok = false;
        }
    };
    for (int c = 1; c <= cameras; ++c) {
        for (int d = 1; d <= kMaxDetections; ++d) {
            make(QStringLiteral("./alarmimage/camera%1/detect%2/NG").arg(c).arg(d));
            make(QStringLiteral("./alarmimage/camera%1/detect%2/OK").arg(c).arg(d));
            make(QStringLiteral("./cammer%1%2").arg(c).arg(d));
            make(QStringLiteral("./originalimage/cammer%1%2").arg(c).arg(d));
        }
    }
    make("./RECORD");
    make("./ResStatistics");
    return ok;
}

UpdateOutcome runUpdateOnce()
{
    UpdateOutcome out;
    if (!QFile::exists("update.sh"))
        return out;
    out.ran = true;
    out.ok = platform::Host::instance().runUpdate();
    QThread::msleep(300);
    if (out.ok) {
        if (!QFile::remove("update.sh"))
            qWarning() << "update.sh could not be removed; it will run again at the next start";
        return out;
    }
    out.keptAs = QStringLiteral("update.sh.failed-%1").arg(QDateTime::currentDateTime().toString("yyyyMMdd-hhmmss"));
    if (!QFile::rename("update.sh", out.keptAs)) {
        qCritical() << "update.sh failed and could not be kept aside; it will run again at the next start";
        out.keptAs = "update.sh";
    } else {
        qCritical() << "update.sh failed; kept as" << out.keptAs;
    }
    return out;
}

QString takeUpdateResult()
{
    QFile f("update.result");
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(f.readAll()).trimmed();
    f.close();
    if (!QFile::remove("update.result"))
        qWarning() << "update.result could not be removed; it will be recorded again";
    return text;
}

bool confirmUpdate()
{
    return QFile::exists("update.pending") && QFile::remove("update.pending");
}

} // namespace startup

void StopWTD() { QThread::sleep(1); }

void Exit(int status)
{
    QThread::sleep(1);
    std::exit(status);
}
