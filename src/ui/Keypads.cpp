#include "Keypads.h"

#include "Globals.h"
#include "Language.h"
#include "Messages.h"
#include "Panel.h"
#include "Pinyin.h"
#include "Termination.h"
#include "WholeScreen.h"

#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtDebug>
#include <algorithm>
#include <cmath>

NumPad* gpNumPad = nullptr;
NumCharPad* gpNumCharPad = nullptr;

namespace {
constexpr int kKey = 64;  // px: above the 48-px touch minimum with room

QFont padFont(int px)
{
    QFont f;
    f.setPixelSize(px);
    return f;
}

QPushButton* key(QWidget* parent, const QString& face, const QString& name, const std::function<void()>& action)
{
    auto* b = new QPushButton(face, parent);
    b->setObjectName("key_" + name);
    b->setFont(padFont(24));
    b->setMinimumSize(kKey, kKey);
    b->setFocusPolicy(Qt::NoFocus);
    QObject::connect(b, &QPushButton::clicked, parent, action);
    return b;
}

QLabel* line(QWidget* parent, int px)
{
    auto* l = new QLabel(parent);
    l->setFont(padFont(px));
    l->setAlignment(Qt::AlignCenter);
    l->setWordWrap(true);
    return l;
}

// The entry of a pad: unattended, the shown text stays; else what the operator
// confirms; nothing when refused or cancelled.
std::optional<QString> runPad(QDialog* pad, const QString& shown, const std::function<bool(const QString&)>& check,
                              const std::function<QString()>& confirmed)
{
    if (stationTerminating())
        return std::nullopt;
    if (autoAnswer()) {
        if (!check(shown))
            return std::nullopt;
        return shown;
    }
    if (pad->exec() != QDialog::Accepted)
        return std::nullopt;
    return confirmed();
}

const char* kPadStyle = "QDialog{background:#2b3340;border:2px solid #4080d0;} QLabel{color:white;}"
                        "QLineEdit{background:#101216;color:white;padding:4px;}";
} // namespace

// --- numbers -------------------------------------------------------------------------------

NumPad::NumPad(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName("numPad");
    raiseWhenShown(this);
    setStyleSheet(kPadStyle);
    auto* lay = new QVBoxLayout(this);
    m_title = line(this, 22);
    m_title->setObjectName("padTitle");
    m_limits = line(this, 18);
    m_edit = new QLineEdit(this);
    m_edit->setReadOnly(true);
    m_edit->setFont(padFont(30));
    m_edit->setAlignment(Qt::AlignRight);
    m_edit->setMinimumHeight(56);
    m_status = line(this, 18);
    m_status->setStyleSheet("color:#ff8070;");
    lay->addWidget(m_title);
    lay->addWidget(m_limits);
    lay->addWidget(m_edit);
    lay->addWidget(m_status);
    auto* grid = new QGridLayout;
    const char* faces[] = {"7", "8", "9", "4", "5", "6", "1", "2", "3", "-", "0", "."};
    for (int i = 0; i < 12; ++i) {
        const QString f = QString::fromLatin1(faces[i]);
        grid->addWidget(key(this, f, f == "-" ? "minus" : f == "." ? "dot" : f, [this, f] { press(f); }), i / 3, i % 3);
    }
    grid->addWidget(key(this, QString::fromUtf8("⌫"), "back", [this] { press("back"); }), 0, 3);
    grid->addWidget(key(this, "C", "clear", [this] { press("clear"); }), 1, 3);
    QPushButton* ok = key(this, QString(), "ok", [this] { press("ok"); });
    setLan(ok, 121);
    grid->addWidget(ok, 2, 3, 2, 1);
    lay->addLayout(grid);
    QPushButton* cancel = key(this, QString(), "cancel", [this] { reject(); });
    setLan(cancel, 1528);
    lay->addWidget(cancel);
}

QString NumPad::entry() const { return m_edit->text(); }
QString NumPad::status() const { return m_status->text(); }

std::optional<double> NumPad::getNumber(const QString& title, double value, double min, double max, int decimals)
{
    m_title->setText(QString(title).replace("\r\n", "\n"));
    m_min = min, m_max = max, m_decimals = std::max(0, decimals);
    m_value = value;
    m_limits->setText(LanStr(1543).arg(QString::number(min, 'f', m_decimals), QString::number(max, 'f', m_decimals)));
    m_edit->setText(QString::number(value, 'f', m_decimals));
    m_status->clear();
    m_fresh = true;
    // A whole-number field has no decimal point to type: 1 . 5 would silently become 15.
    if (auto* dot = findChild<QPushButton*>("key_dot"))
        dot->setEnabled(m_decimals > 0);
    // accept() keeps the checked value in m_value, from the script and the OK key alike.
    if (!runPad(this, m_edit->text(), [this](const QString& t) { return accept(t); },
                [this] { return m_edit->text(); }))
        return std::nullopt;
    return m_value;
}

