#pragma once
// The settings dialog: for now its maintenance side — parameter groups
// (backup, restore, delete), and the way to the cavity names, accounts,
// operation record, data export and program update. The parameter pages
// of the system record come in here as well.
#include <QWidget>
#include <functional>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class DiVeZoruzo;

class WizardParaWidget : public QWidget {
    Q_OBJECT
public:
    explicit WizardParaWidget(DiVeZoruzo* win, QWidget* parent = nullptr);

    void ParaGroupUpdateList();
    void SlotParaGroupChange(int index);
    bool SlotParaGroupBackup();
    bool SlotParaGroupRestore();
    bool SlotParaGroupDelete();
    bool SlotExportData();
    bool SlotUpdateApp();

    QComboBox* groups() const { return m_groups; }
    QLineEdit* groupName() const { return m_name; }
    QString status() const;

    // Tests answer these: the question box, the warning box, the restart.
    std::function<bool(const QString&)> ask;
    std::function<void(const QString&)> warn;
    std::function<void()> restartStation;

private:
    DiVeZoruzo* m_win;
    QComboBox* m_groups;
    QLineEdit* m_name;
    QLabel* m_status;
};
