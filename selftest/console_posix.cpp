// The console on a POSIX host. Output: the labels in UTF-8 where standard
// output is a terminal whose locale is UTF-8, CP949 bytes anywhere else.
// Input: from before the prompt until the key the terminal is in
// non-canonical mode without echo, so that even a key pressed as the prompt
// appears is not echoed, and its own settings are put back however the wait
// ends (a key, a signal, a lost terminal).
#include <langinfo.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstddef>
#include <cstdio>
#include <iterator>
#include <string_view>

#include "console.hpp"

namespace {

// File-scope because the signal handlers, which take no arguments, need them.
termios originalSettings;
termios keySettings;

// The signals that end the process (or, SIGTSTP from Ctrl-Z, stop it) by
// default; during the wait each is caught so that the terminal is restored
// first. SIGPIPE is among them because the prompt is written in key mode.
constexpr int handledSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGTSTP};
struct sigaction previousActions[std::size(handledSignals)];

// The bytes of one key (an escape sequence, a multi-byte character) are sent
// together; this long a gap after them means the key is complete, while a
// person's next keypress comes much later.
constexpr int keyTailGapMs = 30;
constexpr unsigned char escape = 0x1B;

extern "C" void restoreTerminalAndDie(int signalNumber);
extern "C" void restoreTerminalAndStop(int signalNumber);

struct sigaction waitAction(int signalNumber) {
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  if (signalNumber == SIGTSTP) {
    action.sa_handler = restoreTerminalAndStop;
  } else {
    // Default action back on entry and the signal left unblocked, so that
    // raising it again in the handler ends the process at once.
    action.sa_handler = restoreTerminalAndDie;
    // The flags are unsigned constants in some C libraries, sa_flags is an int.
    action.sa_flags = static_cast<int>(SA_RESETHAND | SA_NODEFER);
    sigaddset(&action.sa_mask, SIGTSTP);
  }
  return action;
}

// Only async-signal-safe calls: tcsetattr and raise. The parent then sees the
// process killed by this signal, as it would without the handler.
extern "C" void restoreTerminalAndDie(int signalNumber) {
  tcsetattr(STDIN_FILENO, TCSANOW, &originalSettings);
  raise(signalNumber);
}

// Ctrl-Z: the shell gets its terminal back as it was while this process is
// stopped, and the wait goes on in key mode after it is continued.
extern "C" void restoreTerminalAndStop(int /*signalNumber*/) {
  const int savedErrno = errno;
  tcsetattr(STDIN_FILENO, TCSANOW, &originalSettings);
  struct sigaction stop {};
  stop.sa_handler = SIG_DFL;
  sigemptyset(&stop.sa_mask);
  sigaction(SIGTSTP, &stop, nullptr);
  raise(SIGTSTP);
  // SIGTSTP is blocked in its own handler: unblocking it stops the process
  // here until SIGCONT.
  sigset_t suspend;
  sigemptyset(&suspend);
  sigaddset(&suspend, SIGTSTP);
  sigprocmask(SIG_UNBLOCK, &suspend, nullptr);
  const struct sigaction resumed = waitAction(SIGTSTP);
  sigaction(SIGTSTP, &resumed, nullptr);
  tcsetattr(STDIN_FILENO, TCSANOW, &keySettings);
  errno = savedErrno;
}

// Signals that arrived ignored stay ignored (a background job of a shell
// without job control must not die of Ctrl-C).
void installWaitHandlers() {
  for (std::size_t i = 0; i < std::size(handledSignals); ++i) {
    const struct sigaction action = waitAction(handledSignals[i]);
    sigaction(handledSignals[i], &action, &previousActions[i]);
    if (previousActions[i].sa_handler == SIG_IGN) {
      sigaction(handledSignals[i], &previousActions[i], nullptr);
    }
  }
}

void restorePreviousHandlers() {
  for (std::size_t i = 0; i < std::size(handledSignals); ++i) {
    sigaction(handledSignals[i], &previousActions[i], nullptr);
  }
}

// read() that goes on after signals that only interrupted it.
ssize_t readInput(unsigned char* buffer, std::size_t size) {
  ssize_t count = 0;
  do {
    count = read(STDIN_FILENO, buffer, size);
  } while (count < 0 && errno == EINTR);
  return count;
}

// Drops the rest of a key that sends several bytes, so that none of it is
// left for the shell to read.
void discardKeyTail() {
  pollfd input{STDIN_FILENO, POLLIN, 0};
  for (;;) {
    const int ready = poll(&input, 1, keyTailGapMs);
    if (ready < 0 && errno == EINTR) {
      continue;
    }
    if (ready <= 0 || (input.revents & POLLIN) == 0) {
      return;
    }
    unsigned char tail[32];
    if (readInput(tail, sizeof tail) <= 0) {
      return;
    }
  }
}

// An escape sequence starts with ESC, a multi-byte character with a byte
// above ASCII; any other key is a single byte.
bool mayStartLongerKey(unsigned char first) {
  return first == escape || first >= 0x80;
}

void readKey() {
  unsigned char first = 0;
  // Zero or an error (EIO) means the terminal is gone: nothing to wait for.
  if (readInput(&first, 1) == 1 && mayStartLongerKey(first)) {
    discardKeyTail();
  }
}

// Decided at the first label, from the locale of the environment, as any
// program that writes text for a terminal does.
bool labelsInUtf8() {
  static const bool utf8 = [] {
    std::setlocale(LC_CTYPE, "");
    return isatty(STDOUT_FILENO) == 1 && std::string_view(nl_langinfo(CODESET)) == "UTF-8";
  }();
  return utf8;
}

}  // namespace

namespace console {

bool write(std::string_view text) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
}

bool writeLabel(const Label& label) {
  return write(labelsInUtf8() ? label.utf8 : label.cp949);
}

bool waitForKeypress(bool (*showPrompt)()) {
  if (tcgetattr(STDIN_FILENO, &originalSettings) != 0) {
    // Not a terminal (a pipe, a file, /dev/null, closed): one byte or none.
    if (!showPrompt()) {
      return false;
    }
    unsigned char byte = 0;
    static_cast<void>(readInput(&byte, 1));
    return true;
  }
  keySettings = originalSettings;
  // ISIG stays on, so Ctrl-C and Ctrl-Z act as in any console program; IEXTEN
  // and IXON go, so that Ctrl-V, Ctrl-S and Ctrl-Q count as keys.
  keySettings.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | IEXTEN);
  keySettings.c_iflag &= ~static_cast<tcflag_t>(IXON);
  keySettings.c_cc[VMIN] = 1;
  keySettings.c_cc[VTIME] = 0;

  // Handlers first: from the moment the settings change, any ending restores them.
  installWaitHandlers();
  tcsetattr(STDIN_FILENO, TCSANOW, &keySettings);
  const bool shown = showPrompt();
  if (shown) {
    readKey();
  }
  tcsetattr(STDIN_FILENO, TCSANOW, &originalSettings);
  restorePreviousHandlers();
  return shown;
}

}  // namespace console
