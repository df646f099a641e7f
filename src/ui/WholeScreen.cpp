#include "WholeScreen.h"

#include <QApplication>
#include <QSaveFile>
#include <QScreen>
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
        for (QWidget* w : top->findChildren<QWidget*>())
            if (w->isVisible() && !w->objectName().isEmpty() && !w->objectName().startsWith("qt_"))
                line(w->objectName(), QRect(w->mapToGlobal(QPoint(0, 0)), w->size()));
    }
    QSaveFile f(file);
    return f.open(QIODevice::WriteOnly) && f.write(out) == out.size() && f.commit();
}
