#include "UiCheck.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollArea>
#include <QStyle>
#include <QTextDocument>

namespace {
QString pathOf(const QWidget* w)
{
    QStringList names;
    for (const QWidget* p = w; p; p = p->parentWidget()) {
        names.prepend(p->objectName().isEmpty() ? QString::fromLatin1(p->metaObject()->className()) : p->objectName());
        if (p->isWindow())
            break;
    }
    return names.join('/');
}

// Widgets whose children are their own business (scroll bars, line edits inside combo boxes).
bool composite(const QWidget* w)
{
    return qobject_cast<const QAbstractScrollArea*>(w) || qobject_cast<const QComboBox*>(w) ||
           qobject_cast<const QAbstractSpinBox*>(w) || qobject_cast<const QLineEdit*>(w);
}

int widest(const QFontMetrics& fm, const QString& text)
{
    int w = 0;
    for (const QString& line : text.split('\n'))
        w = std::max(w, fm.horizontalAdvance(line));
    return w;
}

void checkText(QWidget* w, QList<UiProblem>* out)
{
    const QFontMetrics fm(w->font());
    if (auto* l = qobject_cast<QLabel*>(w)) {
        if (l->text().isEmpty() || !l->pixmap().isNull())
            return;
        const QRect room = l->contentsRect().adjusted(l->margin(), l->margin(), -l->margin(), -l->margin());
        if (l->textFormat() == Qt::RichText || (l->textFormat() == Qt::AutoText && Qt::mightBeRichText(l->text()))) {
            QTextDocument doc;
            doc.setDefaultFont(l->font());
            doc.setHtml(l->text());
            doc.setDocumentMargin(0);
            if (!l->wordWrap() && doc.idealWidth() > room.width() + 1)
                out->append({UiProblem::Clipped, pathOf(w), QStringLiteral("%1 px of text in %2 px").arg(int(doc.idealWidth())).arg(room.width())});
            return;
        }
        if (l->wordWrap()) {
            const QRect need = fm.boundingRect(room, int(l->alignment()) | Qt::TextWordWrap, l->text());
            if (need.height() > room.height() + 1 || need.width() > room.width() + 1)
                out->append({UiProblem::Clipped, pathOf(w), QStringLiteral("%1 x %2 px of text in %3 x %4 px").arg(need.width()).arg(need.height()).arg(room.width()).arg(room.height())});
        } else {
            const int need = widest(fm, l->text());
            const int lines = int(l->text().count('\n')) + 1;
            if (need > room.width() + 1 || lines * fm.height() > room.height() + 2)
                out->append({UiProblem::Clipped, pathOf(w), QStringLiteral("\"%1\": %2 px in %3 px").arg(l->text().left(40)).arg(need).arg(room.width())});
        }
    } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        if (b->text().isEmpty())
            return;
        const int need = widest(fm, b->text()) + 8;
        if (need > b->width())
            out->append({UiProblem::Clipped, pathOf(w), QStringLiteral("\"%1\": %2 px in %3 px").arg(b->text().left(40)).arg(need).arg(b->width())});
    } else if (auto* c = qobject_cast<QComboBox*>(w)) {
        const int arrow = c->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 12;
        for (int i = 0; i < c->count(); ++i)
            if (fm.horizontalAdvance(c->itemText(i)) + arrow > c->width()) {
                out->append({UiProblem::Clipped, pathOf(w), QStringLiteral("item \"%1\" in %2 px").arg(c->itemText(i).left(40)).arg(c->width())});
                break;
            }
    }
}

void checkTouch(QWidget* w, int minTouch, QList<UiProblem>* out)
{
    if (!w->isEnabled())
        return;
    if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w)) {
        if (w->width() < minTouch || w->height() < minTouch)
            out->append({UiProblem::SmallTarget, pathOf(w), QStringLiteral("%1 x %2 px").arg(w->width()).arg(w->height())});
    } else if (auto* list = qobject_cast<QListWidget*>(w)) {
        for (int i = 0; i < list->count(); ++i) {
            const QRect r = list->visualItemRect(list->item(i));
            if (r.isValid() && r.height() < minTouch) {
                out->append({UiProblem::SmallTarget, pathOf(w), QStringLiteral("row %1 is %2 px high").arg(i).arg(r.height())});
                break;
            }
        }
    }
}

void walk(QWidget* w, int minTouch, QList<UiProblem>* out)
{
    checkText(w, out);
    checkTouch(w, minTouch, out);
    if (composite(w)) {
        // A scrolled page is still a page: its content is checked as laid out.
        if (auto* area = qobject_cast<QScrollArea*>(w); area && area->widget() && area->widget()->isVisible())
            walk(area->widget(), minTouch, out);
        return;
    }
    QList<QWidget*> kids;
    for (QObject* o : w->children())
        if (auto* k = qobject_cast<QWidget*>(o); k && k->isVisible() && !k->isWindow())
            kids << k;
    for (int i = 0; i < kids.size(); ++i)
        for (int j = i + 1; j < kids.size(); ++j) {
            const QRect overlap = kids[i]->geometry().intersected(kids[j]->geometry());
            if (overlap.width() > 1 && overlap.height() > 1)
                out->append({UiProblem::Overlap, pathOf(kids[i]), QStringLiteral("overlaps %1 by %2 x %3 px").arg(pathOf(kids[j])).arg(overlap.width()).arg(overlap.height())});
        }
    for (QWidget* k : std::as_const(kids))
        walk(k, minTouch, out);
}
} // namespace

QString UiProblem::text() const
{
    static const char* kinds[] = {"clipped", "overlap", "small target"};
    return QStringLiteral("%1: %2: %3").arg(QLatin1String(kinds[kind]), where, detail);
}

QList<UiProblem> checkPage(QWidget* root, int minTouch)
{
    QList<UiProblem> out;
    walk(root, minTouch, &out);
    return out;
}
