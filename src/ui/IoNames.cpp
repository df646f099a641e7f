#include "IoNames.h"

#include "Keypads.h"
#include "Language.h"
#include "Messages.h"
#include "OperationRecord.h"
#include "Globals.h"
#include "WizardPara.h"

#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

namespace {
constexpr int kNameMax = 16;  // fits its place on the IO bar
const char* kFile = "name.txt";
} // namespace

IoNamesPage::IoNamesPage(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint)
{
    stylePage(this, "ioNamesPage");
    QFont f;
    f.setPixelSize(22);
    auto* lay = new QVBoxLayout(this);
    lay->addWidget(lanTitle(this, 1734));
    auto* grid = new QGridLayout;
    for (int i = 0; i < 8; ++i) {
        auto* label = new QLabel(this);
        auto name = [label, i] { label->setText(LanStr(i < 4 ? 1735 : 1736).arg(i % 4 + 1)); };
        name();
        connect(&LanguageNotifier::instance(), &LanguageNotifier::changed, label, name);
        label->setFont(f);
        auto* e = new QLineEdit(this);
        e->setObjectName(QStringLiteral("ioName%1").arg(i + 1));
        e->setFont(f);
        e->setMinimumHeight(56);
        openTextPadOnTap(e, 1734, kNameMax, false, true);
        // Inputs on the left, outputs on the right.
        grid->addWidget(label, i % 4, (i / 4) * 2);
        grid->addWidget(e, i % 4, (i / 4) * 2 + 1);
        m_edits[i] = e;
    }
    lay->addLayout(grid);
    lay->addStretch(1);
    m_status = new QLabel(this);
    m_status->setFont(f);
    m_status->setWordWrap(true);
    lay->addWidget(m_status);
    auto* row = new QHBoxLayout;
    row->addStretch();
    auto add = [&](int text, const char* name, std::function<void()> action) {
        QPushButton* b = lanButton(this, text, name, 22, {180, 60});
        connect(b, &QPushButton::clicked, this, std::move(action));
        row->addWidget(b);
    };
    add(1594, "save", [this] {
        if (save())
            hide();
    });
    add(1737, "defaults", [this] { restoreDefaults(); });
    add(1019, "back", [this] { hide(); });
    lay->addLayout(row);
}

void IoNamesPage::init()
{
    m_status->clear();
    for (int i = 0; i < 8; ++i)
        m_edits[i]->setText(gpWPara ? gpWPara->signal_names[i] : QString());
}

QString IoNamesPage::status() const { return m_status->text(); }

bool IoNamesPage::save()
{
    QStringList names, lines;
    const QStringList defaults = gpWPara ? gpWPara->defaultSignalNames() : QStringList();
    for (int i = 0; i < 8; ++i) {
        names << m_edits[i]->text().simplified().left(kNameMax);
        // A name left as the language gives it goes on following the language.
        lines << (i < defaults.size() && names[i] == defaults[i] ? QString() : names[i]);
    }
    QSaveFile f(kFile);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Text) || f.write((lines.join('\n') + '\n').toUtf8()) < 0 ||
        !f.commit()) {
        m_status->setText(LanStr(1739).arg(f.errorString()));
        OperationRecord::instance().InsertRecord(LanStr(1739).arg(f.errorString()));
        return false;
    }
    QStringList changed;
    for (int i = 0; i < 8; ++i)
        if (gpWPara && gpWPara->signal_names[i] != names[i])
            changed << QStringLiteral("%1 → %2").arg(gpWPara->signal_names[i], names[i]);
    if (gpWPara)
        gpWPara->LoadSignalNames();
    if (!changed.isEmpty())
        OperationRecord::instance().InsertRecord(LanStr(1738).arg(changed.join(", ")));
    emit namesChanged();
    return true;
}

bool IoNamesPage::restoreDefaults()
{
    if (QFile::exists(kFile) && !QFile::remove(kFile)) {
        m_status->setText(LanStr(1739).arg(QFile(kFile).errorString()));
        return false;
    }
    if (gpWPara)
        gpWPara->LoadSignalNames();
    OperationRecord::instance().InsertRecord(LanStr(1740));
    init();
    emit namesChanged();
    return true;
}
