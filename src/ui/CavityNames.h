#pragma once
// The cavity names: up to sixteen per camera, kept in CavityDatabase.db
// (CavityName_table the names in force, TempSave_table those being edited),
// edited on the cavity page and shown on the camera views next to the
// regions when the station shows mould numbers.
#include <QStringList>
#include <QWidget>

class QLineEdit;
class QComboBox;
class QLabel;

constexpr int kCavityNames = 16;

class EditCavitywidget : public QWidget {
    Q_OBJECT
public:
    explicit EditCavitywidget(QWidget* parent = nullptr);
    ~EditCavitywidget() override;

    // Opens the database; makes and fills both tables when one is missing.
    // False (with a record line) when the file cannot be used.
    bool Databaseinit();
    // The page opens: the names in force become the edited ones, camera 0 shown.
    void init();
    // Copies every camera's row from one table to the other.
    bool Initialize(const QString& source, const QString& target);
    void changeCamera();
    // Keeps the shown camera's edits, then shows camera.
    bool SlotChangeCam(int camera);
    // The edits are kept and put in force; false when a name is refused or not stored.
    bool Accept();
    void Reject();
    // The name in force of cavity index (0..15) of camera; empty when there is none.
    QString getResult(int camera, int index) const;

    int camera() const { return m_camera; }
    QLineEdit* edit(int i) const { return m_edits.value(i); }
    QString status() const;

    // Why a name cannot be kept (empty: it can): a blank would split it in two
    // and shift every later name.
    static QString refusal(const QString& name);

private:
    bool writeCurrent();
    QStringList namesOf(const QString& table, int camera) const;
    // The names in force, read when the file is opened and after Accept: the
    // views ask ten times a second and must not query the file for it.
    void loadInForce();

    QStringList m_inForce[8];
    int m_camera = 0;
    QList<QLineEdit*> m_edits;
    QComboBox* m_cameraBox;
    QLabel* m_status;
};

extern EditCavitywidget* gpCavity;
