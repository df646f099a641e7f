#include "Boxes.h"
#include "WholeScreen.h"

#include "Keypads.h"

#include "Access.h"
#include "Globals.h"
#include "Language.h"
#include "Messages.h"
#include "WizardPara.h"
#include "Panel.h"

#include <QDateTimeEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtDebug>

WarnBox* gpWarnBox = nullptr;
ChooseBox* gpChooseBox = nullptr;
PasswordBox* gpPasswordBox = nullptr;

namespace {
passwords::Throttle gPasswordThrottle;
} // namespace

namespace {
// Texts carry "\r\n" line breaks; a label wants "\n".
QString display(const QString& s) { return QString(s).replace("\r\n", "\n"); }

QFont boxFont()
{
    QFont f;
    f.setPixelSize(22);
    return f;
}
} // namespace

WarnBox::WarnBox(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName("warnBox");
    raiseWhenShown(this);
    auto* lay = new QVBoxLayout(this);
    m_label = new QLabel(this);
    m_label->setFont(boxFont());
    m_label->setAlignment(Qt::AlignCenter);
    // Long messages (a file name, a path) wrap instead of running out of the box.
    m_label->setWordWrap(true);
    m_label->setMinimumWidth(440);
    m_button = new QPushButton(LanStr(121), this);
    m_button->setObjectName("warnOk");
    m_button->setFont(boxFont());
    m_button->setMinimumSize(160, 56);
    lay->addWidget(m_label);
    lay->addWidget(m_button, 0, Qt::AlignCenter);
    connect(m_button, &QPushButton::clicked, this, &QDialog::accept);
    setStyleSheet("QDialog{background:#2b3340;border:2px solid #d0a020;} QLabel{color:white;}");
    setMinimumSize(480, 240);
}

QString WarnBox::text() const { return m_label->text(); }

void WarnBox::showMessage(const QString& text, bool modal)
{
    m_label->setText(display(text));
    m_button->setText(LanStr(121));
    if (autoAnswer() || stationTerminating()) {
        qWarning().noquote() << "warning box (confirmed unattended):" << display(text);
        return;
    }
    if (modal) {
        exec();
    } else {
        show();
        raise();
    }
}

void WarnBox::showProgress(const QString& text, const QString& button)
{
    m_label->setText(display(text));
    m_button->setText(button);
    show();
    raise();
}

void WarnBox::hideMessage() { hide(); }

ChooseBox::ChooseBox(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName("chooseBox");
    raiseWhenShown(this);
    auto* lay = new QVBoxLayout(this);
    m_label = new QLabel(this);
    m_label->setFont(boxFont());
    m_label->setAlignment(Qt::AlignCenter);
    lay->addWidget(m_label);
    auto* row = new QHBoxLayout;
    auto* yes = new QPushButton(this);
    auto* no = new QPushButton(this);
    yes->setObjectName("yes");
    no->setObjectName("no");
    setLan(yes, 121);
    setLan(no, 1019);
    for (QPushButton* b : {yes, no}) {
        b->setFont(boxFont());
        b->setMinimumSize(160, 56);
        row->addWidget(b);
    }
    lay->addLayout(row);
    connect(yes, &QPushButton::clicked, this, &QDialog::accept);
    connect(no, &QPushButton::clicked, this, &QDialog::reject);
    setStyleSheet("QDialog{background:#2b3340;border:2px solid #4080d0;} QLabel{color:white;}");
    setMinimumSize(520, 260);
}

QString ChooseBox::text() const { return m_label->text(); }

int ChooseBox::ask(const QString& text)
{
    m_label->setText(display(text));
    if (stationTerminating())
        return 0;
    if (const auto a = autoAnswer()) {
        qWarning().noquote() << "question box answered" << (*a ? "yes" : "no") << "unattended:" << display(text);
        return *a ? 1 : 0;
    }
    return exec() == QDialog::Accepted ? 1 : 0;
}

