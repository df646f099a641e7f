#include "Pinyin.h"

#include <QDir>
#include <QtDebug>
#include <opencc/opencc.h>
#include <pinyinime.h>

namespace {
constexpr size_t kMaxSpelling = 28;  // the engine's own bound on letters
const char* kDictionary = PINYIN_DICTIONARY;

// The engine is one per process; opened at the first pad that needs it.
bool openEngine()
{
    static const bool ok = [] {
        // What operators chose is learnt beside the station's other files.
        const QByteArray user = QDir::current().absoluteFilePath("pinyin_user.dat").toLocal8Bit();
        const bool opened = ime_pinyin::im_open_decoder(kDictionary, user.constData());
        if (!opened)
            qWarning() << "pinyin dictionary" << kDictionary << "cannot be opened: Chinese entry is off";
        return opened;
    }();
    return ok;
}

QString fromChar16(const ime_pinyin::char16* s)
{
    return s ? QString::fromUtf16(reinterpret_cast<const char16_t*>(s)) : QString();
}
} // namespace

QString toTraditional(const QString& simplified)
{
    static opencc_t cc = [] {
        opencc_t h = opencc_open(OPENCC_DEFAULT_CONFIG_SIMP_TO_TRAD);
        if (h == reinterpret_cast<opencc_t>(-1))
            qWarning() << "OpenCC cannot be opened:" << opencc_error() << "; Chinese entry stays Simplified";
        return h;
    }();
    if (cc == reinterpret_cast<opencc_t>(-1) || simplified.isEmpty())
        return simplified;
    const QByteArray in = simplified.toUtf8();
    char* out = opencc_convert_utf8(cc, in.constData(), size_t(in.size()));
    if (!out)
        return simplified;
    const QString t = QString::fromUtf8(out);
    opencc_convert_utf8_free(out);
    return t;
}

PinyinInput::PinyinInput() { openEngine(); }

PinyinInput::~PinyinInput()
{
    if (composing())
        ime_pinyin::im_reset_search();
}

bool PinyinInput::available() const { return openEngine(); }

void PinyinInput::type(char letter)
{
    if (!available() || size_t(m_spelling.size()) >= kMaxSpelling || !((letter >= 'a' && letter <= 'z') || letter == '\''))
        return;
    // A syllable divider first is no spelling.
    if (letter == '\'' && m_spelling.isEmpty())
        return;
    m_spelling += QLatin1Char(letter);
    search();
}

void PinyinInput::search()
{
    // The engine keeps the syllables already chosen when the spelling only grows or shrinks at its end.
    const QByteArray s = m_spelling.toLatin1();
    m_count = int(ime_pinyin::im_search(s.constData(), size_t(s.size())));
}

bool PinyinInput::back()
{
    if (!composing())
        return false;
    if (ime_pinyin::im_get_fixed_len() > 0) {
        m_count = int(ime_pinyin::im_cancel_last_choice());
        return true;
    }
    m_spelling.chop(1);
    if (m_spelling.isEmpty())
        clear();
    else
        search();
    return true;
}

void PinyinInput::clear()
{
    if (composing())
        ime_pinyin::im_reset_search();
    m_spelling.clear();
    m_count = 0;
}

QString PinyinInput::raw(int i) const
{
    ime_pinyin::char16 buf[64] = {};
    return fromChar16(ime_pinyin::im_get_candidate(size_t(i), buf, 63));
}

QString PinyinInput::convert(const QString& s) const { return m_traditional ? toTraditional(s) : s; }

QString PinyinInput::shown() const
{
    if (!composing())
        return {};
    const int fixed = int(ime_pinyin::im_get_fixed_len());
    if (fixed == 0)
        return m_spelling;
    // The letters after the chosen syllables.
    const ime_pinyin::uint16* start = nullptr;
    const size_t syllables = ime_pinyin::im_get_spl_start_pos(start);
    const int from = start && size_t(fixed) <= syllables ? start[fixed] : m_spelling.size();
    return convert(raw(0).left(fixed)) + m_spelling.mid(from);
}

QString PinyinInput::candidate(int i) const
{
    if (i < 0 || i >= m_count)
        return {};
    // The first candidate is the whole sentence, the chosen part included.
    const QString c = raw(i);
    return convert(i == 0 ? c.mid(int(ime_pinyin::im_get_fixed_len())) : c);
}

std::optional<QString> PinyinInput::choose(int i)
{
    if (i < 0 || i >= m_count)
        return std::nullopt;
    m_count = int(ime_pinyin::im_choose(size_t(i)));
    const ime_pinyin::uint16* start = nullptr;
    const size_t syllables = ime_pinyin::im_get_spl_start_pos(start);
    if (ime_pinyin::im_get_fixed_len() < syllables)
        return std::nullopt;
    const QString whole = convert(raw(0));
    // Letters the engine could not read stay, to be typed on or taken back.
    size_t decoded = 0;
    ime_pinyin::im_get_sps_str(&decoded);
    const QString rest = m_spelling.mid(int(decoded));
    clear();
    // What was chosen is learnt at once: the station may be switched off any time.
    ime_pinyin::im_flush_cache();
    if (!rest.isEmpty()) {
        m_spelling = rest;
        search();
    }
    return whole;
}
