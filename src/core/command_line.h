#pragma once

#include <cstdio>

// Answers the program's arguments before any window or display is touched.
// Returns -1 when the program is to start as usual, else its exit code:
// --version and --help print on out and give 0; any other argument prints
// the usage on err and gives 2. Qt's own "-session NAME", which a session
// manager adds when it restores the program, starts it as usual.
int HandleCommandLine(int argc, const char* const* argv, std::FILE* out, std::FILE* err);

// "toggle" or "show" for --toggle and --show, the words the running copy
// answers; nullptr for any other command line.
const char* RemoteWord(int argc, const char* const* argv);
