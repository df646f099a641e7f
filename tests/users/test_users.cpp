#include "Access.h"
#include "Globals.h"
#include "Messages.h"
#include "ParamDb.h"
#include "TestDir.h"
#include "UserManager.h"
#include "WizardPara.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <memory>

namespace {
struct Accounts : ::testing::Test {
    TestDir dir;
    WizardPara wp;
    std::unique_ptr<UserManager> users;
    QString msg;
    const QDateTime moment{QDate(2026, 12, 8), QTime(14, 30)};
    QList<QString> shown;
    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        ASSERT_TRUE(paramdb::openAll({}));
        wp.LoadDatafromFile();
        wp.is_psw_used = 1;
        SetParaText(wp.password, "4711");
        gpWPara = &wp;
        users = std::make_unique<UserManager>();
        users->now = [this] { return moment; };
        users->showMessage = [this](const QString&, const QString& t) { shown << t; };
    }
    void TearDown() override
    {
        users.reset();
        gpWPara = nullptr;
        dropConnections();
    }
    QStringList rows(const QString& sql)
    {
        QStringList out;
        QSqlQuery q(QSqlDatabase::database(UserManager::connectionName()));
        q.exec(sql);
        while (q.next())
            out << q.value(0).toString();
        return out;
    }
    void loginAdmin() { ASSERT_TRUE(users->changeUser("admin", "5260", msg)) << msg.toStdString(); }
};
} // namespace

TEST_F(Accounts, AFreshDirectoryHasTheDefaultAccountsAndNoRights)
{
    EXPECT_EQ(rows("select name || ':' || usertype || ':' || psdforsuper from user_table order by name"),
              (QStringList{"LogOut:0:", "admin:1:5260"}));
    EXPECT_EQ(rows("select name || '=' || optype from permission_table order by name"),
              (QStringList{"LimitUser=0 0 0 0 0 0 0", "operator=0 0 0 0 0 0 0"}));
    EXPECT_EQ(users->getUserType(), 0);
    EXPECT_EQ(users->currentName(), " ");
    // Opening again keeps what is there.
    users.reset();
    users = std::make_unique<UserManager>();
    EXPECT_EQ(rows("select count(*) from user_table"), QStringList{"2"});
}

TEST_F(Accounts, SwitchingLoginAndTheAdministratorsServicePassword)
{
    EXPECT_FALSE(users->changeUser("admin", "wrong", msg));
    EXPECT_EQ(msg, "Password error!");
    EXPECT_TRUE(recordRemarks().contains(LanStr(1425).arg("admin")));
    // The administrator also gets in with the stamped service password of the moment.
    EXPECT_TRUE(users->changeUser("admin", "5260120814", msg));
    EXPECT_EQ(msg, "Account switchover succeeded!");
    EXPECT_EQ(users->getUserType(), 1);
    msg.clear();
    EXPECT_TRUE(users->changeUser("admin", "whatever", msg));  // already current: nothing changes
    EXPECT_TRUE(msg.isEmpty());
    EXPECT_TRUE(users->CanAllocate());
    EXPECT_FALSE(users->changeUser("nobody", "5260120814", msg));
}

TEST_F(Accounts, WhoMayAddAndDeleteWhom)
{
    loginAdmin();
    EXPECT_TRUE(users->addUser(2, "tech", "t1", msg));
    EXPECT_EQ(msg, "Account added successfully!");
    EXPECT_FALSE(users->addUser(2, "tech", "t2", msg));
    EXPECT_EQ(msg, "Account already exists!");
    EXPECT_TRUE(users->changeUser("tech", "t1", msg));
    EXPECT_FALSE(users->addUser(2, "tech2", "x", msg));
    EXPECT_EQ(msg, "You do not have permission to add this account!");
    EXPECT_FALSE(users->addUser(1, "boss", "x", msg));
    EXPECT_TRUE(users->addUser(3, "op", "o1", msg));
    EXPECT_FALSE(users->deleteUser("tech", msg));
    EXPECT_EQ(msg, "You cannot delete the current account!");
    EXPECT_FALSE(users->deleteUser("admin", msg));
    EXPECT_EQ(msg, "You do not have permission to delete this account!");
    EXPECT_FALSE(users->deleteUser("ghost", msg));
    EXPECT_EQ(msg, "No account!");
    EXPECT_TRUE(users->deleteUser("op", msg));
    EXPECT_EQ(msg, "The account has been deleted!");
    EXPECT_TRUE(users->addUser(3, "op", "o1", msg));
    EXPECT_TRUE(users->changeUser("op", "o1", msg));
    EXPECT_FALSE(users->addUser(3, "op2", "x", msg));  // an operator adds no account
    std::vector<QString> names;
    std::vector<int> types;
    users->getAllUsersName(names, types);
    EXPECT_EQ(names.size(), 4u);
    // Every change and every refusal is in the record.
    const QStringList r = recordRemarks();
    EXPECT_EQ(r.filter(QRegularExpression("^Account added: tech \\(")).size(), 1) << r.join("\n").toStdString();
    EXPECT_EQ(r.filter(QRegularExpression("^Account added: op \\(")).size(), 2);
    EXPECT_TRUE(r.contains("Account deleted: op"));
    EXPECT_TRUE(r.contains("Account change refused (tech): You cannot delete the current account!"));
    EXPECT_TRUE(r.contains("Account change refused (admin): You do not have permission to delete this account!"));
}

