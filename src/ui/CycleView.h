#pragma once
// What the operator sees of the running cycle until the full pages exist:
// per camera the newest frame with its verdict, alarm rectangles, countdown
// and counters; below them the board's inputs and outputs and the cycle state.
#include <QImage>
#include <QPainterPath>
#include <QTimer>
#include <QWidget>
#include <vector>

class DetectionCycle;
class CameraManager;
class ControlPort;
class QLabel;

class CameraTile : public QWidget {
    Q_OBJECT
public:
    CameraTile(int camera, QWidget* parent = nullptr);
    void setFrame(const QImage& img);
    bool hasFrame() const { return !m_image.isNull(); }
    void setVerdict(int detection, bool ok, const std::vector<QRect>& alarms);
    void setCountdown(double seconds) { m_countdown = seconds; update(); }
    void setCounters(quint32 all, quint32 ng, bool hideNg);
    void setFps(int fps) { m_fps = fps; }
    void clearVerdict();
    // The regions of the shown detection in picture coordinates (empty: none drawn).
    void setRegions(const QPainterPath& regions) { m_regions = regions; update(); }
    // Numbers written at picture positions (the cavity of each region).
    void setLabels(const QList<QPair<QPointF, QString>>& labels) { m_labels = labels; update(); }
    int labelCount() const { return int(m_labels.size()); }
    QStringList labelTexts() const
    {
        QStringList t;
        for (const auto& l : m_labels)
            t << l.second;
        return t;
    }
    // Mean grey of the shown picture, 0..255.
    int brightness() const { return m_brightness; }
    // The figures written over the picture: camera, frame rate, brightness, counters.
    QString infoLine() const;

signals:
    void tapped(int camera);

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;

private:
    int m_camera;
    QImage m_image;
    int m_detection = -1;
    bool m_ok = true, m_judged = false;
    std::vector<QRect> m_alarms;
    double m_countdown = 0;
    quint32 m_all = 0, m_ng = 0;
    bool m_hideNg = false;
    int m_fps = 0;
    int m_brightness = 0;
    QPainterPath m_regions;
    QList<QPair<QPointF, QString>> m_labels;
};

class CycleView : public QWidget {
    Q_OBJECT
public:
    CycleView(DetectionCycle* cycle, CameraManager* cameras, ControlPort* io, QWidget* parent = nullptr);
    CameraTile* tile(int c) const { return c >= 0 && c < int(m_tiles.size()) ? m_tiles[size_t(c)] : nullptr; }
    // The state line as shown (tests read it).
    QString stateText() const;
    // The enlarged camera, -1 when all are shown.
    int enlarged() const { return m_enlarged; }
    void enlarge(int camera);
    // The signals and the state line anew (names changed, say).
    void refresh();

private:
    void onFrame(int camera);
    void onJudged(int camera, int detection, bool ok);
    QPainterPath regionsOf(int camera, int detection) const;
    QList<QPair<QPointF, QString>> cavityLabels(int camera, int detection) const;

    DetectionCycle* m_cycle;
    CameraManager* m_cams;
    ControlPort* m_io;
    std::vector<CameraTile*> m_tiles;
    std::vector<qint64> m_lastShown;
    QLabel* m_state = nullptr;
    QLabel* m_signals = nullptr;
    int m_enlarged = -1;
    QTimer m_refresh;
};
