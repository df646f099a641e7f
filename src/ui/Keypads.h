#pragma once
// The on-screen keypads: numbers with their limits (gpNumPad) and text
// (gpNumCharPad). A touch panel has no keyboard; every entry goes through
// these. Keys are at least 56 px, the panel's fingertip.
#include <QDialog>
#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QGridLayout;
class QPushButton;

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

    // Tests and unattended runs: what the operator would type, or nothing (cancel).
    static std::function<std::optional<QString>()> scriptedEntry;

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
    // Asks for a text of at most maxLength characters (empty allowed when allowEmpty).
    // masked: a password, shown as dots.
    std::optional<QString> getText(const QString& title, const QString& current, int maxLength, bool allowEmpty = false,
                                   bool masked = false);
    // "a".."z", "0".."9", symbols, "shift", "space", "back", "clear", "ok".
    void press(const QString& key);
    QString entry() const;
    QString status() const;

    static std::function<std::optional<QString>()> scriptedEntry;

private:
    void relabel();
    bool accept(const QString& text);
    QLabel* m_title;
    QLabel* m_status;
    QLineEdit* m_edit;
    QList<QPushButton*> m_letters;
    bool m_shift = false;
    int m_maxLength = 0;
    bool m_allowEmpty = false;
};

class QLineEdit;
// A read-only line that opens the text pad when tapped (a touch panel has no
// keyboard); masked: a password, shown as dots on the pad too.
void openTextPadOnTap(QLineEdit* edit, int titleMessage, int maxLength, bool masked = false);

extern NumPad* gpNumPad;
extern NumCharPad* gpNumCharPad;