TEST_F(Accounts, NamesWithQuotesOrSqlAreStoredWholeAndNamesAreBounded)
{
    loginAdmin();
    const QString evil = "a'); DROP TABLE user_table;--";
    EXPECT_TRUE(users->addUser(3, evil, "p'w\"d", msg));
    EXPECT_TRUE(rows("select name from user_table").contains(evil));
    EXPECT_TRUE(users->changeUser(evil, "p'w\"d", msg));
    EXPECT_EQ(users->currentName(), evil);
    EXPECT_FALSE(users->changeUser("admin' --", "x", msg));
    loginAdmin();
    EXPECT_TRUE(users->deleteUser(evil, msg));
    EXPECT_EQ(rows("select count(*) from user_table"), QStringList{"2"});
    EXPECT_FALSE(users->addUser(3, "", "x", msg));
    EXPECT_EQ(msg, "Please enter your account name!");
    EXPECT_FALSE(users->addUser(3, "   ", "x", msg));
    EXPECT_FALSE(users->addUser(3, QString(33, 'n'), "x", msg));
    EXPECT_EQ(msg, LanStr(1428));
    EXPECT_TRUE(users->addUser(3, QString(32, 'n'), "x", msg));
}

TEST_F(Accounts, PasswordsAreChangedWithTheOldOneOrTheServicePassword)
{
    loginAdmin();
    EXPECT_FALSE(users->changeUserPassword("bad", "new", msg)) << "a refusal is not a success";
    EXPECT_EQ(msg, "Old password is incorrect!");
    EXPECT_TRUE(recordRemarks().contains("Account change refused (admin): Old password is incorrect!"));
    EXPECT_FALSE(users->changeUserPassword("5260120814", QString(33, 'p'), msg));
    EXPECT_EQ(msg, LanStr(1428));
    EXPECT_TRUE(users->changeUserPassword("5260120814", "s3cret", msg));
    EXPECT_EQ(msg, "Password updated!");
    EXPECT_TRUE(recordRemarks().contains("Password changed for account admin"));
    EXPECT_FALSE(recordRemarks().join(' ').contains("s3cret")) << "never the password itself";
    users->LogOut();
    EXPECT_FALSE(users->changeUser("admin", "5260", msg));
    EXPECT_TRUE(users->changeUser("admin", "s3cret", msg));
    users->LogOut();
    EXPECT_FALSE(users->changeUserPassword("", "x", msg));  // nobody logged in
}

TEST_F(Accounts, RightsByUserType)
{
    EXPECT_FALSE(users->CheckPermission(0));
    EXPECT_EQ(shown.last(), "Please log in first!");
    loginAdmin();
    EXPECT_TRUE(users->CheckPermission(0));
    ASSERT_TRUE(users->addUser(2, "tech", "t", msg));
    ASSERT_TRUE(users->addUser(3, "op", "o", msg));
    const int tech[7] = {1, 0, 0, 0, 0, 0, 1}, oper[7] = {0, 1, 0, 0, 0, 0, 0};
    EXPECT_TRUE(users->RecordPermission(tech, oper));
    EXPECT_TRUE(recordRemarks().contains("Rights saved: technicians 1 0 0 0 0 0 1, operators 0 1 0 0 0 0 0"));
    int back[7] = {9, 9, 9, 9, 9, 9, 9};
    users->getallPermission(back, 1);
    EXPECT_EQ(std::vector<int>(back, back + 7), std::vector<int>(tech, tech + 7));
    ASSERT_TRUE(users->changeUser("tech", "t", msg));
    EXPECT_TRUE(users->CheckPermission(0));
    ASSERT_TRUE(users->changeUser("op", "o", msg));
    EXPECT_FALSE(users->CheckPermission(0));
    EXPECT_EQ(shown.last(), "No access!");
    EXPECT_FALSE(users->CheckPermission(9));
}

