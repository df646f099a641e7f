#pragma once
// The region and template editor. Per camera and detection the operator
// draws rectangles, rings and polygons with the finger on the picture,
// moves them, drags their handles, deletes them, sets each region's
// function and parameters with the keypad, copies regions to the partner
// detection, test-runs them on the picture with the scores shown and
// manages the templates. Everything happens on an edit copy; "Save"
// compares it with the live regions, asks, records each change and
// retrains what changed.
#include "CammerSingleton.h"
#include "TemplateStore.h"

#include <QImage>
#include <QList>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class CameraManager;
class DetectionCycle;
class QComboBox;
class QLabel;
class QPushButton;

class RegionCanvas : public QWidget {
    Q_OBJECT
public:
    enum Tool { Select, Rect, Ring, Polygon };
    explicit RegionCanvas(QWidget* parent = nullptr);

    void setImage(const QImage& img);
    // The regions shown and edited: detection d of the edit copy.
    void setRegions(CammerSingleton* edit, int d, const WizardPara* wp);
    void setTool(Tool t);
    Tool tool() const { return m_tool; }
    int selected() const { return m_selected; }
    void select(int r);
    // Scores of the last test run, one per region (empty: none shown).
    void setScores(const QList<int>& scores) { m_scores = scores; update(); }
    void zoomBy(double factor);
    double zoom() const { return m_zoom; }
    // Widget position to picture pixel and back.
    QPointF toImage(const QPointF& widget) const;
    QPointF toWidget(const QPointF& image) const;
    // Points of a polygon being drawn.
    int pendingPoints() const { return int(m_polygon.size()); }

signals:
    void regionsChanged();
    void selectionChanged(int r);
    void refused(int message);

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;

private:
    double scale() const;
    QPointF origin() const;
    cv::Point imagePoint(const QPointF& widget) const;
    int regionAt(cv::Point p) const;

    QImage m_image;
    CammerSingleton* m_edit = nullptr;
    const WizardPara* m_wp = nullptr;
    int m_d = 0;
    Tool m_tool = Select;
    int m_selected = -1;
    QList<int> m_scores;
    double m_zoom = 1;
    QPointF m_pan;
    // The gesture in progress.
    enum Drag { None, Creating, Moving, Resizing, Panning } m_drag = None;
    QPointF m_pressWidget;
    cv::Point m_pressImage, m_lastImage;
    int m_handle = -1;
    std::vector<cv::Point> m_polygon;
};

class DrawROIWidget : public QWidget {
    Q_OBJECT
public:
    DrawROIWidget(CameraManager* cameras, DetectionCycle* cycle, QWidget* parent = nullptr);

    // The edit copies are taken from the live regions; camera and detection shown.
    void open(int camera, int detection);
    void show(int camera, int detection);
    int camera() const { return m_camera; }
    int detection() const { return m_detection; }
    CammerSingleton& editCopy(int camera) { return *m_edits[size_t(camera)]; }
    RegionCanvas* canvas() const { return m_canvas; }

    // The commands of the page's buttons.
    bool SlotSaveData();
    void cancel();
    bool deleteSelected();
    bool setFunction(int algorithm);
    // Parameter of the selected region through the number pad: 0 min size,
    // 1 sensitivity, 2 max area, 3 inner radius of a ring.
    bool editParameter(int which);
    void CopyPara();
    // Judges every region of the shown detection on the picture; the scores.
    QList<int> RunTest();
    bool autoRegion();
    bool addTemplate();
    // One template (slot asked on the keypad when not given); the base (0) is refused.
    bool deleteTemplate(std::optional<int> slot = std::nullopt);
    bool deleteTemplates();
    bool resample();
    bool deleteIgnorePoints();

    QString infoText() const;

protected:
    // Closed after resampling, however: detection goes on with the new templates.
    void hideEvent(QHideEvent* e) override;

private:
    // The station's question box (true: confirmed) and warning box.
    static bool ask(const QString& question);
    static void warn(const QString& text);
    void refreshInfo();
    void loadPicture();
    bool templateOutcome(const TemplateStore::Outcome& o);
    QStringList changeRecords(int camera, const CammerSingleton& live, const CammerSingleton& edit) const;

    CameraManager* m_cams;
    DetectionCycle* m_cycle;
    std::vector<std::unique_ptr<CammerSingleton>> m_edits;
    int m_camera = 0, m_detection = 0;
    RegionCanvas* m_canvas;
    QComboBox* m_cameraBox;
    QComboBox* m_detectionBox;
    QComboBox* m_function;
    QLabel* m_info;
    cv::Mat m_picture;
};

// The name of a region function (RoiFunction) in the current language.
QString functionName(int algorithm);
