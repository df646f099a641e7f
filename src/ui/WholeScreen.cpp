#include "WholeScreen.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QApplication>
#include <QSaveFile>
#include <QScreen>
#include <QTimer>
#include <QWidget>

void showOnWholeScreen(QWidget* w)
{
    if (!w)
        return;
    if (QScreen* s = w->screen() ? w->screen() : QGuiApplication::primaryScreen())
        w->setGeometry(s->geometry());
    w->showFullScreen();
    w->raise();
    w->activateWindow();
}


void raiseWhenShown(QWidget* box)
{
    box->installEventFilter(new EventHook(box, QEvent::Show, [](QObject* o) {
        if (auto* w = qobject_cast<QWidget*>(o)) {
            w->raise();
            // Once more when the window is mapped: a page shown meanwhile may have come up over it.
            QTimer::singleShot(0, w, [w] { w->raise(); w->activateWindow(); });
        }
    }));
}

bool dumpGeometry(const QString& file)
{
    QByteArray out;
    auto line = [&out](const QString& name, const QRect& r) {
        out += QStringLiteral("%1 %2 %3 %4 %5\n").arg(name).arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()).toUtf8();
    };
    if (QScreen* s = QGuiApplication::primaryScreen())
        line(QStringLiteral("@screen"), s->geometry());
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!top->isVisible())
            continue;
        line(QStringLiteral("@window:") + (top->objectName().isEmpty() ? top->metaObject()->className() : top->objectName()),
             top->frameGeometry());
        for (QWidget* w : top->findChildren<QWidget*>()) {
            if (!w->isVisible() || w->objectName().isEmpty() || w->objectName().startsWith("qt_"))
                continue;
            line(w->objectName(), QRect(w->mapToGlobal(QPoint(0, 0)), w->size()));
            // The rows of a list, as "list#key": the row's own key when it has one, else its number.
            if (auto* list = qobject_cast<QAbstractItemView*>(w); list && list->model())
                for (int row = 0; row < list->model()->rowCount(); ++row) {
                    const QModelIndex i = list->model()->index(row, 0);
                    const QString key = i.data(Qt::UserRole).toString();
                    const QRect r = list->visualRect(i);
                    if (!r.isEmpty())
                        line(w->objectName() + '#' + (key.isEmpty() || key.contains(' ') ? QString::number(row) : key),
                             QRect(list->viewport()->mapToGlobal(r.topLeft()), r.size()));
                }
        }
    }
    QSaveFile f(file);
    return f.open(QIODevice::WriteOnly) && f.write(out) == out.size() && f.commit();
}