bool NumPad::accept(const QString& text)
{
    bool ok = false;
    const double v = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v)) {
        m_status->setText(LanStr(1546));
        return false;
    }
    // Kept to the decimals the field has: 1.25 in a whole-number field is not 1.
    const double scale = std::pow(10.0, m_decimals);
    if (std::abs(v * scale - std::round(v * scale)) > 1e-6) {
        m_status->setText(LanStr(1547).arg(m_decimals));
        return false;
    }
    if (v < m_min || v > m_max) {
        m_status->setText(LanStr(1542).arg(QString::number(m_min, 'f', m_decimals), QString::number(m_max, 'f', m_decimals)));
        return false;
    }
    m_value = v;
    return true;
}

void NumPad::press(const QString& k)
{
    QString t = m_edit->text();
    if (k == "ok") {
        if (accept(t))
            QDialog::accept();
        return;
    }
    if (m_fresh && k != "back") {
        t.clear();
        m_fresh = false;
    }
    m_fresh = false;
    if (k == "back")
        t.chop(1);
    else if (k == "clear")
        t.clear();
    else if (k == "-")
        t = t.startsWith('-') ? t.mid(1) : "-" + t;
    else if (k == ".") {
        if (m_decimals == 0) {
            m_status->setText(LanStr(1898));
            return;
        }
        if (!t.contains('.'))
            t += t.isEmpty() || t == "-" ? "0." : ".";
    } else if (k.size() == 1 && k[0].isDigit() && t.size() < 16)
        t += k;
    m_edit->setText(t);
    m_status->clear();
}

// --- text ----------------------------------------------------------------------------------

NumCharPad::NumCharPad(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName("numCharPad");
    raiseWhenShown(this);
    setStyleSheet(kPadStyle);
    auto* lay = new QVBoxLayout(this);
    m_title = line(this, 22);
    m_title->setObjectName("padTitle");
    m_edit = new QLineEdit(this);
    m_edit->setFont(padFont(28));
    m_edit->setMinimumHeight(56);
    // Never focused: a focused line shows its text selected, as if a key would replace it.
    m_edit->setFocusPolicy(Qt::NoFocus);
    m_status = line(this, 18);
    m_status->setStyleSheet("color:#ff8070;");
    lay->addWidget(m_title);
    lay->addWidget(m_edit);
    lay->addWidget(m_status);
    // Chinese entry: the pinyin typed so far and its candidates, a page at a time.
    m_candBar = new QWidget(this);
    auto* cands = new QHBoxLayout(m_candBar);
    cands->setContentsMargins(0, 0, 0, 0);
    m_spell = line(m_candBar, 22);
    m_spell->setObjectName("pinyinSpelling");
    m_spell->setMinimumWidth(2 * kKey);
    m_spell->setWordWrap(false);
    cands->addWidget(m_spell);
    m_prev = key(m_candBar, QString::fromUtf8("◀"), "prev", [this] { press("prev"); });
    cands->addWidget(m_prev);
    for (int i = 0; i < kCandidates; ++i) {
        const QString name = QStringLiteral("cand%1").arg(i);
        QPushButton* b = key(m_candBar, QString(), name, [this, name] { press(name); });
        b->setMinimumWidth(kKey + kKey / 2);
        m_cands << b;
        cands->addWidget(b, 1);
    }
    m_next = key(m_candBar, QString::fromUtf8("▶"), "next", [this] { press("next"); });
    cands->addWidget(m_next);
    // Its room is kept when hidden: switching to pinyin must not move a key under the finger.
    QSizePolicy keep = m_candBar->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    m_candBar->setSizePolicy(keep);
    m_candBar->hide();
    lay->addWidget(m_candBar);
    auto* grid = new QGridLayout;
    const QStringList rows{"1234567890", "qwertyuiop", "asdfghjkl-", "zxcvbnm_.@"};
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < rows[r].size(); ++c) {
            const QString ch = rows[r].mid(c, 1);
            QPushButton* b = key(this, ch, ch, [this, ch] { press(ch); });
            if (ch[0].isLetter())
                m_letters << b;
            grid->addWidget(b, r, c);
        }
    lay->addLayout(grid);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(key(this, QString::fromUtf8("⇧"), "shift", [this] { press("shift"); }));
    m_lang = key(this, QString::fromUtf8("中"), "chinese", [this] { press("chinese"); });
    bottom->addWidget(m_lang);
    QPushButton* space = key(this, QString(), "space", [this] { press("space"); });
    space->setMinimumWidth(4 * kKey);
    bottom->addWidget(space, 1);
    bottom->addWidget(key(this, QString::fromUtf8("⌫"), "back", [this] { press("back"); }));
    bottom->addWidget(key(this, "C", "clear", [this] { press("clear"); }));
    QPushButton* ok = key(this, QString(), "ok", [this] { press("ok"); });
    QPushButton* cancel = key(this, QString(), "cancel", [this] { reject(); });
    setLan(ok, 121);
    setLan(cancel, 1528);
    for (QPushButton* b : {ok, cancel}) {
        b->setMinimumWidth(2 * kKey);
        bottom->addWidget(b);
    }
    lay->addLayout(bottom);
}

