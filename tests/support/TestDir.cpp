#include "TestDir.h"

#include "FactoryDir.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringList>

TestDir::TestDir(Kind kind)
{
    m_previous = QDir::currentPath();
    QString error;
    m_ok = m_dir.isValid() && (kind == Empty || factory::makeWorkingDir(m_dir.path(), &error));
    if (!error.isEmpty())
        qWarning("%s", qPrintable(error));
    QDir::setCurrent(m_dir.path());
}

TestDir::~TestDir()
{
    dropConnections();
    QDir::setCurrent(m_previous);
}

void dropConnections()
{
    for (const QString& name : QSqlDatabase::connectionNames()) {
        QSqlDatabase::database(name, false).close();
        QSqlDatabase::removeDatabase(name);
    }
}

QStringList recordRemarks(const QString& file)
{
    QStringList out;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "recordRemarks");
        db.setDatabaseName(file);
        if (QFile::exists(file) && db.open()) {
            QSqlQuery q("select remarks from RECORD", db);
            while (q.next())
                out << q.value(0).toString();
        }
        db.close();
    }
    QSqlDatabase::removeDatabase("recordRemarks");
    return out;
}

QStringList hostJournal()
{
    QStringList out;
    for (const QString& line : readText("host-actions.log").split('\n', Qt::SkipEmptyParts))
        out << line.section(' ', 1);
    return out;
}

QStringList hostActions()
{
    QStringList out;
    for (const QString& line : hostJournal())
        if (!line.contains("nothing sent"))
            out << line;
    return out;
}

QString readText(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll());
}

void writeText(const QString& path, const QByteArray& text)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(text);
}
