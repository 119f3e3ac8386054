#include "Console.h"

#ifdef _WIN32
#include <io.h>

#include <cstdio>
#else
#include <unistd.h>
#endif

namespace korvane::console {

bool StdinIsTerminal() noexcept
{
#ifdef _WIN32
    return _isatty(_fileno(stdin)) != 0;
#else
    return isatty(STDIN_FILENO) == 1;
#endif
}

} // namespace korvane::console
