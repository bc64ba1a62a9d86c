// Single-key input on Windows, from the C runtime's console functions.
#include <conio.h>
#include <io.h>

#include <cstdio>

#include "selftest/console.hpp"

namespace console {

void waitForKeypress() {
  if (_isatty(_fileno(stdin)) == 0) {
    // Redirected or detached input: one byte, or nothing at end of input.
    char byte = 0;
    static_cast<void>(_read(_fileno(stdin), &byte, 1));
    return;
  }
  // Function and arrow keys arrive as a 0 or 0xE0 prefix then a scan code;
  // both halves belong to the one keypress.
  const int first = _getch();
  if (first == 0 || first == 0xE0) {
    static_cast<void>(_getch());
  }
}

}  // namespace console
