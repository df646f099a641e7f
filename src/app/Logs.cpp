#include "Logs.h"

#include <atomic>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>
#include <glog/logging.h>

LogManager* LogManager::__instance = nullptr;
QString LogManager::__CurTaskPath;
QString LogManager::__CurName;
std::atomic<bool> LogManager::enabled{false};
QMutex LogManager::s_mutex;
QFile* LogManager::s_file = nullptr;

namespace {
const char* kStampFmt = "yyyy/MM/dd-HH:mm:ss.zzz";

// Deletes the oldest entries of dir matching filter until at most keep remain
// (or, with oneOnly, deletes just the oldest one when more than keep remain).
void prune(const QString& dirPath, const QString& filter, int keep, bool oneOnly)
{
    QDir dir(dirPath);
    QFileInfoList files = dir.entryInfoList({filter}, QDir::Files, QDir::Time | QDir::Reversed);
    while (files.size() > keep) {
        QFile::remove(files.takeFirst().absoluteFilePath());
        if (oneOnly)
            break;
    }
}
} // namespace

LogManager::LogManager(const QString& appDir, const QDateTime& start)
{
    // No application folder known yet (a window made without main()): the
    // working directory, never the root of the file system.
    __CurTaskPath = (appDir.isEmpty() ? QDir::currentPath() : appDir) + "/RECORD/LOG";
    __CurName = start.toString("yyyyMMdd_HHmmss") + "_log.txt";
    QDir().mkpath(__CurTaskPath);
    {
        QMutexLocker lock(&s_mutex);
        delete s_file;
        s_file = nullptr;
    }
    __instance = this;
    m_previous = qInstallMessageHandler(&LogManager::outputMessage);
    prune(__CurTaskPath, "*_log.txt", 49, true);
}

LogManager::~LogManager()
{
    qInstallMessageHandler(m_previous);
    QMutexLocker lock(&s_mutex);
    delete s_file;
    s_file = nullptr;
    if (__instance == this)
        __instance = nullptr;
}

void LogManager::outputMessage(QtMsgType type, const QMessageLogContext&, const QString& msg)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        fprintf(stderr, "%s\n", qPrintable(msg));
    if (!enabled)
        return;
    char level = 'I';
    switch (type) {
    case QtWarningMsg: level = 'W'; break;
    case QtCriticalMsg: level = 'E'; break;
    case QtFatalMsg: level = 'F'; break;
    default: break;
    }
    const QString stamp = QDateTime::currentDateTime().toString(kStampFmt);
    const QString line = QStringLiteral("[%1 %2] %3").arg(level).arg(stamp, msg);

    QMutexLocker lock(&s_mutex);
    const QString path = __CurTaskPath + "/" + __CurName;
    if (!s_file)
        s_file = new QFile(path);
    // A file removed while running is started again with its header.
    if (!QFile::exists(path)) {
        s_file->close();
        if (!s_file->open(QIODevice::WriteOnly | QIODevice::Append))
            return;
        QTextStream(s_file) << "create newlog version " << kVersion << ' ' << stamp << '\n';
    } else if (!s_file->isOpen() && !s_file->open(QIODevice::WriteOnly | QIODevice::Append)) {
        return;
    }
    QTextStream out(s_file);
    out.setEncoding(QStringConverter::Utf8);
    out << line << '\n';
    out.flush();
}

GLog::GLog(const QString& logDir, const char* argv0)
{
    FLAGS_log_dir = logDir.toStdString();
    FLAGS_logbufsecs = 0;
    FLAGS_max_log_size = 100;
    FLAGS_stop_logging_if_full_disk = true;
    FLAGS_logtostderr = false;
    FLAGS_alsologtostderr = false;
    FLAGS_stderrthreshold = google::GLOG_FATAL;
    google::SetLogFilenameExtension("log");
    if (!google::IsGoogleLoggingInitialized())
        google::InitGoogleLogging(argv0);
    google::InstallFailureSignalHandler();
    google::InstallFailureWriter(&SignalHandle);
    prune(logDir, "*", 49, false);
}

GLog::~GLog()
{
    google::FlushLogFiles(google::GLOG_INFO);
}

void (*gOnFatalSignal)() = nullptr;

void SignalHandle(const char* data, size_t size)
{
    // The dump takes a while and the IO thread may still hold a permission: the last word first, once.
    static std::atomic<bool> told{false};
    if (gOnFatalSignal && !told.exchange(true))
        gOnFatalSignal();
    google::LogMessage("../network.cpp", 89, google::GLOG_INFO).stream() << std::string(data, size);
}
