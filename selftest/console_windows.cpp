// The console on Windows. Output: on a console the text goes as UTF-16
// through WriteConsoleW, so that every console shows what a Korean one
// (code page 949) shows, whatever its code page; the console's code page and
// modes are left alone, so nothing needs restoring however the program ends.
// Redirected, the CP949 bytes go through the C runtime as before. Input: the
// C runtime's console functions.
#include <conio.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <string_view>

#include "console.hpp"

namespace {

constexpr UINT koreanCodePage = 949;

// The console that standard output writes to, or nullptr where it is a file,
// a pipe or nothing, or where the system has no CP949 to convert from.
HANDLE outputConsole() {
  static const HANDLE console = [] {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return GetConsoleMode(output, &mode) != 0 && IsValidCodePage(koreanCodePage) != 0 ? output
                                                                                      : nullptr;
  }();
  return console;
}

// Each line feed as CR LF, as the runtime's text mode writes it; the two are
// single bytes in CP949, never the second byte of a character.
bool writeToConsole(HANDLE console, std::string_view text) {
  std::string lines;
  for (const char c : text) {
    if (c == '\n') {
      lines += '\r';
    }
    lines += c;
  }
  if (lines.empty()) {
    return true;
  }
  const int byteCount = static_cast<int>(lines.size());
  const int wideCount = MultiByteToWideChar(koreanCodePage, 0, lines.data(), byteCount, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(wideCount), L'\0');
  MultiByteToWideChar(koreanCodePage, 0, lines.data(), byteCount, wide.data(), wideCount);
  DWORD written = 0;
  return WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr) !=
             0 &&
         written == wide.size();
}

}  // namespace

namespace console {

bool write(std::string_view text) {
  const HANDLE console = outputConsole();
  if (console == nullptr) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
  }
  return writeToConsole(console, text);
}

bool writeLabel(const Label& label) {
  return write(label.cp949);
}

bool waitForKeypress(bool (*showPrompt)()) {
  // _getch sets the console's input mode for itself and puts it back.
  if (!showPrompt()) {
    return false;
  }
  if (_isatty(_fileno(stdin)) == 0) {
    // Redirected or detached input: one byte, or nothing at end of input.
    char byte = 0;
    static_cast<void>(_read(_fileno(stdin), &byte, 1));
    return true;
  }
  // Function and arrow keys arrive as a 0 or 0xE0 prefix then a scan code;
  // both halves belong to the one keypress.
  const int first = _getch();
  if (first == 0 || first == 0xE0) {
    static_cast<void>(_getch());
  }
  return true;
}

}  // namespace console
