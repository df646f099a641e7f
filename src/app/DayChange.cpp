#include "DayChange.h"

#include <QFile>
#include <QSaveFile>

namespace daychange {

bool note(const QString& journal, const QStringList& fields, const QString& target)
{
    QSaveFile f(journal);
    const QByteArray text = (QStringList(fields) << target).join('\n').toUtf8();
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size() && f.commit();
}

std::optional<Noted> read(const QString& journal)
{
    QFile f(journal);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    QStringList parts = QString::fromUtf8(f.readAll()).split('\n');
    f.close();
    if (parts.size() < 2 || parts.contains(QString())) {
        QFile::remove(journal);
        return std::nullopt;
    }
    Noted n;
    n.target = parts.takeLast();
    n.fields = parts;
    return n;
}

bool archive(const QString& file, const QString& target)
{
    // Each step once: what is in place is not done again.
    return !QFile::exists(file) || QFile::exists(target) || QFile::rename(file, target);
}

bool copyWhole(const QString& from, const QString& to)
{
    const QString part = to + QStringLiteral(".part");
    QFile::remove(part);
    if (QFile::copy(from, part) && QFile::rename(part, to))
        return true;
    QFile::remove(part);
    return false;
}

} // namespace daychange
