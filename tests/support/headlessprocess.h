#pragma once

// The real program started without a window by the tests: no display, no platform chosen, its
// settings under a folder of the test's and its runtime folder given (a private one, or the
// private sound server's).

#include <QProcess>
#include <QString>

// Sets the environment of program (before it starts) so that it reads its settings from
// configHome/Tavmirok/Tavmirok.conf and uses runtime as XDG_RUNTIME_DIR.
void PrepareHeadless(QProcess& program, const QString& configHome, const QString& runtime);
