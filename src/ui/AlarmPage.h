#pragma once
// The alarm page: opened by the cycle when a detection alarms, it shows
// the NG pictures of the cameras in alarm with their alarm rectangles and
// which regions failed, and offers the operator's decisions: re-detect,
// "Don't Detect" (all cameras or the one shown), add the picture as a
// template, ignore these alarm points. It closes when the alarm ends.
#include <QImage>
#include <QList>
#include <QWidget>
#include <functional>

class DetectionCycle;
class CameraManager;
class QTimer;
class QLabel;
class QPushButton;
class CameraTile;

class AlarmPage : public QWidget {
    Q_OBJECT
public:
    AlarmPage(DetectionCycle* cycle, CameraManager* cameras, QWidget* parent = nullptr);

    // The cycle's alarm: pictures and texts of these cameras, shown.
    void showAlarm(const QList<int>& cameras, int detection);
    // The shown camera the per-camera buttons act on.
    int selectedCamera() const { return m_selected; }
    void select(int camera);

    // The operator's decisions (the buttons).
    void reDetect();
    void dontDetectAll();
    void dontDetectSelected();
    bool addAsTemplate();
    bool ignoreAlarmPoints();

    QString detailText() const;
    // The figures line of camera's tile (empty: no tile).
    QString tileLine(int camera) const;
    // Whether camera's tile shows a picture (not black).
    bool tileShowsPicture(int camera) const;
    // Who may: the password level asked for the protected decisions.
    std::function<int()> checkPassword;

private:
    // The question box: true when confirmed.
    static bool ask(const QString& question);
    void buildTexts();
    bool allowed(int protect);

    DetectionCycle* m_cycle;
    CameraManager* m_cams;
    QList<int> m_cameras;
    int m_detection = 0;
    int m_selected = -1;
    QList<CameraTile*> m_tiles;
    // The tiles' frame rate and counters follow the cameras while the page is shown.
    QTimer* m_refresh = nullptr;
    void refreshFigures();
    QList<QImage> m_frames;
    QList<class QWidget*> m_tileHolders;
    QLabel* m_title;
    QLabel* m_detail;
    class QGridLayout* m_grid;
};
