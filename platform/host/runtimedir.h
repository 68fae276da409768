#pragma once

#include <QString>

// The per-user runtime folder the toolkit asks for (XDG_RUNTIME_DIR). A
// root shell, ssh or cron often has none; the toolkit then prints a warning
// on the console before our first line. Called before the application
// object is made, this gives the program a private folder of its own.
namespace runtimedir {

// When XDG_RUNTIME_DIR is unset or empty, sets it to "runtime-<uid>" in the
// temporary folder (TMPDIR, else /tmp): made with mode 0700 when missing,
// used when it is a real folder of this user (its mode set to 0700), and
// replaced by a fresh "runtime-<uid>-XXXXXX" when anything else holds the
// name (another user's folder, a link, a file). A set value is left alone.
// Returns the folder set, empty when nothing was changed or none could be
// made.
QString ensure();

} // namespace runtimedir
