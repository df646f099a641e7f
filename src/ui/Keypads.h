#pragma once
// The on-screen keypads: numbers with their limits (gpNumPad) and text
// (gpNumCharPad). A touch panel has no keyboard; every entry goes through
// these. Keys are at least 56 px, the panel's fingertip.
#include <QDialog>
#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QLineEdit;
class QGridLayout;
class QPushButton;
class PinyinInput;

class NumPad : public QDialog {
    Q_OBJECT
public:
    explicit NumPad(QWidget* parent = nullptr);
    // Asks for a number between min and max with the given decimals; the
    // current value is shown first. Nothing (cancel) or the accepted value.
    std::optional<double> getNumber(const QString& title, double value, double min, double max, int decimals = 0);
    // One press of a key as the touch does: "0".."9", ".", "-", "back", "clear", "ok".
    void press(const QString& key);
    QString entry() const;
    QString status() const;


private:
    bool accept(const QString& text);
    QLabel* m_title;
    QLabel* m_limits;
    QLabel* m_status;
    QLineEdit* m_edit;
    double m_min = 0, m_max = 0, m_value = 0;
    int m_decimals = 0;
    bool m_fresh = true;  // the first key replaces the shown value
};

class NumCharPad : public QDialog {
    Q_OBJECT
public:
    explicit NumCharPad(QWidget* parent = nullptr);
    ~NumCharPad() override;
    // Asks for a text of at most maxLength characters (empty allowed when allowEmpty).
    // masked: a password, shown as dots. chinese: a name, which may be typed in pinyin.
    std::optional<QString> getText(const QString& title, const QString& current, int maxLength, bool allowEmpty = false,
                                   bool masked = false, bool chinese = false);
    // "a".."z", "0".."9", symbols, "shift", "space", "back", "clear", "ok";
    // with Chinese entry: "chinese" (switch), "cand0".."cand5", "prev", "next".
    void press(const QString& key);
    QString entry() const;
    QString status() const;
    // The pinyin composed and the candidates shown (empty when not composing).
    QString composing() const;
    QStringList shownCandidates() const;
    static constexpr int kCandidates = 6;


private:
    void relabel();
    void showCandidates();
    bool insert(const QString& text);
    bool accept(const QString& text);
    QLabel* m_title;
    QLabel* m_status;
    QLineEdit* m_edit;
    QList<QPushButton*> m_letters;
    QWidget* m_candBar;
    QLabel* m_spell;
    QList<QPushButton*> m_cands;
    QPushButton* m_prev;
    QPushButton* m_next;
    QPushButton* m_lang;
    std::unique_ptr<PinyinInput> m_pinyin;
    int m_candPage = 0;
    bool m_chineseAllowed = false;
    bool m_chinese = false;
    bool m_shift = false;
    int m_maxLength = 0;
    bool m_allowEmpty = false;
};

class QLineEdit;
// A read-only line that opens the text pad when tapped (a touch panel has no
// keyboard); masked: a password, shown as dots on the pad too.
// chinese: a name, which may be typed in pinyin.
void openTextPadOnTap(QLineEdit* edit, int titleMessage, int maxLength, bool masked = false, bool chinese = false);

extern NumPad* gpNumPad;
extern NumCharPad* gpNumCharPad;