TEST(Passwords, ServiceAndSystemPasswordsGiveTheirLevels)
{
    gLan = 1;  // the texts below are English
    WizardPara wp;
    SetParaText(wp.password, "4711");
    const QDateTime t(QDate(2026, 3, 5), QTime(7, 59));
    wp.is_psw_used = 0;
    EXPECT_EQ(passwords::servicePassword(wp.is_psw_used, t), "5260");
    EXPECT_EQ(passwords::levelFor("5260", wp, t), 2);
    EXPECT_EQ(passwords::levelFor("4711", wp, t), 1);
    EXPECT_EQ(passwords::levelFor("", wp, t), 0);
    wp.is_psw_used = 1;
    EXPECT_EQ(passwords::levelFor("5260", wp, t), 0);
    EXPECT_EQ(passwords::levelFor("5260030507", wp, t), 2);
    EXPECT_EQ(passwords::levelFor("5260030507", wp, t.addSecs(3600)), 0);  // the stamp moves on each hour
    // The dialog always wants the stamped code; the system password gives 2 there.
    wp.is_psw_used = 0;
    EXPECT_EQ(passwords::dialogLevelFor("5260", wp, t), 0);
    EXPECT_EQ(passwords::dialogLevelFor("5260030507", wp, t), 2);
    EXPECT_EQ(passwords::dialogLevelFor("4711", wp, t), 2);
    SetParaText(wp.password, "");
    EXPECT_EQ(passwords::levelFor("", wp, t), 0);  // an empty system password opens nothing
    EXPECT_EQ(passwords::levelLabel(0), "Unlogged");
    EXPECT_EQ(passwords::levelLabel(1), "Primary");
    EXPECT_EQ(passwords::levelLabel(2), "Advanced");
}

TEST(Passwords, WrongTriesInARowMakeTheNextWait)
{
    gLan = 1;  // the texts below are English
    TestDir dir;
    ASSERT_TRUE(paramdb::openAll({}));
    WizardPara wp;
    SetParaText(wp.password, "4711");
    passwords::Throttle t;
    QDateTime now(QDate(2026, 1, 1), QTime(8, 0));
    int wait = -1;
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(passwords::tryPassword(t, "0000", wp, now, "box", &wait), 0);
        now = now.addMSecs(100);
    }
    EXPECT_EQ(wait, 5);
    // While waiting even the right password is not taken.
    EXPECT_EQ(passwords::tryPassword(t, "4711", wp, now, "box", &wait), 0);
    EXPECT_GT(wait, 0);
    now = now.addSecs(6);
    EXPECT_EQ(passwords::tryPassword(t, "0000", wp, now, "box", &wait), 0);
    EXPECT_EQ(wait, 10);  // doubles
    now = now.addSecs(11);
    EXPECT_EQ(passwords::tryPassword(t, "4711", wp, now, "box", &wait), 1);
    EXPECT_EQ(t.failures(), 0);
    EXPECT_EQ(recordRemarks().count("Login failed: box"), 4);
    dropConnections();
}

TEST_F(Accounts, LoggedOutNobodyChangesTheAccountsAndTheLastAdministratorStays)
{
    const QStringList before = rows("select name from user_table order by name");
    // Logged out: no account is added or deleted, and each refusal is recorded.
    EXPECT_FALSE(users->addUser(3, "op", "o", msg));
    EXPECT_EQ(msg, "Please log in first!");
    EXPECT_FALSE(users->deleteUser("admin", msg));
    EXPECT_FALSE(users->deleteUser("LogOut", msg));
    EXPECT_EQ(rows("select name from user_table order by name"), before);
    EXPECT_EQ(recordRemarks().filter("Account change refused").size(), 3);
    // A technician may not delete the administrator, least of all the last one.
    loginAdmin();
    ASSERT_TRUE(users->addUser(2, "tech", "t", msg));
    ASSERT_TRUE(users->changeUser("tech", "t", msg));
    EXPECT_FALSE(users->deleteUser("admin", msg));
    EXPECT_EQ(msg, "You do not have permission to delete this account!");
    EXPECT_EQ(users->administrators(), 1);
    EXPECT_EQ(recordRemarks().filter("Account change refused").size(), 4);
}

TEST_F(Accounts, LoggedOutHoldsTheOperatorsRightsNeverMore)
{
    loginAdmin();
    ASSERT_TRUE(users->addUser(2, "tech", "t", msg));
    const int tech[7] = {0, 0, 0, 0, 0, 0, 0}, oper[7] = {0, 0, 0, 0, 0, 0, 0};
    ASSERT_TRUE(users->RecordPermission(tech, oper));
    // A restricted technician does not regain the stop right by logging out.
    ASSERT_TRUE(users->changeUser("tech", "t", msg));
    EXPECT_FALSE(users->CheckPermission(0));
    users->LogOut();
    EXPECT_FALSE(users->CheckPermission(0));
    EXPECT_EQ(shown.last(), "Please log in first!");
    EXPECT_TRUE(recordRemarks().contains(LanStr(1731).arg(0).arg(UserManager::typeLabel(0), LanStr(1415))));
    // What the operators may, a logged-out person may.
    const int oper2[7] = {1, 0, 0, 0, 0, 0, 0};
    loginAdmin();
    ASSERT_TRUE(users->RecordPermission(tech, oper2));
    users->LogOut();
    EXPECT_TRUE(users->CheckPermission(0));
}
