#pragma once
// Writes a complete factory working directory: the databases with every
// parameter key, their factory copies, the pixmaps, the alarm sound and the
// clock files, so a fresh station starts detecting without questions.
#include <QString>

class WizardPara;

namespace factory {

// Fills the factory values into a parameter record.
void setFactoryValues(WizardPara& p);

// Makes the directory. Refuses (returns false with *error set) when it
// already holds a PARAM.db, so an operator's data is never overwritten.
// Needs a QGuiApplication (the pixmaps are drawn).
bool makeWorkingDir(const QString& dir, QString* error);

// Writes the factory package (paraGroup/default/20clearsh.tar.gz) of an
// existing working directory from its factory group, whole or not at all.
bool writeFactoryPackage(const QString& dir, QString* error);

} // namespace factory
