#pragma once
// The user accounts: "UserDataBase.db" with user_table (name, plain-text
// password, user type, creation time) and permission_table (seven rights per
// kind of user). Types: 0 logged out, 1 administrator, 2 technician,
// 3 operator. Every statement binds its values: a name with quotes or SQL in
// it is stored or refused whole, never run.
//
// Passwords are kept as plain text and the administrator's is the fixed
// service code, because the network client and older stations read the file
// that way (see the README's security section).
#include <QDateTime>
#include <QString>
#include <functional>
#include <vector>

class UserManager {
public:
    // The station's one instance, made on first use in the working directory.
    static UserManager& instance();

    // Tests and tools may make their own (one at a time: the connection name is fixed).
    UserManager();
    ~UserManager();
    UserManager(const UserManager&) = delete;
    UserManager& operator=(const UserManager&) = delete;

    static constexpr int kMaxName = 32;
    static constexpr int kRights = 7;
    static const char* connectionName() { return "sql_user_database_connection"; }

    // Opens the file; makes both tables with their default rows when either
    // is missing; logs out.
    bool connectDatabase();
    void closeDatabase();

    bool changeUser(const QString& name, const QString& password, QString& message);
    bool addUser(int type, const QString& name, const QString& password, QString& message);
    bool deleteUser(const QString& name, QString& message);
    bool changeUserPassword(const QString& oldPassword, const QString& newPassword, QString& message);
    void getAllUsersName(std::vector<QString>& names, std::vector<int>& types) const;
    // which 1: the technicians' row, otherwise the operators'.
    void getallPermission(int flags[kRights], int which) const;
    bool RecordPermission(const int technician[kRights], const int oper[kRights]);
    // Whether the current user holds the right; says why not through showMessage.
    bool CheckPermission(int right);
    bool CanAllocate() const { return m_type == 1; }
    int getUserType() const { return m_type; }
    QString currentName() const { return m_name; }
    void LogOut();

    // The label of a user type.
    static QString typeLabel(int type);

    // What the account pages show for a refusal: (title, text).
    std::function<void(const QString& title, const QString& text)> showMessage;
    // The clock of the service password (tests set it).
    std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };

    // Administrator accounts in the file; the last one cannot be deleted.
    int administrators() const;

private:
    // A refusal: its text as the message, and a record line naming what was refused.
    bool refuse(QString& message, int text, const QString& what);
    int storedType(const QString& name, bool* found) const;
    QString servicePasswordNow() const;

    QString m_name = QStringLiteral(" ");
    int m_type = 0;
    bool m_open = false;
};
