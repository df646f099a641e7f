#include "HelpPage.h"

#include "CameraSet.h"
#include "DetectionCycle.h"
#include "DiVeZoruzo.h"
#include "Globals.h"
#include "Language.h"
#include "Messages.h"
#include "RegionEditor.h"
#include "WizardPara.h"

#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

namespace {
constexpr int kTopics = 5;  // titles 1660.., texts 1665..
const char* kDone = "guide.done";

QLabel* textLabel(QWidget* parent)
{
    auto* l = new QLabel(parent);
    QFont f;
    f.setPixelSize(22);
    l->setFont(f);
    l->setWordWrap(true);
    l->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    return l;
}

QPushButton* button(int text, const char* name, QWidget* parent) { return lanButton(parent, text, name, 20, {180, 60}); }
} // namespace

HelpWidget::HelpWidget(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
{
    stylePage(this, "helpPage", "QListWidget{background:#2b3340;color:white;}"
                  "QListWidget::item{min-height:52px;}");
    auto* lay = new QHBoxLayout(this);
    m_topics = new QListWidget(this);
    QFont f;
    f.setPixelSize(20);
    m_topics->setFont(f);
    m_topics->setFixedWidth(280);
    lay->addWidget(m_topics);
    auto* right = new QVBoxLayout;
    m_text = textLabel(this);
    right->addWidget(m_text, 1);
    auto* back = button(1019, "back", this);
    right->addWidget(back, 0, Qt::AlignRight);
    lay->addLayout(right, 1);
    connect(back, &QPushButton::clicked, this, &QWidget::hide);
    connect(m_topics, &QListWidget::currentRowChanged, this, &HelpWidget::showTopic);
    connect(&LanguageNotifier::instance(), &LanguageNotifier::changed, this, &HelpWidget::fill);
    fill();
}

void HelpWidget::fill()
{
    const int row = std::max(0, m_topics->currentRow());
    const QSignalBlocker block(m_topics);
    m_topics->clear();
    for (int i = 0; i < kTopics; ++i)
        m_topics->addItem(LanStr(1660 + i));
    m_topics->setCurrentRow(row);
    showTopic(row);
}

void HelpWidget::showTopic(int topic)
{
    if (topic >= 0 && topic < kTopics)
        m_text->setText(LanStr(1665 + topic).replace("\r\n", "\n"));
}

QString HelpWidget::text() const { return m_text->text(); }

// --- the guide -----------------------------------------------------------------------------

BeginnerGuide::BeginnerGuide(DiVeZoruzo* win, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), m_win(win)
{
    setObjectName("beginnerGuide");
    setStyleSheet("#beginnerGuide{background:#203040;} QLabel{color:white;}");
    auto* lay = new QVBoxLayout(this);
    m_title = textLabel(this);
    QFont big;
    big.setPixelSize(28);
    m_title->setFont(big);
    lay->addWidget(m_title);
    m_text = textLabel(this);
    lay->addWidget(m_text, 1);
    m_action = button(1558, "action", this);
    lay->addWidget(m_action, 0, Qt::AlignLeft);
    auto* row = new QHBoxLayout;
    m_prev = button(1678, "previous", this);
    m_next = button(1677, "next", this);
    row->addStretch();
    row->addWidget(m_prev);
    row->addWidget(m_next);
    lay->addLayout(row);
    connect(m_prev, &QPushButton::clicked, this, [this] { step(m_step - 1); });
    connect(m_next, &QPushButton::clicked, this, [this] {
        if (m_step == kSteps - 1)
            finish();
        else
            step(m_step + 1);
    });
    connect(m_action, &QPushButton::clicked, this, [this] {
        switch (m_step) {
        case 0: SetLanguage((gLan + 1) % kLanguageCount); break;
        case 3:
            if (m_win)
                m_win->openRegionEditor();
            break;
        case 4:
            if (m_win && !m_win->isDetecting())
                m_win->StartDetect();
            step(4);
            break;
        default: break;
        }
    });
    connect(&LanguageNotifier::instance(), &LanguageNotifier::changed, this, [this] { step(m_step); });
    step(0);
}

void BeginnerGuide::step(int n)
{
    m_step = std::clamp(n, 0, kSteps - 1);
    m_title->setText(LanStr(1670) + "   " + LanStr(1671).arg(m_step + 1).arg(kSteps));
    const int mode = gpWPara ? gpWPara->machine_mode : 0;
    const int cameras = m_win && m_win->cameras() ? m_win->cameras()->viewCount() : numCamera;
    const bool detecting = m_win && m_win->isDetecting();
    const QString texts[kSteps] = {LanStr(1672), LanStr(1673).arg(mode), LanStr(1674).arg(cameras), LanStr(1675),
                                   detecting ? LanStr(1900) : LanStr(1676)};
    m_text->setText(texts[m_step]);
    // The step's own action: language, the region editor, starting detection.
    const int actions[kSteps] = {1558, 0, 0, 1598, m_win && m_win->isDetecting() ? 1551 : 1550};
    m_action->setVisible(actions[m_step] != 0);
    if (actions[m_step])
        setLan(m_action, actions[m_step]);
    m_action->setEnabled(!(m_step == 4 && m_win && m_win->isDetecting()));
    m_prev->setEnabled(m_step > 0);
    setLan(m_next, m_step == kSteps - 1 ? 1679 : 1677);
}

QString BeginnerGuide::text() const { return m_text->text(); }

bool BeginnerGuide::wanted() { return !QFile::exists(kDone); }

void BeginnerGuide::finish()
{
    QSaveFile f(kDone);
    if (f.open(QIODevice::WriteOnly))
        f.write(QDateTime::currentDateTime().toString(Qt::ISODate).toUtf8()), f.commit();
    hide();
}
