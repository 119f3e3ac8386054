#pragma once

#include <optional>
#include <string>

// Programs that hold a key or a password call this first thing in main, so that what they hold
// never lands in a core file: core dumps are switched off for the process and, on Linux, the
// process is marked not dumpable, which also keeps other processes of the same user from
// reading its memory through ptrace or /proc. False when the system refused; the program can
// go on, with that protection missing.
namespace korvane {

bool KeepSecretsOutOfCoreDumps() noexcept;

// The value of the environment variable `name`, taken out of the environment: the characters
// are overwritten where they lie (the kernel shows that memory as the process's environment)
// and the variable is removed. nullopt when it is not set. Call it before any other thread runs.
std::optional<std::string> TakeSecretFromEnvironment(const char* name);

} // namespace korvane
