// The console input that the self-test's pause needs: one keypress, read
// without echo and without waiting for Enter, or one byte when standard input
// is not a console.
#pragma once

namespace console {

// Waits for one keypress on standard input and discards it; a key that sends
// several bytes counts once. Returns at once at end of input or when standard
// input is closed.
void waitForKeypress();

}  // namespace console
