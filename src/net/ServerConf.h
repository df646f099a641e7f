#pragma once
// The network client's server settings, kept in its own database
// "./cnt_net/sysconf.db" (table info_sysconf: the value and the name of
// each setting). The station reads and writes four of them.
#include <QString>

namespace serverconf {

// Rows in page order: report server address, file server address, their ports.
constexpr int kRows = 4;
const char* rowName(int row);
QString path();

// Reads every row; false with the error text when the database cannot be
// opened or a row is missing (values left empty).
bool read(QString values[kRows], QString* error);
// Writes one row; false with the error text when nothing was written.
bool write(int row, const QString& value, QString* error);

} // namespace serverconf
