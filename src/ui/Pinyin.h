#pragma once
// Chinese entry on the text pad: pinyin letters give a row of candidates
// from the packaged pinyin engine; in Traditional Chinese they are converted
// with OpenCC. One composition at a time (the engine keeps one).
#include <QString>
#include <optional>

class PinyinInput {
public:
    PinyinInput();
    ~PinyinInput();
    PinyinInput(const PinyinInput&) = delete;
    PinyinInput& operator=(const PinyinInput&) = delete;

    // False when the engine's dictionary could not be opened (then letters stay letters).
    bool available() const;
    void setTraditional(bool on) { m_traditional = on; }
    // A lower-case letter a..z or the syllable divider '.
    void type(char letter);
    // Takes back the last choice, else the last letter; false when nothing was composed.
    bool back();
    void clear();
    bool composing() const { return !m_spelling.isEmpty(); }
    // What is composed so far: the characters chosen, then the letters still open.
    QString shown() const;
    int candidates() const { return m_count; }
    QString candidate(int i) const;
    // Chooses candidate i; the whole text once every syllable is chosen, else nothing yet.
    std::optional<QString> choose(int i);

private:
    void search();
    QString convert(const QString& s) const;
    QString raw(int i) const;
    QString m_spelling;
    int m_count = 0;
    bool m_traditional = false;
};

// Simplified to Traditional Chinese (the text itself when OpenCC is missing).
QString toTraditional(const QString& simplified);
