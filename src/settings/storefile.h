#pragma once

// Opens the per-user store of Tavmirok's settings (or an INI file, for tests) and reads its
// values as text; the stores in this folder share it so that they keep to one file.

#include "core/status.h"

#include <QSettings>
#include <QString>
#include <functional>
#include <memory>

namespace storefile {

// How the stores write a yes or a no.
inline constexpr char kTrue[] = "true";
inline constexpr char kFalse[] = "false";

// The user's native store (on Linux $XDG_CONFIG_HOME/Tavmirok/Tavmirok.conf), or the INI file
// at iniFile when that is not empty.
std::unique_ptr<QSettings> Open(const QString& iniFile);

// The text stored under key, or fallback when there is none. A value with a comma, which the
// INI format reads back as a list, keeps its text whole.
QString ReadText(const QSettings& store, const char* key, const QString& fallback);
// The same with an ASCII literal as the fallback (a path or other text from outside the program
// takes the QString form: these bytes are read as Latin-1).
QString ReadText(const QSettings& store, const char* key, const char* fallback);

// Whether what was just written reached the store. The first error of a QSettings sticks: a
// file that was damaged when it was read reports FormatError even after the values written now
// have replaced it, so then a fresh read of the store decides.
bool Reached(const QSettings& written, const QString& iniFile,
             const std::function<bool(QSettings&)>& readsBack);

// The values of `what` ("sounder settings") did not reach the store at location: what to do.
Status NotSaved(const QString& location, const QString& what);

} // namespace storefile