NumCharPad::~NumCharPad() = default;

QString NumCharPad::entry() const { return m_edit->text(); }
QString NumCharPad::status() const { return m_status->text(); }
QString NumCharPad::composing() const { return m_pinyin ? m_pinyin->shown() : QString(); }

QStringList NumCharPad::shownCandidates() const
{
    QStringList shown;
    for (QPushButton* b : m_cands)
        if (b->isEnabled())
            shown << b->text();
    return shown;
}

void NumCharPad::showCandidates()
{
    m_lang->setText(m_chinese ? QStringLiteral("EN") : QString::fromUtf8("中"));
    m_candBar->setVisible(m_chinese);
    const int count = m_pinyin ? m_pinyin->candidates() : 0;
    const bool composing = m_pinyin && m_pinyin->composing();
    m_spell->setText(composing ? m_pinyin->shown() : QString());
    for (int i = 0; i < kCandidates; ++i) {
        const int c = m_candPage * kCandidates + i;
        const bool shown = composing && c < count;
        m_cands[i]->setText(shown ? m_pinyin->candidate(c) : QString());
        m_cands[i]->setEnabled(shown);
    }
    m_prev->setEnabled(composing && m_candPage > 0);
    m_next->setEnabled(composing && (m_candPage + 1) * kCandidates < count);
}

bool NumCharPad::insert(const QString& text)
{
    const QString t = m_edit->text() + text;
    if (t.size() > m_maxLength) {
        m_status->setText(LanStr(1544).arg(m_maxLength));
        return false;
    }
    m_edit->setText(t);
    m_status->clear();
    return true;
}

void NumCharPad::relabel()
{
    for (QPushButton* b : std::as_const(m_letters))
        b->setText(m_shift ? b->text().toUpper() : b->text().toLower());
}

std::optional<QString> NumCharPad::getText(const QString& title, const QString& current, int maxLength, bool allowEmpty,
                                           bool masked, bool chinese)
{
    // Chinese entry for names only: never for a password, an address or a number.
    m_chineseAllowed = chinese && !masked;
    if (m_chineseAllowed && !m_pinyin)
        m_pinyin = std::make_unique<PinyinInput>();
    m_chineseAllowed = m_chineseAllowed && m_pinyin->available();
    if (m_pinyin)
        m_pinyin->clear();
    // A Chinese operator starts in pinyin.
    m_chinese = m_chineseAllowed && gLan != 1;
    if (m_pinyin)
        m_pinyin->setTraditional(gLan == 2);
    m_candPage = 0;
    m_lang->setVisible(m_chineseAllowed);
    showCandidates();
    // The keys append to what is shown; nothing is shown selected as if it would be replaced.
    m_edit->deselect();
    m_edit->end(false);
    m_edit->setEchoMode(masked ? QLineEdit::Password : QLineEdit::Normal);
    m_title->setText(QString(title).replace("\r\n", "\n"));
    m_maxLength = maxLength;
    m_allowEmpty = allowEmpty;
    m_edit->setMaxLength(maxLength);
    m_edit->setText(current.left(maxLength));
    m_status->clear();
    m_shift = false;
    relabel();
    return runPad(this, m_edit->text(), [this](const QString& t) { return accept(t); },
                  [this] { return m_edit->text(); });
}

