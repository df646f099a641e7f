#pragma once
// The page for the names of the IO signals: the four inputs and the four
// outputs as the machine's wiring calls them. Kept in "name.txt" beside the
// parameters; without it the names follow the machine mode and language.
#include <QWidget>

class QLabel;
class QLineEdit;

class IoNamesPage : public QWidget {
    Q_OBJECT
public:
    explicit IoNamesPage(QWidget* parent = nullptr);
    // The fields from the names in force.
    void init();
    // Writes "name.txt" whole or not at all, records the change and puts the
    // names in force; false (and the reason shown) when it could not be written.
    bool save();
    // Back to the names of the mode and language: "name.txt" removed.
    bool restoreDefaults();
    QString status() const;

signals:
    void namesChanged();

private:
    QLineEdit* m_edits[8];
    QLabel* m_status;
};
