#pragma once
// Every field of the system record that the settings pages show or keep, with
// its page, label, editor range and where it applies. The pages are built
// from this table, and acceptance compares and copies with it, so a field
// cannot be edited without its change being recorded.
#include "WizardPara.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace parafields {

enum Page { Common, Camera, Network, Io, Advanced, PageCount };

enum class Kind {
    Check,    // 0 / 1 (negated: the box shows the field's negation)
    Number,   // lo..hi through the number pad
    Choice,   // combo: value = index + offset
    Text,     // a 100-byte text buffer through the text pad
    Address,  // four octets shown as a dotted address
    Stored,   // no editor; a change (by a restore) is still recorded
};

// What the camera layer must hear when a camera field changes.
enum class Setter { None, Expose, Gain, Sharp, Contrast, Gamma, HMirror, VMirror, Speed };

using IntRef = std::function<int&(WizardPara&)>;
using Applies = std::function<bool(const WizardPara&)>;

struct Field {
    QString name;       // object name of the editor (key field, with its index)
    Page page = Common;
    Kind kind = Kind::Check;
    int label = 0;      // message
    int arg = -1;       // shown in the label (%1), counted from 1
    int camera = -1;    // camera fields: the camera index
    IntRef ref;
    QList<IntRef> octets;                 // Address
    std::function<char*(WizardPara&)> text;  // Text
    int lo = 0, hi = 1;
    int offset = 0;                       // Choice: value of the first item
    std::function<QStringList()> items;   // Choice
    bool negated = false;
    bool masked = false;                  // a password: never shown nor recorded
    bool latin = false;                   // letters and digits only (a telephone number), never Chinese
    int level = 1;                        // 1 primary, 2 advanced
    bool detail = false;                  // only with "Display all the parameters"
    bool factory = false;                 // only with "Display factory param"
    Applies applies;                      // machine modes and counts it applies to
    int note = 0;                         // restart note shown after a change
    int recordMessage = 1012;             // ", %1 is changed from %2 to %3"
    Setter setter = Setter::None;

    Field& lv(int l) { level = l; return *this; }
    Field& when(Applies a) { applies = std::move(a); return *this; }
    Field& restartNote(int n) { note = n; return *this; }
    Field& showDetail() { detail = true; return *this; }
    Field& showFactory() { factory = true; return *this; }
};

const QList<Field>& all();
// The field of an editor name, or null.
const Field* find(const QString& name);

// The label in the current language, with its argument.
QString label(const Field& f);
// A field's value as the page and the record show it.
QString valueText(const Field& f, WizardPara& p);
// Whether the field is shown for the record being edited at the given level.
bool shown(const Field& f, const WizardPara& edit, int level);

// The record line of every field that differs between before and after, in
// table order (one per field).
struct Change {
    const Field* field;
    QString line;
};
QList<Change> changes(WizardPara& before, WizardPara& after);
// Copies every field of the table from edit into live, one by one.
void copyFields(WizardPara& live, WizardPara& edit);
// Whether a change of this field needs the detections derived again.
bool derivesDetections(const Field& f);

} // namespace parafields
