#pragma once
// Texts that follow the operator's language. A widget given a message
// number with setLan shows that message; SetLanguage switches gLan, keeps it
// in the system parameters and sets every such text again at once, and
// tells pages with composed texts to build them anew.
#include <QObject>
#include <QString>

class QPushButton;
class QSize;
class QWidget;

// Shows message n on a label, button or group box and remembers n.
void setLan(QWidget* w, int message);
// A touch button showing message n (following the language), named for tests,
// with its font size in pixels and at least the given size.
QPushButton* lanButton(QWidget* parent, int message, const char* name, int pixelSize, const QSize& minimum);
// The look every full-screen page shares (dark ground, white labels), named
// for tests, with what the page adds.
void stylePage(QWidget* page, const char* name, const QString& extra = {});
// A page's title: message n in the title size, following the language.
class QLabel;
QLabel* lanTitle(QWidget* parent, int message);
// Sets every remembered text below root (root included) again.
void retranslate(QWidget* root);

class LanguageNotifier : public QObject {
    Q_OBJECT
public:
    static LanguageNotifier& instance();
signals:
    void changed();
};

// 0 Simplified Chinese, 1 English, 2 Traditional Chinese. False when the
// parameters could not be saved (the language is switched all the same).
bool SetLanguage(int lan);