DateTimeDialog::DateTimeDialog(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName("dateTimeDialog");
    raiseWhenShown(this);
    auto* lay = new QVBoxLayout(this);
    m_edit = new QDateTimeEdit(this);
    m_edit->setDisplayFormat("yyyy-MM-dd hh:mm:ss");
    m_edit->setFont(boxFont());
    lay->addWidget(m_edit);
    auto* row = new QHBoxLayout;
    auto* ok = new QPushButton(LanStr(401), this);
    auto* cancel = new QPushButton(LanStr(1019), this);
    row->addWidget(ok);
    row->addWidget(cancel);
    lay->addLayout(row);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

bool DateTimeDialog::choose(QDateTime* chosen)
{
    m_edit->setDateTime(QDateTime::currentDateTime());
    if (stationTerminating())
        return false;
    bool ok;
    if (const auto a = autoAnswer()) {
        qWarning() << "date dialog answered" << (*a ? "yes" : "no") << "unattended";
        ok = *a;
    } else {
        ok = exec() == QDialog::Accepted;
    }
    if (ok && chosen)
        *chosen = m_edit->dateTime();
    return ok;
}

CameraLostBox::CameraLostBox(QWidget* parent) : QDialog(parent)
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    raiseWhenShown(this);
    auto* lay = new QVBoxLayout(this);
    auto* label = new QLabel(LanStr(1179), this);
    label->setAlignment(Qt::AlignCenter);
    QFont f;
    f.setPixelSize(28);
    label->setFont(f);
    auto* button = new QPushButton(LanStr(1018), this);
    button->setMinimumHeight(64);
    button->setFont(f);
    lay->addWidget(label, 1);
    lay->addWidget(button);
    connect(button, &QPushButton::clicked, this, &CameraLostBox::shutDown);
    setStyleSheet("QDialog{background:#402020;border:2px solid #e04040;} QLabel{color:white;}");
    setMinimumSize(480, 240);
}

void CameraLostBox::showLost()
{
    // Unattended runs never switch the computer off on their own.
    if (autoAnswer()) {
        qWarning().noquote() << "camera-lost box shown (not pressed unattended):" << LanStr(1179);
        return;
    }
    show();
    raise();
}

PasswordBox::PasswordBox(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint)
{
    setObjectName("passwordBox");
    raiseWhenShown(this);
    auto* lay = new QVBoxLayout(this);
    m_edit = new QLineEdit(this);
    m_edit->setObjectName("password");
    m_edit->setEchoMode(QLineEdit::Password);
    m_edit->setFont(boxFont());
    m_edit->setPlaceholderText(LanStr(1408));
    m_edit->setMinimumHeight(56);  // a fingertip's target
    // Typed on the text pad: the panel has no keyboard.
    openTextPadOnTap(m_edit, 1408, 32, true);
    m_status = new QLabel(this);
    m_status->setFont(boxFont());
    // The lock-out's waiting time must be read whole.
    m_status->setWordWrap(true);
    m_status->setMinimumWidth(440);
    lay->addWidget(m_edit);
    lay->addWidget(m_status);
    auto* row = new QHBoxLayout;
    auto* ok = new QPushButton(this);
    auto* cancel = new QPushButton(this);
    ok->setObjectName("passwordOk");
    cancel->setObjectName("passwordCancel");
    // Made before the parameters name the language: retranslated with it.
    setLan(ok, 121);
    setLan(cancel, 1019);
    for (QPushButton* b : {ok, cancel}) {
        b->setFont(boxFont());
        b->setMinimumSize(160, 56);
        row->addWidget(b);
    }
    lay->addLayout(row);
    connect(ok, &QPushButton::clicked, this, [this] {
        if (tryEntry(m_edit->text()) > 0)
            QDialog::accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    setStyleSheet("QDialog{background:#2b3340;border:2px solid #4080d0;} QLabel{color:white;}");
    setMinimumSize(480, 220);
}

QString PasswordBox::placeholder() const { return m_edit->placeholderText(); }

int PasswordBox::tryEntry(const QString& typed)
{
    if (!gpWPara)
        return 0;
    int wait = 0;
    const int level = passwords::tryPassword(gPasswordThrottle, typed, *gpWPara, QDateTime::currentDateTime(),
                                             LanStr(1427), &wait, m_dialog);
    m_edit->clear();
    if (level > 0) {
        m_edit->setPlaceholderText(LanStr(1408));
        m_status->clear();
    } else {
        m_edit->setPlaceholderText(LanStr(1417));
        m_status->setText(wait > 0 ? LanStr(1426).arg(wait) : QString());
    }
    m_level = level;
    if (!m_dialog)
        gPasswordLevel = level;
    return level;
}

int PasswordBox::run(bool dialog)
{
    m_dialog = dialog;
    m_level = 0;
    m_edit->clear();
    m_edit->setPlaceholderText(LanStr(1408));
    m_status->clear();
    if (!autoAnswer() && !stationTerminating()) {
        exec();
    } else {
        qWarning() << "password box: nobody to type a password unattended; refused";
    }
    return dialog ? m_level : gPasswordLevel.load();
}
