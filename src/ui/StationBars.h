#pragma once
// The title bar of the main screen, read from across the machine: the
// station, its run state, the time.
#include <QPixmap>
#include <QTimer>
#include <QWidget>

class DetectionCycle;
class QLabel;

class TitleBar : public QWidget {
    Q_OBJECT
public:
    explicit TitleBar(QWidget* parent = nullptr);
    // The run state in words and its colour: "ok" green, "alarm" red, else grey.
    void setState(const QString& state, const QString& tone, const QString& time);
    QString stationName() const;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QPixmap m_picture;
    QLabel* m_name;
    QLabel* m_state;
    QLabel* m_time;
};

// The run state in words, the same on every line that shows it; tone:
// "alarm" (the alarm or the IO link lost), "ok" (detecting), else "".
QString runStateText(const DetectionCycle& cycle, QString* tone = nullptr);
