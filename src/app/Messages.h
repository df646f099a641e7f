#pragma once
// The three-language message table. Texts live in data/messages.tsv, which is
// compiled into the binary; entry n, column gLan is what the operator sees.
#include <QString>

constexpr int kMessageCount = 2048;
constexpr int kLanguageCount = 3;

extern QString gaLanStr[kMessageCount][kLanguageCount];

// Fills gaLanStr from the compiled table. Returns the number of messages
// loaded; a malformed line is skipped and logged.
int LoadLanStr();
// Parses a table text into gaLanStr (used by LoadLanStr and by tests).
int ParseLanTable(const QByteArray& table, QStringList* errors = nullptr);

// Text of message n in the current language, or in language lan.
QString LanStr(int n);
QString LanStr(int n, int lan);
// English text regardless of gLan (start-up failures before the language is known).
inline QString LanStrEn(int n) { return LanStr(n, 1); }
