#include "AccountPage.h"

#include "Boxes.h"
#include "Keypads.h"
#include "Language.h"
#include "Messages.h"
#include "OperationRecord.h"
#include "UserManager.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <vector>

AccountWidget::AccountWidget(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
{
    stylePage(this, "accountPage", "QListWidget{background:#2b3340;color:white;}"
                  "QListWidget::item{min-height:52px;}");
    QFont f;
    f.setPixelSize(20);
    auto* lay = new QHBoxLayout(this);
    auto* left = new QVBoxLayout;
    m_who = new QLabel(this);
    QFont big;
    big.setPixelSize(26);
    m_who->setFont(big);
    left->addWidget(m_who);
    m_users = new QListWidget(this);
    m_users->setObjectName("users");
    m_users->setFont(f);
    left->addWidget(m_users, 1);
    m_status = new QLabel(this);
    m_status->setFont(f);
    m_status->setWordWrap(true);
    left->addWidget(m_status);
    lay->addLayout(left, 1);

    auto* side = new QGridLayout;
    int n = 0;
    auto add = [&](int text, const char* name, std::function<void()> action) {
        QPushButton* b = lanButton(this, text, name, 20, {200, 56});
        connect(b, &QPushButton::clicked, this, std::move(action));
        side->addWidget(b, n / 2, n % 2);
        ++n;
        return b;
    };
    add(1556, "login", [this] { login(); });
    add(1557, "logout", [this] { logout(); });
    add(1637, "addTechnician", [this] { addUser(2); });
    add(1638, "addOperator", [this] { addUser(3); });
    add(1639, "deleteUser", [this] { deleteUser(); });
    add(1640, "changePassword", [this] { changePassword(); });
    m_techRight = add(1641, "technicianRight", [] {});
    m_operRight = add(1642, "operatorRight", [] {});
    for (QPushButton* b : {m_techRight, m_operRight})
        b->setCheckable(true);
    add(1643, "saveRights", [this] { saveRights(); });
    add(1019, "back", [this] { hide(); });
    side->setRowStretch(side->rowCount(), 1);
    lay->addLayout(side);

    connect(&LanguageNotifier::instance(), &LanguageNotifier::changed, this, &AccountWidget::refresh);
}

std::optional<QString> AccountWidget::entry(const QString& title, bool masked)
{
    if (!gpNumCharPad)
        return std::nullopt;
    return gpNumCharPad->getText(title, QString(), UserManager::kMaxName, true, masked, true);
}

bool AccountWidget::ask(const QString& question) { return gpChooseBox && gpChooseBox->ask(question) == 1; }

void AccountWidget::say(const QString& text, bool error)
{
    m_error = error;
    m_status->setStyleSheet(error ? "color:#ff7060;" : "color:#60a8ff;");
    m_status->setText(text);
}

QString AccountWidget::status() const { return m_status->text(); }

void AccountWidget::refresh()
{
    UserManager& um = UserManager::instance();
    m_who->setText(QStringLiteral("%1  %2").arg(um.currentName().trimmed(), UserManager::typeLabel(um.getUserType())));
    const QString selected = selectedName();
    m_users->clear();
    std::vector<QString> names;
    std::vector<int> types;
    um.getAllUsersName(names, types);
    for (size_t i = 0; i < names.size(); ++i) {
        if (types[i] == 0)
            continue;  // the logged-out placeholder is not an account to choose
        auto* item = new QListWidgetItem(QStringLiteral("%1   (%2)").arg(names[i], UserManager::typeLabel(types[i])));
        item->setData(Qt::UserRole, names[i]);
        m_users->addItem(item);
        if (names[i] == selected)
            m_users->setCurrentItem(item);
    }
    int tech[UserManager::kRights] = {}, oper[UserManager::kRights] = {};
    um.getallPermission(tech, 1);
    um.getallPermission(oper, 3);
    m_techRight->setChecked(tech[0] != 0);
    m_operRight->setChecked(oper[0] != 0);
    const bool admin = um.CanAllocate();
    m_techRight->setEnabled(admin);
    m_operRight->setEnabled(admin);
}

QString AccountWidget::selectedName() const
{
    const QListWidgetItem* item = m_users->currentItem();
    return item ? item->data(Qt::UserRole).toString() : QString();
}

bool AccountWidget::login()
{
    const QString name = selectedName();
    if (name.isEmpty()) {
        say(LanStr(1423), true);
        return false;
    }
    const std::optional<QString> password = entry(LanStr(1408), true);
    if (!password)
        return false;
    if (password->isEmpty()) {
        say(LanStr(1414), true);
        return false;
    }
    QString message;
    const bool ok = UserManager::instance().changeUser(name, *password, message);
    say(message, !ok);
    refresh();
    return ok;
}

void AccountWidget::logout()
{
    UserManager::instance().LogOut();
    say(LanStr(1420), false);
    refresh();
}

std::optional<QString> AccountWidget::newPassword(int first, int again, const QString& whose)
{
    const auto titled = [&](int m) { return whose.isEmpty() ? LanStr(m) : QStringLiteral("%1: %2").arg(whose, LanStr(m)); };
    const std::optional<QString> a = entry(titled(first), true);
    if (!a)
        return std::nullopt;
    if (a->isEmpty()) {
        say(LanStr(first), true);
        return std::nullopt;
    }
    const std::optional<QString> b = entry(titled(again), true);
    if (!b)
        return std::nullopt;
    if (b->isEmpty()) {
        say(LanStr(again), true);
        return std::nullopt;
    }
    if (*a != *b) {
        say(LanStr(1418), true);
        return std::nullopt;
    }
    return a;
}

bool AccountWidget::addUser(int type)
{
    const std::optional<QString> name = entry(LanStr(1411), false);
    if (!name)
        return false;
    if (name->trimmed().isEmpty()) {
        say(LanStr(1411), true);
        return false;
    }
    const std::optional<QString> password = newPassword(1414, 1413);
    if (!password)
        return false;
    QString message;
    const bool ok = UserManager::instance().addUser(type, name->trimmed(), *password, message);
    say(message, !ok);
    refresh();
    return ok;
}

bool AccountWidget::deleteUser()
{
    const QString name = selectedName();
    if (name.isEmpty()) {
        say(LanStr(1423), true);
        return false;
    }
    if (!ask(LanStr(1644).arg(name)))
        return false;
    QString message;
    const bool ok = UserManager::instance().deleteUser(name, message);
    say(message, !ok);
    refresh();
    return ok;
}

bool AccountWidget::changePassword()
{
    // Only the logged-in account's own password is changed here; a selection
    // of another account must not look as if it were that one's.
    UserManager& um = UserManager::instance();
    const QString selected = selectedName();
    if (um.getUserType() != 0 && !selected.isEmpty() && selected != um.currentName()) {
        const QString why = LanStr(1901).arg(um.currentName(), selected);
        say(why, true);
        OperationRecord::instance().InsertRecord(LanStr(1729).arg(LanStr(1640), why));
        return false;
    }
    const std::optional<QString> old = entry(QStringLiteral("%1: %2").arg(um.currentName().trimmed(), LanStr(1410)), true);
    if (!old)
        return false;
    if (old->isEmpty()) {
        say(LanStr(1410), true);
        return false;
    }
    const std::optional<QString> next = newPassword(1409, 1412, um.currentName().trimmed());
    if (!next)
        return false;
    QString message;
    const bool ok = UserManager::instance().changeUserPassword(*old, *next, message);
    say(message, !ok);
    return ok;
}

bool AccountWidget::saveRights()
{
    UserManager& um = UserManager::instance();
    if (!um.CanAllocate()) {
        say(LanStr(1403), true);
        OperationRecord::instance().InsertRecord(LanStr(1729).arg(LanStr(1643), LanStr(1403)));
        refresh();
        return false;
    }
    int tech[UserManager::kRights] = {}, oper[UserManager::kRights] = {};
    // Rights 1 to 6 are kept as they are; only the stop-detection right is set here.
    um.getallPermission(tech, 1);
    um.getallPermission(oper, 3);
    tech[0] = m_techRight->isChecked() ? 1 : 0;
    oper[0] = m_operRight->isChecked() ? 1 : 0;
    const bool ok = um.RecordPermission(tech, oper);
    say(ok ? LanStr(1645) : LanStr(135), !ok);
    return ok;
}
