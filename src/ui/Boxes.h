#pragma once
// The station's modal boxes: the warning box (confirm only), the question box
// (result 1 = confirmed) and the date-and-time dialog. Under STATION_ANSWER
// they answer at once and log what they would have shown.
#include <QDateTime>
#include <QDialog>
#include <functional>
#include <optional>

#include "Termination.h"

class QLabel;
class QDateTimeEdit;

class WarnBox : public QDialog {
    Q_OBJECT
public:
    explicit WarnBox(QWidget* parent = nullptr);
    // Shows text with a confirm button; modal waits for the operator.
    void showMessage(const QString& text, bool modal = true);
    // Non-blocking: shown while start-up goes on, closed with hideMessage.
    void showProgress(const QString& text, const QString& button);
    void hideMessage();
    QString text() const;

private:
    QLabel* m_label;
    class QPushButton* m_button;
};

class ChooseBox : public QDialog {
    Q_OBJECT
public:
    explicit ChooseBox(QWidget* parent = nullptr);
    // 1 when the operator confirmed, else 0.
    int ask(const QString& text);
    // The question shown last (line breaks as shown).
    QString text() const;

private:
    QLabel* m_label;
};

class DateTimeDialog : public QDialog {
    Q_OBJECT
public:
    explicit DateTimeDialog(QWidget* parent = nullptr);
    // True and the chosen time when confirmed.
    bool choose(QDateTime* chosen);

private:
    QDateTimeEdit* m_edit;
};

// "camera disconnect" with a "Shut Down" button: shown while cameras are lost.
class CameraLostBox : public QDialog {
    Q_OBJECT
public:
    explicit CameraLostBox(QWidget* parent = nullptr);
    void showLost();

signals:
    void shutDown();
};

// The password box: the system password raises the level to 1, the service
// password to 2, anything else leaves it 0 with "The password is wrong" as
// the entry's placeholder. Wrong tries in a row make the next one wait.
class PasswordBox : public QDialog {
    Q_OBJECT
public:
    explicit PasswordBox(QWidget* parent = nullptr);
    // Shows the box until a password is accepted or the box is cancelled;
    // returns the level it left (gPasswordLevel). dialog: the password
    // dialog's rule (2 or 0, the stamped service password always).
    int run(bool dialog = false);
    // One try with typed, as the confirm button does: the level, or 0.
    int tryEntry(const QString& typed);
    QString placeholder() const;

private:
    class QLineEdit* m_edit;
    QLabel* m_status;
    bool m_dialog = false;
    int m_level = 0;
};

extern WarnBox* gpWarnBox;
extern ChooseBox* gpChooseBox;
extern PasswordBox* gpPasswordBox;

