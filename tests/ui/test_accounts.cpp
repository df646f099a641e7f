// The account page over the station's accounts: every field checked before
// the manager is asked, and what each operation leaves in the account file.
#include "AccountPage.h"
#include "DiVeZoruzo.h"
#include "Station.h"
#include "Globals.h"
#include "Messages.h"
#include "TestDir.h"
#include "UserManager.h"
#include "WindowEnv.h"
#include "WizardPara.h"
#include "Touch.h"

#include <QListWidget>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <gtest/gtest.h>

namespace {
struct AccountPageTest : ::testing::Test {
    TestDir dir;
    std::unique_ptr<DiVeZoruzo> win;
    // What the operator types on the text pad next, one entry per opening, and the boxes answered yes.
    std::unique_ptr<touch::TextTypist> typist;
    std::unique_ptr<touch::PanelOperator> op;
    AccountWidget* page = nullptr;
    void SetUp() override
    {
        ASSERT_TRUE(dir.ok());
        prepareUnattendedWindow(dir);
        win = buildStation();
        gLan = 1;
        gpWPara->is_psw_used = 0;  // the administrator's plain service code
        page = win->accountPage();
        typist = std::make_unique<touch::TextTypist>(gpNumCharPad);
        op = std::make_unique<touch::PanelOperator>();
        page->refresh();
    }
    void TearDown() override
    {
        UserManager::instance().LogOut();
        op.reset();
        typist.reset();
        win.reset();
        qunsetenv("STATION_ANSWER");
    }
    void choose(const QString& name)
    {
        for (int i = 0; i < page->users()->count(); ++i)
            if (page->users()->item(i)->data(Qt::UserRole).toString() == name)
                page->users()->setCurrentRow(i);
    }
};
} // namespace

TEST_F(AccountPageTest, FieldsAreCheckedFirstThenTheManagerDecides)
{
    page->users()->setCurrentRow(-1);
    EXPECT_FALSE(page->login());
    EXPECT_EQ(page->status(), "Please select the user.");
    choose("admin");
    typist->next = {QString()};
    EXPECT_FALSE(page->login());
    EXPECT_EQ(page->status(), "Please enter your password!");
    typist->next = {QString("wrong")};
    EXPECT_FALSE(page->login());
    EXPECT_EQ(page->status(), "Password error!");
    EXPECT_TRUE(page->statusIsError());
    typist->next = {QString("5260")};
    ASSERT_TRUE(page->login()) << page->status().toStdString();
    EXPECT_FALSE(page->statusIsError());
    EXPECT_EQ(UserManager::instance().getUserType(), 1);

    // A technician: the two passwords must match.
    typist->next = {QString("li"), QString("abc"), QString("abd")};
    EXPECT_FALSE(page->addUser(2));
    EXPECT_EQ(page->status(), "The two entered passwords did not match!");
    typist->next = {QString("  "), };
    EXPECT_FALSE(page->addUser(2));
    EXPECT_EQ(page->status(), "Please enter your account name!");
    typist->next = {QString("li"), QString("abc"), QString("abc")};
    ASSERT_TRUE(page->addUser(2)) << page->status().toStdString();
    EXPECT_EQ(page->users()->count(), 2);

    // The administrator gives technicians the stop right; operators keep none.
    page->technicianRight()->setChecked(true);
    ASSERT_TRUE(page->saveRights());
    {
        // The record says who: the account after the password level.
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "who");
        db.setDatabaseName("RECORD.db");
        ASSERT_TRUE(db.open());
        QSqlQuery q("select recordpassword, remarks from RECORD order by rowid desc limit 1", db);
        ASSERT_TRUE(q.next());
        EXPECT_TRUE(q.value(1).toString().startsWith("Rights saved")) << q.value(1).toString().toStdString();
        EXPECT_TRUE(q.value(0).toString().endsWith(" admin")) << q.value(0).toString().toStdString();
    }
    QSqlDatabase::removeDatabase("who");
    int tech[UserManager::kRights] = {}, oper[UserManager::kRights] = {};
    UserManager::instance().getallPermission(tech, 1);
    UserManager::instance().getallPermission(oper, 3);
    EXPECT_EQ(tech[0], 1);
    EXPECT_EQ(oper[0], 0);

    // The technician logs in, changes the password, and may not allocate rights.
    choose("li");
    typist->next = {QString("abc")};
    ASSERT_TRUE(page->login()) << page->status().toStdString();
    EXPECT_FALSE(page->technicianRight()->isEnabled());
    EXPECT_FALSE(page->saveRights());
    EXPECT_EQ(page->status(), "No access!");
    EXPECT_EQ(recordRemarks().last(), "Account change refused (" + LanStr(1643) + "): No access!");
    // With another account selected, the change is refused, not made to the logged-in one.
    choose("admin");
    typist->next = {QString("abc"), QString("xyz"), QString("xyz")};
    EXPECT_FALSE(page->changePassword());
    EXPECT_TRUE(page->status().contains("log in as admin")) << page->status().toStdString();
    EXPECT_TRUE(recordRemarks().last().startsWith("Account change refused (Change password)"));
    choose("li");
    typist->titles.clear();
    ASSERT_TRUE(page->changePassword()) << page->status().toStdString();
    // Every prompt names the account whose password it changes.
    ASSERT_EQ(typist->titles.size(), 3);
    for (const QString& t : typist->titles)
        EXPECT_TRUE(t.startsWith("li: ")) << t.toStdString();
    page->logout();
    choose("li");
    typist->next = {QString("xyz")};
    EXPECT_TRUE(page->login()) << "the new password";
    page->logout();

    // The administrator deletes the account.
    choose("admin");
    typist->next = {QString("5260")};
    ASSERT_TRUE(page->login());
    choose("li");
    ASSERT_TRUE(page->deleteUser()) << page->status().toStdString();
    EXPECT_EQ(page->users()->count(), 1);
}
