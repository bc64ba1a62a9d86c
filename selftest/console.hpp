// The console side of the self-test: how its text reaches standard output,
// and the pause's one keypress, read without echo and without waiting for
// Enter, or one byte when standard input is not a console.
//
// The text is CP949 bytes, and a file or a pipe receives exactly those. What
// a person reads is the text itself: a Windows console is given it as UTF-16,
// whatever its code page, and a terminal whose locale is UTF-8 gets the
// labels in UTF-8.
#pragma once

#include <string_view>

namespace console {

// One of the Korean labels, in both encodings it can be written in; the
// terminal test checks that the two read the same.
struct Label {
  std::string_view cp949;
  std::string_view utf8;
};

// Writes CP949 text (with ASCII) to standard output. Returns false where a
// console refused it; errors of the stream itself stay in ferror(stdout).
bool write(std::string_view text);

// Writes `label` in the encoding that standard output shows as text.
bool writeLabel(const Label& label);

// Puts the console into the mode of the wait, calls `showPrompt`, and if it
// returns true waits for one keypress and discards it; a key that sends
// several bytes counts once. The console is as it was before the call when
// it returns, and whatever way the process ends meanwhile. Returns at once at
// end of input or when standard input is closed. Returns what `showPrompt`
// returned.
bool waitForKeypress(bool (*showPrompt)());

}  // namespace console
