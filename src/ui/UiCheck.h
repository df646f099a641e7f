#pragma once
// Checks of a page as it is laid out: texts wider than their widget,
// widgets that overlap a sibling, and touch targets below the fingertip.
#include <QList>
#include <QString>

class QWidget;

struct UiProblem {
    enum Kind { Clipped, Overlap, SmallTarget };
    Kind kind;
    QString where;   // object path of the widget
    QString detail;
    QString text() const;
};

// 48 px is 9 mm at the panel's density.
constexpr int kMinTouch = 48;

// Every problem of the visible widgets below root (laid out at its current size).
QList<UiProblem> checkPage(QWidget* root, int minTouch = kMinTouch);