bool NumCharPad::accept(const QString& text)
{
    if (text.size() > m_maxLength) {
        m_status->setText(LanStr(1544).arg(m_maxLength));
        return false;
    }
    if (text.trimmed().isEmpty() && !m_allowEmpty) {
        m_status->setText(LanStr(1545));
        return false;
    }
    for (const QChar c : text)
        if (c.category() == QChar::Other_Control) {
            m_status->setText(LanStr(1548));
            return false;
        }
    return true;
}

void NumCharPad::press(const QString& k)
{
    QString t = m_edit->text();
    const bool composing = m_chinese && m_pinyin && m_pinyin->composing();
    // A reason shown for the last key is gone with the next one.
    if (k != "ok")
        m_status->clear();
    if (k == "ok") {
        // Pinyin not yet chosen is not silently dropped nor taken as letters.
        if (composing) {
            m_status->setText(LanStr(1744));
            return;
        }
        if (accept(t))
            QDialog::accept();
        return;
    }
    if (k == "chinese") {
        if (m_chineseAllowed) {
            m_chinese = !m_chinese;
            m_pinyin->clear();
            m_candPage = 0;
            showCandidates();
        }
        return;
    }
    if (composing) {
        if (k.startsWith("cand")) {
            const int i = m_candPage * kCandidates + k.mid(4).toInt();
            if (i >= m_pinyin->candidates())
                return;
            const std::optional<QString> whole = m_pinyin->choose(i);
            m_candPage = 0;
            if (whole && !insert(*whole))
                m_pinyin->clear();
            showCandidates();
            return;
        }
        if (k == "prev" || k == "next") {
            const int pages = (m_pinyin->candidates() + kCandidates - 1) / kCandidates;
            m_candPage = std::clamp(m_candPage + (k == "next" ? 1 : -1), 0, std::max(0, pages - 1));
            showCandidates();
            return;
        }
        if (k == "back" || k == "clear" || k == "space" || (k.size() == 1 && k[0].isLower())) {
            if (k == "back")
                m_pinyin->back();
            else if (k == "clear")
                m_pinyin->clear();
            else if (k == "space")
                press("cand0");  // the first candidate, as on every pinyin keyboard
            else
                m_pinyin->type(k[0].toLatin1());
            m_candPage = 0;
            showCandidates();
            return;
        }
        // The digits choose on the page shown, as on every pinyin keyboard; other keys
        // would land before the characters still being chosen.
        if (k.size() == 1 && k[0] >= '1' && k[0] < QChar('1' + kCandidates)) {
            press(QStringLiteral("cand%1").arg(k[0].digitValue() - 1));
            return;
        }
        if (k != "shift")
            return;
    } else if (m_chinese && k.size() == 1 && k[0].isLower() && !m_shift) {
        m_pinyin->type(k[0].toLatin1());
        m_candPage = 0;
        showCandidates();
        return;
    }
    if (k.startsWith("cand") || k == "prev" || k == "next")
        return;
    if (k == "shift") {
        m_shift = !m_shift;
        relabel();
        return;
    }
    if (k == "back")
        t.chop(1);
    else if (k == "clear")
        t.clear();
    else if (k == "space")
        t += ' ';
    else if (k.size() == 1)
        t += m_shift ? k.toUpper() : k;
    if (t.size() > m_maxLength) {
        m_status->setText(LanStr(1544).arg(m_maxLength));
        return;
    }
    m_edit->setText(t);
    m_status->clear();
}

namespace {
class TextPadOpener : public QObject {
public:
    TextPadOpener(QObject* parent, int title, int maxLength, bool masked, bool chinese)
        : QObject(parent), m_title(title), m_max(maxLength), m_masked(masked), m_chinese(chinese)
    {
    }
    bool eventFilter(QObject* o, QEvent* e) override
    {
        auto* edit = qobject_cast<QLineEdit*>(o);
        if (!edit || e->type() != QEvent::MouseButtonRelease || !gpNumCharPad)
            return false;
        if (const auto text = gpNumCharPad->getText(LanStr(m_title), edit->text(), m_max, true, m_masked, m_chinese))
            edit->setText(*text);
        return true;
    }

private:
    int m_title, m_max;
    bool m_masked, m_chinese;
};
} // namespace

void openTextPadOnTap(QLineEdit* edit, int titleMessage, int maxLength, bool masked, bool chinese)
{
    edit->setReadOnly(true);
    edit->installEventFilter(new TextPadOpener(edit, titleMessage, maxLength, masked, chinese));
}
