#pragma once
// Entries typed as a finger does: the keys of the station's own keypad are
// tapped while it waits for the operator; nothing is handed to the pad.
#include "Boxes.h"
#include "Keypads.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDialog>
#include <QLabel>
#include <QEvent>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <optional>
#include <gtest/gtest.h>

namespace touch {

// The keys that type text on the text pad, after clearing what it shows.
inline QStringList textKeys(const QString& text)
{
    QStringList keys{"clear"};
    for (const QChar c : text) {
        if (c == ' ')
            keys << "space";
        else if (c.isUpper())
            keys << "shift" << QString(c.toLower()) << "shift";
        else
            keys << QString(c);
    }
    return keys << "ok";
}

// The keys that type a number on the number pad (its first key replaces the value shown).
inline QStringList numberKeys(const QString& number)
{
    QStringList keys;
    for (const QChar c : number)
        keys << (c == '-' ? QStringLiteral("minus") : c == '.' ? QStringLiteral("dot") : QString(c));
    return keys << "ok";
}

// Taps the keys on an open pad; one still open after them is cancelled.
inline void tapKeys(QDialog* pad, const QStringList& keys)
{
    // Names are typed in letters: a pad that starts in pinyin is switched first.
    if (auto* c = pad->findChild<QPushButton*>("key_chinese"); c && c->isVisible() && c->text() == "EN")
        QTest::mouseClick(c, Qt::LeftButton);
    for (const QString& k : keys) {
        auto* b = pad->findChild<QPushButton*>("key_" + k);
        if (!b) {
            ADD_FAILURE() << "no key " << k.toStdString() << " on " << pad->objectName().toStdString();
            break;
        }
        QTest::mouseClick(b, Qt::LeftButton);
    }
    if (pad->isVisible()) {
        if (auto* cancel = pad->findChild<QPushButton*>("key_cancel"))
            QTest::mouseClick(cancel, Qt::LeftButton);
        else
            pad->reject();
    }
}

// While it lives, every opening of the text pad gets the next of `next` typed
// (an empty entry is typed as such); with none left the pad is cancelled.
class TextTypist : public QObject {
public:
    QStringList next;
    // The pad's title at each opening.
    QStringList titles;
    explicit TextTypist(QDialog* pad) : m_pad(pad), m_answer(qgetenv("STATION_ANSWER"))
    {
        qunsetenv("STATION_ANSWER");
        if (m_pad)
            m_pad->installEventFilter(this);
    }
    ~TextTypist() override
    {
        if (m_pad)
            m_pad->removeEventFilter(this);
        if (!m_answer.isNull())
            qputenv("STATION_ANSWER", m_answer);
    }
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() == QEvent::Show) {
            if (auto* t = o->findChild<QLabel*>("padTitle"))
                titles << t->text();
            const QStringList keys = next.isEmpty() ? QStringList() : textKeys(next.takeFirst());
            QTimer::singleShot(0, this, [pad = QPointer<QDialog>(qobject_cast<QDialog*>(o)), keys] {
                if (pad && pad->isVisible())
                    tapKeys(pad, keys);
            });
        }
        return false;
    }

private:
    QPointer<QDialog> m_pad;
    QByteArray m_answer;
};

// Runs action (a tap that opens pad) with the operator at the panel: when the
// pad opens, its keys are tapped; a pad still open after them is cancelled.
// Returns whether the pad opened at all.
inline bool typeOn(QDialog* pad, const QStringList& keys, const std::function<void()>& action)
{
    struct Typer : QObject {
        QStringList keys;
        bool opened = false;
        bool eventFilter(QObject* o, QEvent* e) override
        {
            if (e->type() == QEvent::Show && !opened) {
                opened = true;
                auto* pad = static_cast<QDialog*>(o);
                QTimer::singleShot(0, pad, [pad, keys = keys] { tapKeys(pad, keys); });
            }
            return false;
        }
    } typer;
    typer.keys = keys;
    pad->installEventFilter(&typer);
    const QByteArray answer = qgetenv("STATION_ANSWER");
    qunsetenv("STATION_ANSWER");
    action();
    if (!answer.isNull())
        qputenv("STATION_ANSWER", answer);
    pad->removeEventFilter(&typer);
    return typer.opened;
}

inline bool typeNumber(const QString& number, const std::function<void()>& action)
{
    return typeOn(gpNumPad, numberKeys(number), action);
}
inline bool typeText(const QString& text, const std::function<void()>& action)
{
    return typeOn(gpNumCharPad, textKeys(text), action);
}

// While it lives, every dialog that opens is handed to answer once it is
// shown (the operator's hand on the station's own dialogs).
class DialogHand : public QObject {
public:
    explicit DialogHand(std::function<void(QDialog*)> answer) : m_answer(std::move(answer))
    {
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~DialogHand() override { QCoreApplication::instance()->removeEventFilter(this); }
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() == QEvent::Show)
            if (auto* d = qobject_cast<QDialog*>(o))
                QTimer::singleShot(0, this, [this, d = QPointer<QDialog>(d)] {
                    if (d && d->isVisible())
                        m_answer(d);
                });
        return false;
    }

private:
    std::function<void(QDialog*)> m_answer;
};

// An operator at the panel while it lives: every question answered yes, every
// warning confirmed, and the password box given password() typed on the text
// pad (nothing: cancelled), all by taps on the station's own boxes.
class PanelOperator : public QObject {
public:
    std::function<std::optional<QString>()> password;
    int passwordsAsked = 0;
    // What the question and warning boxes showed (compare with shown()).
    QStringList asked, warned;
    static QString shown(QString message) { return message.replace("\r\n", "\n"); }

    PanelOperator() : m_answer(qgetenv("STATION_ANSWER"))
    {
        qunsetenv("STATION_ANSWER");
        for (QDialog* d : m_boxes)
            if (d)
                d->installEventFilter(this);
    }
    ~PanelOperator() override
    {
        for (QDialog* d : m_boxes)
            if (d)
                d->removeEventFilter(this);
        if (!m_answer.isNull())
            qputenv("STATION_ANSWER", m_answer);
    }
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() == QEvent::Show)
            QTimer::singleShot(0, this, [this, d = QPointer<QDialog>(qobject_cast<QDialog*>(o))] {
                if (d && d->isVisible())
                    answer(d);
            });
        return false;
    }

private:
    void answer(QDialog* d)
    {
        auto tap = [d](const char* name) {
            if (auto* b = d->findChild<QPushButton*>(name))
                QTest::mouseClick(b, Qt::LeftButton);
        };
        if (d == gpChooseBox) {
            asked << gpChooseBox->text();
            tap("yes");
        } else if (d == gpWarnBox) {
            warned << gpWarnBox->text();
            tap("warnOk");
        } else if (d == gpPasswordBox) {
            ++passwordsAsked;
            if (const std::optional<QString> p = password ? password() : std::nullopt) {
                auto* field = d->findChild<QLineEdit*>("password");
                typeOn(gpNumCharPad, textKeys(*p), [field] { QTest::mouseClick(field, Qt::LeftButton); });
                tap("passwordOk");
            }
            if (d->isVisible())
                tap("passwordCancel");
        }
    }
    QByteArray m_answer;
    QList<QPointer<QDialog>> m_boxes{gpChooseBox, gpWarnBox, gpPasswordBox};
};

} // namespace touch
