#pragma once

#include <QStringList>

namespace vorlan {

// What the command line asks for, read before Qt takes its own options from it.
enum class CommandLineRequest { Run, Help, Version, Refused };

// The usage text, for --help on standard output and for a refused option on standard error.
const char *usageText();

// arguments: everything after the program's name. --help (or -h) and --version answer; Qt's own
// options (-platform NAME, -style NAME, -reverse, ...) are left for Qt; any other option is
// refused. Whatever is not an option is the port, as always.
CommandLineRequest readCommandLine(const QStringList &arguments);

// An option rather than a port: a leading '-' not followed by a digit or a point, so that "-5"
// is still a port number (refused later for its range, as always).
bool isOption(const QString &argument);

} // namespace vorlan
