#pragma once
// The account page: who is logged in, the accounts, and logging in, out,
// adding a technician or an operator, deleting, changing the password and
// the rights of each user type. Every field is checked before the account
// manager is asked; the status line says what happened (red refused, blue done).
#include <QWidget>
#include <functional>
#include <optional>

class QLabel;
class QListWidget;
class QPushButton;

class AccountWidget : public QWidget {
    Q_OBJECT
public:
    explicit AccountWidget(QWidget* parent = nullptr);

    void refresh();
    bool login();
    void logout();
    // type 2 technician, 3 operator
    bool addUser(int type);
    bool deleteUser();
    bool changePassword();
    // The stop-detection right of technicians and operators, administrators only.
    bool saveRights();

    QString status() const;
    bool statusIsError() const { return m_error; }
    QListWidget* users() const { return m_users; }
    QPushButton* technicianRight() const { return m_techRight; }
    QPushButton* operatorRight() const { return m_operRight; }

private:
    // What the operator types on the station's text pad (nothing: cancelled), and its question box.
    static std::optional<QString> entry(const QString& title, bool masked);
    static bool ask(const QString& question);
    void say(const QString& text, bool error);
    QString selectedName() const;
    // A password typed twice; false (said why) when one is missing or they differ.
    // The two entries of a new password; whose: the account named in their titles (empty: none).
    std::optional<QString> newPassword(int first, int again, const QString& whose = {});

    QLabel* m_who;
    QLabel* m_status;
    QListWidget* m_users;
    QPushButton* m_techRight;
    QPushButton* m_operRight;
    bool m_error = false;
};
