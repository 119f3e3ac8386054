#pragma once

#include <optional>
#include <string>
#include <string_view>

// The terminal as the command-line tools need it. All operating system calls for it are in
// Terminal.cpp.
namespace korvane::terminal {

// True when standard input is a terminal, so the operator can be asked for answers.
[[nodiscard]] bool StdinIsTerminal() noexcept;

// True when standard error is a terminal, so progress may be drawn on it.
[[nodiscard]] bool StderrIsTerminal() noexcept;

// Shows `prompt` on the controlling terminal and reads one line from it without echo, returned
// as UTF-8 without its line end. Empty when there is no terminal to ask on. Echo is restored
// when the line is read and also when the process is interrupted meanwhile.
[[nodiscard]] std::optional<std::string> ReadSecretLine(std::string_view prompt);

} // namespace korvane::terminal
