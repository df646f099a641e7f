#pragma once
// A temporary working directory for one test: made fresh (optionally as a
// factory station directory), entered, and left and removed afterwards.
#include <QString>
#include <QTemporaryDir>

class TestDir {
public:
    enum Kind { Empty, Factory };
    explicit TestDir(Kind kind = Factory);
    ~TestDir();
    QString path() const { return m_dir.path(); }
    QString file(const QString& name) const { return m_dir.filePath(name); }
    bool ok() const { return m_ok; }

private:
    QTemporaryDir m_dir;
    QString m_previous;
    bool m_ok = false;
};

// The lines of host-actions.log in the current directory, without their time stamps.
QStringList hostJournal();
// The same without the network actions that were skipped (nothing sent).
QStringList hostActions();
// Reads a whole text file.
QString readText(const QString& path);
// Writes a whole text file.
void writeText(const QString& path, const QByteArray& text);
// Closes and removes every database connection a test may have left.
void dropConnections();
// The remarks column of an operation record file (RECORD.db of the current directory by default).
QStringList recordRemarks(const QString& file = QStringLiteral("RECORD.db"));
