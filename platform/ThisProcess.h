#pragma once
// What this process was started with and is: its id, environment, command line and standard
// streams, with every text in UTF-8.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace velmora {

std::int64_t ProcessId();

// This program's own file (to start it again, as the tests' child modes do).
std::filesystem::path ThisProgram();

// The variable's value in UTF-8; empty when it is not set.
std::string EnvironmentVariable(const char* name);
// Sets a variable of this process's environment (UTF-8), or removes it given nullptr (on
// Windows an empty value removes it too); getenv and the children started afterwards see it.
// Not while another thread reads the environment.
// (Not "SetEnvironmentVariable": windows.h makes that name a macro.)
void SetEnvironmentValue(const std::string& name, const char* value);

// The program's arguments in UTF-8, the program's own name first. Windows hands main() the
// arguments in the ANSI code page, which loses what it cannot spell, so there they are taken
// from the wide command line instead of argv.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// The standard streams pass bytes through unchanged (no CR added before LF, none taken from CR
// LF) and a console shows output as UTF-8, so that the program reads and writes the same bytes
// on every system. Called before anything is read or written.
void UseUtf8StandardStreams();

}  // namespace velmora
