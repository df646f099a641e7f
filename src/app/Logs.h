#pragma once
// The text log of the Qt message stream (one file per start under
// RECORD/LOG) and the glog log of the network module and of crashes.
#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QString>
#include <atomic>

class LogManager {
public:
    // Sets up the directory, installs the message handler and removes the
    // oldest file when more than 49 are there.
    explicit LogManager(const QString& appDir, const QDateTime& start = QDateTime::currentDateTime());
    ~LogManager();

    static void outputMessage(QtMsgType type, const QMessageLogContext& context, const QString& msg);

    static LogManager* __instance;
    static QString __CurTaskPath;
    static QString __CurName;
    // Mirrors enable_log of the system parameters.
    static std::atomic<bool> enabled;

    static constexpr const char* kVersion = "15.0.2.44";

private:
    static QMutex s_mutex;
    static QFile* s_file;
    QtMessageHandler m_previous = nullptr;
};

class GLog {
public:
    // logDir must exist; prunes it to the 49 newest files.
    GLog(const QString& logDir, const char* argv0);
    ~GLog();
};

// glog failure writer: the crash dump goes into the log as INFO. Before the
// first piece of it, gOnFatalSignal runs (async-signal-safe work only).
void SignalHandle(const char* data, size_t size);
extern void (*gOnFatalSignal)();
