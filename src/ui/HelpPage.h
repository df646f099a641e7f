#pragma once
// The help page (a topic list and its text, in the operator's language) and
// the beginner's guide shown at the first start: language, machine mode,
// cameras, a first region and template, starting detection.
#include <QWidget>
#include <functional>

class QLabel;
class QListWidget;
class QPushButton;
class DiVeZoruzo;

class HelpWidget : public QWidget {
    Q_OBJECT
public:
    explicit HelpWidget(QWidget* parent = nullptr);
    void showTopic(int topic);
    QString text() const;
    QListWidget* topics() const { return m_topics; }

private:
    void fill();
    QListWidget* m_topics;
    QLabel* m_text;
};

class BeginnerGuide : public QWidget {
    Q_OBJECT
public:
    explicit BeginnerGuide(DiVeZoruzo* win, QWidget* parent = nullptr);
    static constexpr int kSteps = 5;
    void step(int n);
    int current() const { return m_step; }
    QString text() const;
    // The guide is shown once: "guide.done" in the working directory says it was.
    static bool wanted();
    void finish();

private:
    DiVeZoruzo* m_win;
    int m_step = 0;
    QLabel* m_title;
    QLabel* m_text;
    QPushButton* m_action;
    QPushButton* m_prev;
    QPushButton* m_next;
};
