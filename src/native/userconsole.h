#pragma once

#include <QString>

// Where the program's own messages (help, version, a bad option, a settings fault) are
// read. A Windows GUI program has no console of its own and, started from the Start menu
// or Explorer, none to borrow; a Linux program started from a desktop's menu writes where
// nobody looks. The program then shows its message in a box as well.
namespace UserConsole {

enum class Stream { Output, Error };

// Standard error is a terminal or the system journal (Linux; never on Windows).
bool stderrIsWatched();

// Linux: standard error is a terminal or the system journal. Windows: the program that
// started this one has a console (this one attaches to it and leads standard output and
// error there, unless they were redirected already), or gave a file or pipe to write to.
bool attach();

// The text on the stream: UTF-16 into a Windows console, UTF-8 anywhere else.
void print(Stream stream, const QString &text);

} // namespace UserConsole
