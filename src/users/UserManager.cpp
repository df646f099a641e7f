#include "UserManager.h"

#include "Access.h"
#include "Messages.h"
#include "OperationRecord.h"
#include "WizardPara.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QTextStream>
#include <QVariant>
#include <QtDebug>

namespace {
QSqlDatabase db() { return QSqlDatabase::database(UserManager::connectionName(), false); }

QString rightsText(const int f[UserManager::kRights])
{
    QStringList parts;
    for (int i = 0; i < UserManager::kRights; ++i)
        parts << QString::number(f[i] ? 1 : 0);
    return parts.join(' ');
}
} // namespace

UserManager& UserManager::instance()
{
    static UserManager* m = new UserManager;  // never destroyed: the station ends by power-off
    return *m;
}

UserManager::UserManager() { connectDatabase(); }

UserManager::~UserManager()
{
    closeDatabase();
    QSqlDatabase::removeDatabase(connectionName());
}

bool UserManager::connectDatabase()
{
    if (!QSqlDatabase::contains(connectionName())) {
        QSqlDatabase a = QSqlDatabase::addDatabase("QSQLITE", connectionName());
        a.setDatabaseName("UserDataBase.db");
        a.setUserName("usr");
        a.setPassword("UMS260315");
    }
    QSqlDatabase d = db();
    m_open = d.isOpen() || d.open();
    if (!m_open) {
        qWarning() << "UserDataBase.db cannot be opened:" << d.lastError().text();
        LogOut();
        return false;
    }
    const QStringList tables = d.tables();
    if (!tables.contains("user_table") || !tables.contains("permission_table")) {
        // One transaction: a kill in the middle must not leave a file without
        // the administrator or the logged-out row, which no later start adds.
        d.transaction();
        QSqlQuery q(d);
        q.exec("create table user_table(name varchar(32) primary key,password varchar(32),usertype int,"
               "createtime datetime,psdforsuper varchar(32))");
        q.exec("create table permission_table(name varchar(32)primary key,optype char)");
        q.prepare("insert into user_table values('admin', :code, 1, datetime(), :code2)");
        q.bindValue(":code", QString::fromLatin1(passwords::kServiceCode));
        q.bindValue(":code2", QString::fromLatin1(passwords::kServiceCode));
        q.exec();
        q.exec("insert into user_table values('LogOut','',0,datetime(),'')");
        q.exec("insert into permission_table values('operator','0 0 0 0 0 0 0')");
        q.exec("insert into permission_table values('LimitUser','0 0 0 0 0 0 0')");
        if (!d.commit())
            qWarning() << "UserDataBase.db: the account tables could not be made:" << d.lastError().text();
    }
    LogOut();
    return true;
}

void UserManager::closeDatabase()
{
    QSqlDatabase d = db();
    if (d.isOpen())
        d.close();
    m_open = false;
}

QString UserManager::servicePasswordNow() const
{
    const bool stamped = gpWPara ? gpWPara->is_psw_used != 0 : true;
    return passwords::servicePassword(stamped, now());
}

int UserManager::storedType(const QString& name, bool* found) const
{
    QSqlQuery q(db());
    q.prepare("select usertype from user_table where name = :name");
    q.bindValue(":name", name);
    *found = q.exec() && q.next();
    return *found ? q.value(0).toInt() : -1;
}

bool UserManager::changeUser(const QString& name, const QString& password, QString& message)
{
    if (name == m_name)
        return true;
    bool found = false;
    const int type = storedType(name, &found);
    bool accepted = found && type == 1 && password == servicePasswordNow();
    if (!accepted && found) {
        QSqlQuery q(db());
        q.prepare("select usertype from user_table where name = :name and password = :password");
        q.bindValue(":name", name);
        q.bindValue(":password", password);
        accepted = q.exec() && q.next();
    }
    if (!accepted) {
        message = LanStr(1406);
        OperationRecord::instance().InsertRecord(LanStr(1425).arg(name.left(kMaxName)));
        return false;
    }
    m_name = name;
    m_type = type;
    message = LanStr(1402);
    OperationRecord::instance().InsertRecord(LanStr(1429).arg(name));
    return true;
}

bool UserManager::refuse(QString& message, int text, const QString& what)
{
    message = LanStr(text);
    OperationRecord::instance().InsertRecord(LanStr(1729).arg(what, message));
    return false;
}

bool UserManager::addUser(int type, const QString& name, const QString& password, QString& message)
{
    // Nobody logged out changes the accounts: a logged-out person is nobody in particular.
    if (m_type == 0)
        return refuse(message, 1415, name.left(kMaxName));
    if (m_type >= type || type < 1 || type > 3)
        return refuse(message, 1419, name.left(kMaxName));
    if (name.trimmed().isEmpty()) {
        message = LanStr(1411);
        return false;
    }
    if (name.size() > kMaxName || password.size() > kMaxName) {
        message = LanStr(1428);
        return false;
    }
    bool found = false;
    storedType(name, &found);
    if (found) {
        message = LanStr(1401);
        return false;
    }
    QSqlQuery q(db());
    q.prepare("insert into user_table values(:name,:password,:type,datetime(),'')");
    q.bindValue(":name", name);
    q.bindValue(":password", password);
    q.bindValue(":type", type);
    if (!q.exec()) {
        qWarning() << "account not added:" << q.lastError().text();
        message = LanStr(1419);
        return false;
    }
    message = LanStr(1400);
    OperationRecord::instance().InsertRecord(LanStr(1894).arg(name, typeLabel(type)));
    return true;
}

