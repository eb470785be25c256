#pragma once
// What this process was started with and is: its id, environment, command line and standard
// streams, with every text in UTF-8.

#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

std::int64_t ProcessId();

// The variable's value in UTF-8; empty when it is not set.
std::string EnvironmentVariable(const char* name);

// The program's arguments in UTF-8, the program's own name first. Windows hands main() the
// arguments in the ANSI code page, which loses what it cannot spell, so there they are taken
// from the wide command line instead of argv.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Standard output and error pass bytes through unchanged and a console shows them as UTF-8, so
// that the program writes the same bytes on every system (no CR added before LF).
void UseUtf8StandardStreams();

}  // namespace velmora
