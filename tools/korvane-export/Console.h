#pragma once

// The one operating-system question korvane-export asks about its console.
namespace korvane::console {

// True when standard input is a terminal, so the operator can be asked for answers.
bool StdinIsTerminal() noexcept;

} // namespace korvane::console
