#pragma once
// The production counters: cycles and NG cycles per camera, kept in
// "count.txt" as one line of 16 numbers, each followed by one space.
#include <QtGlobal>

extern quint32 gAllNum[8];
extern quint32 gFailNum[8];

// Reads "count.txt"; a value above 100,000,000 reads 0. A missing file gives
// zeros; one that cannot be read as counters gives zeros too and is kept
// aside as "count.txt.broken-<time>" with a record line. Returns whether the
// file was read.
bool CountRead();
// Writes the whole line atomically: a power cut leaves the old or the new counts.
bool CountWrite();
// Whether CountRead has run: a flush before it must not write zeros over the file.
bool countsKnown();
// A station coming up has read nothing yet (another may have run in this process).
void forgetCounts();
// All sixteen counters to 0, recorded and written (the reset page).
bool CountReset();