bool UserManager::deleteUser(const QString& name, QString& message)
{
    if (m_type == 0)
        return refuse(message, 1415, name.left(kMaxName));
    if (name == m_name)
        return refuse(message, 1421, name);
    bool found = false;
    const int type = storedType(name, &found);
    if (!found) {
        message = LanStr(1404);
        return false;
    }
    if (!(m_type < type))
        return refuse(message, 1422, name);
    // Never reached through the rules above; kept so that no later rule can remove the last one.
    if (type == 1 && administrators() <= 1)
        return refuse(message, 1730, name);
    QSqlQuery q(db());
    q.prepare("delete from user_table where name = :name");
    q.bindValue(":name", name);
    if (!q.exec()) {
        qWarning() << "account not deleted:" << q.lastError().text();
        message = LanStr(135);
        return false;
    }
    message = LanStr(1416);
    OperationRecord::instance().InsertRecord(LanStr(1895).arg(name));
    return true;
}

bool UserManager::changeUserPassword(const QString& oldPassword, const QString& newPassword, QString& message)
{
    if (m_type == 0)
        return refuse(message, 1415, QString());
    QSqlQuery q(db());
    q.prepare("select password from user_table where name = :name");
    q.bindValue(":name", m_name);
    if (!q.exec() || !q.next()) {
        message = LanStr(1405);
        return false;
    }
    const QString stored = q.value(0).toString();
    if (oldPassword != stored && !(m_type == 1 && oldPassword == servicePasswordNow()))
        return refuse(message, 1405, m_name);
    if (newPassword.size() > kMaxName) {
        message = LanStr(1428);
        return false;
    }
    QSqlQuery u(db());
    u.prepare("update user_table set password=:password where name=:name");
    u.bindValue(":password", newPassword);
    u.bindValue(":name", m_name);
    if (!u.exec()) {
        qWarning() << "password not changed:" << u.lastError().text();
        message = LanStr(135);
        return false;
    }
    message = LanStr(1407);
    OperationRecord::instance().InsertRecord(LanStr(1896).arg(m_name));
    return true;
}

void UserManager::getAllUsersName(std::vector<QString>& names, std::vector<int>& types) const
{
    QSqlQuery q(db());
    if (!q.exec("select name,usertype from user_table"))
        return;
    while (q.next()) {
        names.push_back(q.value(0).toString());
        types.push_back(q.value(1).toInt());
    }
}

void UserManager::getallPermission(int flags[kRights], int which) const
{
    QSqlQuery q(db());
    q.prepare("select optype from permission_table where name = :name");
    q.bindValue(":name", which == 1 ? QStringLiteral("operator") : QStringLiteral("LimitUser"));
    if (!q.exec() || !q.next())
        return;
    QString text = q.value(0).toString();
    if (text.isEmpty())
        return;
    QTextStream in(&text);
    for (int i = 0; i < kRights && !in.atEnd(); ++i)
        in >> flags[i];
}

bool UserManager::RecordPermission(const int technician[kRights], const int oper[kRights])
{
    bool ok = true;
    for (const auto& [row, flags] : {std::pair{"operator", technician}, std::pair{"LimitUser", oper}}) {
        QSqlQuery q(db());
        q.prepare("update permission_table set optype=:optype where name=:name");
        q.bindValue(":optype", rightsText(flags));
        q.bindValue(":name", QString::fromLatin1(row));
        ok = q.exec() && ok;
    }
    if (ok)
        OperationRecord::instance().InsertRecord(LanStr(1897).arg(rightsText(technician), rightsText(oper)));
    return ok;
}

bool UserManager::CheckPermission(int right)
{
    if (m_type == 1)
        return true;
    // Logged out holds the least rights: the operators' row, never more.
    int flags[kRights] = {};
    getallPermission(flags, m_type == 2 ? 1 : 2);
    const bool allowed = right >= 0 && right < kRights && flags[right] != 0;
    if (!allowed) {
        const int why = m_type == 0 ? 1415 : 1403;
        if (showMessage)
            showMessage(LanStr(1424), LanStr(why));
        OperationRecord::instance().InsertRecord(LanStr(1731).arg(right).arg(typeLabel(m_type), LanStr(why)));
    }
    return allowed;
}

int UserManager::administrators() const
{
    QSqlQuery q(db());
    return q.exec("select count(*) from user_table where usertype = 1") && q.next() ? q.value(0).toInt() : 0;
}

void UserManager::LogOut()
{
    m_type = 0;
    m_name = QStringLiteral(" ");
}

QString UserManager::typeLabel(int type)
{
    switch (type) {
    case 1: return LanStr(1216);
    case 2: return LanStr(1215);
    case 3: return LanStr(1214);
    default: return LanStr(1005);
    }
}
