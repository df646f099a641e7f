#pragma once
// The settings dialog: the parameter pages of the system record (common,
// camera, network, IO, advanced) on an edit copy that reaches the live record
// only when confirmed, and the maintenance page: parameter groups (backup,
// restore, delete), the factory reset, and the way to the cavity names,
// accounts, operation record, data export and program update.
#include "ParaFields.h"

#include <QWidget>
#include <functional>
#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QStackedWidget;
class DiVeZoruzo;
class ParaPage;
class CameraParaPage;
class NetworkParaPage;

class WizardParaWidget : public QWidget {
    Q_OBJECT
public:
    explicit WizardParaWidget(DiVeZoruzo* win, QWidget* parent = nullptr);
    // A page that goes while editing leaves the cameras on the live parameters.
    ~WizardParaWidget() override;

    // Opening: the live record copied into the edit copy, the pages showing
    // it with the fields of this password level (1 primary, 2 advanced).
    void open(int level);
    // Confirmation: every changed field recorded and copied into the live
    // record, the mode put in force, the record saved, the restart notes
    // shown. False when the record could not be saved (the values are in
    // force until the next start; the operator is told).
    bool SlotOK();
    // Leaves the live record as it was; the cameras go back to it.
    void SlotCancel();
    // Restores the factory state through the update at the next start.
    bool SlotRestoreFactorySet();
    void showPage(int index);
    ParaPage* page(parafields::Page p) const { return m_pages[p]; }
    CameraParaPage* cameraPage() const;
    NetworkParaPage* networkPage() const;
    int level() const { return m_level; }

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

private:
    // The station's question box (true: confirmed); a warning in the status line and its box.
    static bool ask(const QString& question);
    void warn(const QString& text);
    // The edit copy into the live record with its record lines; the notes to show.
    QList<int> applyEdits();

    DiVeZoruzo* m_win;
    QStackedWidget* m_stack;
    ParaPage* m_pages[parafields::PageCount] = {};
    int m_level = 1;
    bool m_editing = false;  // opened and not yet confirmed or cancelled
    QComboBox* m_groups;
    QLineEdit* m_name;
    QLabel* m_status;
};
