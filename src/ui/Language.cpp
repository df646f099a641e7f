#include "Language.h"

#include "Globals.h"
#include "Messages.h"
#include "WizardPara.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVariant>
#include <QWidget>

namespace {
const char* kProperty = "lanMessage";

void apply(QWidget* w)
{
    const QVariant v = w->property(kProperty);
    if (!v.isValid())
        return;
    const QString text = LanStr(v.toInt()).replace("\r\n", "\n");
    if (auto* l = qobject_cast<QLabel*>(w))
        l->setText(text);
    else if (auto* b = qobject_cast<QAbstractButton*>(w))
        b->setText(text);
    else if (auto* g = qobject_cast<QGroupBox*>(w))
        g->setTitle(text);
}
} // namespace

void setLan(QWidget* w, int message)
{
    w->setProperty(kProperty, message);
    apply(w);
}

QPushButton* lanButton(QWidget* parent, int message, const char* name, int pixelSize, const QSize& minimum)
{
    auto* b = new QPushButton(parent);
    if (name)
        b->setObjectName(name);
    setLan(b, message);
    QFont f = b->font();
    f.setPixelSize(pixelSize);
    b->setFont(f);
    b->setMinimumSize(minimum);
    return b;
}

void stylePage(QWidget* page, const char* name, const QString& extra)
{
    page->setObjectName(name);
    // A switch reads at arm's length: a large box, filled green when on.
    static const QString kSwitches = QStringLiteral(
        "QCheckBox{color:white;spacing:10px;} "
        "QCheckBox::indicator{width:30px;height:30px;border:2px solid #b8c4d0;border-radius:4px;background:#14181e;} "
        "QCheckBox::indicator:checked{background:#2fa84f;border-color:#7ff0a0;} "
        "QCheckBox::indicator:disabled{border-color:#586068;} ");
    page->setStyleSheet(QStringLiteral("#%1{background:#20242c;} QLabel{color:white;} ").arg(QLatin1String(name)) + kSwitches +
                        extra);
}

QLabel* lanTitle(QWidget* parent, int message)
{
    auto* title = new QLabel(parent);
    setLan(title, message);
    QFont big = title->font();
    big.setPixelSize(26);
    title->setFont(big);
    return title;
}

void retranslate(QWidget* root)
{
    apply(root);
    for (QWidget* w : root->findChildren<QWidget*>())
        apply(w);
}

LanguageNotifier& LanguageNotifier::instance()
{
    static LanguageNotifier n;
    return n;
}

bool SetLanguage(int lan)
{
    gLan = std::clamp(lan, 0, kLanguageCount - 1);
    const bool saved = !gpWPara || gpWPara->SaveDatatoFile();
    // The signals' names follow the language, where the operator gave none of their own.
    if (gpWPara)
        gpWPara->LoadSignalNames();
    for (QWidget* top : QApplication::topLevelWidgets())
        retranslate(top);
    emit LanguageNotifier::instance().changed();
    return saved;
}
