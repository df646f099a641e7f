#include "Messages.h"

#include "Globals.h"

#include <QFile>
#include <QStringList>
#include <QtDebug>

QString gaLanStr[kMessageCount][kLanguageCount];

namespace {

QString unescape(const QString& s)
{
    QString out;
    out.reserve(s.size());
    for (int i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        if (c != '\\' || i + 1 == s.size()) {
            out += c;
            continue;
        }
        const QChar n = s[++i];
        switch (n.unicode()) {
        case 'r': out += '\r'; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case '\\': out += '\\'; break;
        default: out += '\\'; out += n; break;
        }
    }
    return out;
}

} // namespace

int ParseLanTable(const QByteArray& table, QStringList* errors)
{
    int loaded = 0;
    const QList<QByteArray> lines = table.split('\n');
    for (int ln = 0; ln < lines.size(); ++ln) {
        const QString line = QString::fromUtf8(lines[ln]);
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const QStringList cols = line.split('\t');
        bool ok = false;
        const int n = cols.value(0).toInt(&ok);
        QString problem;
        if (cols.size() != 4)
            problem = QStringLiteral("expected 4 columns, found %1").arg(cols.size());
        else if (!ok || n < 0 || n >= kMessageCount)
            problem = QStringLiteral("bad message number '%1'").arg(cols.value(0));
        if (!problem.isEmpty()) {
            const QString e = QStringLiteral("message table line %1: %2").arg(ln + 1).arg(problem);
            qWarning().noquote() << e;
            if (errors)
                errors->append(e);
            continue;
        }
        for (int l = 0; l < kLanguageCount; ++l)
            gaLanStr[n][l] = unescape(cols[l + 1]);
        ++loaded;
    }
    return loaded;
}

int LoadLanStr()
{
    QFile f(QStringLiteral(":/station/messages.tsv"));
    if (!f.open(QIODevice::ReadOnly)) {
        qCritical() << "message table missing from the binary";
        return 0;
    }
    return ParseLanTable(f.readAll());
}

QString LanStr(int n, int lan)
{
    if (n < 0 || n >= kMessageCount)
        return {};
    if (lan < 0 || lan >= kLanguageCount)
        lan = 0;
    return gaLanStr[n][lan];
}

QString LanStr(int n) { return LanStr(n, gLan); }
