#pragma once
// The parameter pages of the settings dialog, built from the field table:
// one editor per field, bound to the edit copy gpWParaBak. A number or text
// is entered through the keypads, a switch ticked, a choice picked; nothing
// reaches the live record before the dialog is confirmed.
#include "ParaFields.h"

#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <functional>

class QComboBox;
class QGridLayout;
class QListWidget;
class QPushButton;
class DiVeZoruzo;

class ParaPage : public QWidget {
    Q_OBJECT
public:
    ParaPage(parafields::Page page, QWidget* parent = nullptr);

    // Shows the edit copy's values, with the fields that apply at this level.
    virtual void refresh(int level);
    // The editor of a field name (tests press it), or null.
    QWidget* editor(const QString& name) const;
    // Visible editors (tests and the screenshot checks).
    QStringList shownFields() const;

    // Told after every edit, with the field changed (the dialog hears it).
    std::function<void(const parafields::Field&)> edited;
    // The warning when an entry is refused.
    std::function<void(const QString&)> warn;

protected:
    // Extra widgets above the fields.
    QWidget* header() const { return m_header; }
    // Camera fields of other cameras are hidden.
    int m_camera = 0;
    int m_level = 1;

private:
    struct Row {
        const parafields::Field* field;
        QLabel* label;   // null for switches, whose text is their own
        QWidget* editor;
    };
    void build();
    void showRow(Row& r);
    void entered(const parafields::Field& f);
    void layoutRows();

    parafields::Page m_page;
    QWidget* m_header;
    QGridLayout* m_grid;
    QList<Row> m_rows;
};

// Camera settings: the camera chosen, its live picture reacting to the edit,
// its factory defaults, and the way to the camera order.
class CameraParaPage : public ParaPage {
    Q_OBJECT
public:
    explicit CameraParaPage(DiVeZoruzo* win, QWidget* parent = nullptr);
    void refresh(int level) override;
    void selectCamera(int index);
    int camera() const { return m_camera; }
    // Asks, then loads the camera's own defaults into the edit copy.
    bool SlotRestoreDefaultSettings();
    // The picture shown (tests compare brightness).
    QImage liveImage() const { return m_liveImage; }
    void showCameraOrder();

    std::function<bool(const QString&)> ask;

protected:
    void showEvent(QShowEvent*) override;
    void hideEvent(QHideEvent*) override;

private:
    void updateLive();

    DiVeZoruzo* m_win;
    QComboBox* m_cameras;
    QLabel* m_live;
    QImage m_liveImage;
    QTimer m_liveTimer;
};

// The camera-order page: each opened camera gets its index; two with one
// index are refused; a confirmed order is stored and the station restarts.
class WidgetChangeCamera : public QWidget {
    Q_OBJECT
public:
    explicit WidgetChangeCamera(DiVeZoruzo* win, QWidget* parent = nullptr);
    void fill();
    bool SlotOK();
    QList<QComboBox*> choices() const { return m_choices; }
    QString status() const { return m_status->text(); }

private:
    DiVeZoruzo* m_win;
    QGridLayout* m_grid;
    QList<QComboBox*> m_choices;
    QList<QLabel*> m_labels;
    QLabel* m_status;
};

// Network settings: the station's addresses and report identity, the client's
// server settings, the statistics reset, and the lists the client sends.
class NetworkParaPage : public ParaPage {
    Q_OBJECT
public:
    explicit NetworkParaPage(DiVeZoruzo* win, QWidget* parent = nullptr);
    void refresh(int level) override;
    // Server settings from the client's database; false (with the message) when it cannot be read.
    bool loadServer();
    // One server line edited through the text pad: written at once; the client restarts on confirmation.
    bool setServer(int row, const QString& value);
    bool SlotResetStatistics();
    void showProducts(const QStringList& names);
    void showReminders();
    QListWidget* products() const { return m_products; }
    QListWidget* reminders() const { return m_reminders; }
    bool serverChanged() const { return m_serverChanged; }
    void clearServerChanged() { m_serverChanged = false; }

    std::function<bool(const QString&)> ask;

private:
    DiVeZoruzo* m_win;
    QList<QPushButton*> m_server;
    QString m_serverError;  // why the client's settings cannot be read, empty when they can
    QLabel* m_interfaces;
    QListWidget* m_products;
    QListWidget* m_reminders;
    bool m_serverChanged = false;
};
