// example4 in a real pseudo-terminal: the screen shows the labels as text
// under a UTF-8 locale and the CP949 bytes under any other; the pause shows
// its prompt, waits for a single unechoed key without Enter, and leaves the
// terminal's settings as it found them however the wait ends.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <iconv.h>
#include <locale.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <utmp.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <ostream>
#include <string>
#include <thread>

#include "child_process.hpp"

namespace {

using child_process::describeStatus;
using child_process::hexComparison;
using std::chrono::milliseconds;

const std::string prompt = "Press any key to continue . . .";
// The pty's output processing (ONLCR) turns the closing line feed into CR LF.
const std::string lineEnd = "\r\n";
constexpr milliseconds generous{10000};

std::string hexFlags(tcflag_t flags) {
  char hex[2 * sizeof flags + 1];
  std::snprintf(hex, sizeof hex, "%0*lx", static_cast<int>(2 * sizeof flags),
                static_cast<unsigned long>(flags));
  return hex;
}

void expectSameFlags(const char* field, tcflag_t before, tcflag_t after) {
  EXPECT_EQ(before, after) << field << ": expected " << hexFlags(before) << ", produced "
                           << hexFlags(after) << ", xor " << hexFlags(before ^ after);
}

void expectSameSettings(const termios& before, const termios& after) {
  expectSameFlags("c_iflag", before.c_iflag, after.c_iflag);
  expectSameFlags("c_oflag", before.c_oflag, after.c_oflag);
  expectSameFlags("c_cflag", before.c_cflag, after.c_cflag);
  expectSameFlags("c_lflag", before.c_lflag, after.c_lflag);
  const std::string beforeChars(std::begin(before.c_cc), std::end(before.c_cc));
  const std::string afterChars(std::begin(after.c_cc), std::end(after.c_cc));
  EXPECT_EQ(beforeChars, afterChars) << "c_cc:" << hexComparison(beforeChars, afterChars);
}

// `cp949` converted to UTF-8 by the C library's iconv, or nothing if it
// cannot convert it.
std::optional<std::string> utf8FromCp949(const std::string& cp949) {
  const iconv_t converter = iconv_open("UTF-8", "CP949");
  // iconv_open reports failure as this pointer.
  // NOLINTNEXTLINE(performance-no-int-to-ptr)
  if (converter == reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1))) {
    return std::nullopt;
  }
  // iconv takes its input through a pointer to non-const.
  std::string input = cp949;
  char utf8[64];
  char* in = input.data();
  std::size_t inLeft = input.size();
  char* out = utf8;
  std::size_t outLeft = sizeof utf8;
  const bool converted =
      iconv(converter, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1) && inLeft == 0;
  iconv_close(converter);
  return converted ? std::optional<std::string>(std::string(utf8, out)) : std::nullopt;
}

// What the terminal shows of the expected output before the key: its line
// feeds as CR LF and, with `utf8Labels`, the labels (the bytes before " = "
// on the first four lines) as iconv reads them from CP949, so that the
// program's UTF-8 labels are checked to be the text of its CP949 ones.
// Nothing if iconv cannot read CP949.
std::optional<std::string> expectedScreen(bool utf8Labels) {
  std::string expected = child_process::expectedOutput();
  // The last line feed closes the prompt's line, after the key.
  if (expected.ends_with('\n')) {
    expected.pop_back();
  }
  constexpr int labelledLines = 4;
  std::string screen;
  std::size_t start = 0;
  for (int lineNumber = 0;; ++lineNumber) {
    const std::size_t end = expected.find('\n', start);
    std::string line = expected.substr(start, end - start);
    if (utf8Labels && lineNumber < labelledLines) {
      const std::size_t labelEnd = line.find(" = ");
      const std::optional<std::string> label = utf8FromCp949(line.substr(0, labelEnd));
      if (!label) {
        return std::nullopt;
      }
      line.replace(0, labelEnd, *label);
    }
    screen += line;
    if (end == std::string::npos) {
      return screen;
    }
    screen += lineEnd;
    start = end + 1;
  }
}

// example4 started on the slave side of a new pseudo-terminal as its
// controlling terminal. The slave stays open here, so its settings can be
// read before and after, and its input queue inspected.
class Example4InTerminal : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, openpty(&master, &slave, nullptr, nullptr, nullptr));
    ASSERT_EQ(0, tcgetattr(slave, &before));
    int jobPipe[2];
    ASSERT_EQ(0, pipe(jobPipe));
    pid = child_process::start([this, &jobPipe] { prepareChild(jobPipe); });
    ASSERT_GT(pid, 0);
    close(jobPipe[1]);
    if (runsAsJob()) {
      ASSERT_EQ(static_cast<ssize_t>(sizeof job), read(jobPipe[0], &job, sizeof job));
    }
    close(jobPipe[0]);
  }

  // In the child, before example4 is executed: the terminal becomes its
  // standard streams and controlling terminal.
  void prepareChild(const int (&jobPipe)[2]) const {
    close(master);
    close(jobPipe[0]);
    // Ctrl-\ must not leave a core file behind.
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    if (ignoresHangup()) {
      signal(SIGHUP, SIG_IGN);
    }
    if (locale() != nullptr) {
      setenv("LC_ALL", locale(), 1);
    }
    login_tty(slave);
    redirectOutput();
    if (runsAsJob()) {
      becomeForegroundJob(jobPipe[1]);
    }
    close(jobPipe[1]);
  }

  // As an interactive shell runs a command: in a process group of its own in
  // the terminal's foreground, with the session leader (standing in for the
  // shell) waiting for it and ending with its status. Only then is Ctrl-Z
  // obeyed; the kernel drops stop signals to an orphaned process group.
  virtual bool runsAsJob() const { return false; }
  // As under nohup: a hangup then reaches the program only as a failed read.
  virtual bool ignoresHangup() const { return false; }
  // The locale to run under instead of child_process::defaultLocale.
  virtual const char* locale() const { return nullptr; }
  // Standard output somewhere else than the terminal (input stays there).
  virtual void redirectOutput() const {}

  static void becomeForegroundJob(int jobPipe) {
    const pid_t job = fork();
    if (job == 0) {
      setpgid(0, 0);
      // A process group outside the foreground may not take the terminal
      // unless SIGTTOU is ignored.
      signal(SIGTTOU, SIG_IGN);
      tcsetpgrp(STDIN_FILENO, getpid());
      signal(SIGTTOU, SIG_DFL);
      return;
    }
    static_cast<void>(write(jobPipe, &job, sizeof job));
    int status = 0;
    waitpid(job, &status, 0);
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
  }

  void TearDown() override {
    // The job is not our child: it cannot be waited for here, and its
    // waiting parent ends once it is gone.
    if (job > 0) {
      kill(job, SIGKILL);
    }
    if (pid > 0 && child_process::stillRunning(pid)) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    close(master);
    close(slave);
  }

  // Reads what the terminal shows until `done` holds for it or `limit` passes.
  std::string readScreen(const std::function<bool(const std::string&)>& done, milliseconds limit) {
    std::string shown;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done(shown)) {
      const auto left =
          std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        break;
      }
      pollfd output{master, POLLIN, 0};
      if (poll(&output, 1, static_cast<int>(left.count())) <= 0) {
        break;
      }
      char buffer[256];
      const ssize_t count = read(master, buffer, sizeof buffer);
      if (count <= 0) {
        break;
      }
      shown.append(buffer, static_cast<std::size_t>(count));
    }
    return shown;
  }

  // Everything the terminal shows within `limit`.
  std::string readScreenFor(milliseconds limit) {
    return readScreen([](const std::string&) { return false; }, limit);
  }

  // Up to the prompt, then until the program has put the terminal into key
  // mode (the prompt is flushed just before), so that a key sent afterwards
  // meets the settings of the wait rather than the line editor.
  void awaitPause() {
    const std::string shown =
        readScreen([](const std::string& s) { return s.ends_with(prompt); }, generous);
    ASSERT_TRUE(shown.ends_with(prompt)) << "no prompt:" << hexComparison(prompt, shown);
    ASSERT_TRUE(child_process::stillRunning(pid)) << "ended instead of waiting";
    awaitKeyMode();
  }

  void awaitKeyMode() const {
    const auto deadline = std::chrono::steady_clock::now() + generous;
    termios current{};
    while (tcgetattr(slave, &current) == 0 && (current.c_lflag & ICANON) != 0) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "terminal never left line mode";
      std::this_thread::sleep_for(milliseconds(1));
    }
    EXPECT_EQ(0u, current.c_lflag & ECHO) << "key mode must not echo";
    EXPECT_NE(0u, current.c_lflag & ISIG) << "key mode must keep Ctrl-C";
  }

  void type(const std::string& keys) const {
    ASSERT_EQ(static_cast<ssize_t>(keys.size()), write(master, keys.data(), keys.size()));
  }

  int awaitEnd() {
    const std::optional<int> status = child_process::waitForEnd(pid, generous);
    pid = -1;
    EXPECT_TRUE(status.has_value()) << "still waiting after " << generous.count() << " ms";
    return status.value_or(0);
  }

  // After the run: the settings are those found before it, and the terminal's
  // input holds nothing left over (a line typed now reads back alone).
  void expectTerminalAsFound() {
    termios after{};
    ASSERT_EQ(0, tcgetattr(slave, &after));
    expectSameSettings(before, after);
    type("\n");
    pollfd input{slave, POLLIN, 0};
    ASSERT_EQ(1, poll(&input, 1, static_cast<int>(generous.count())));
    char buffer[64];
    const ssize_t count = read(slave, buffer, sizeof buffer);
    const std::string leftOver(buffer, static_cast<std::size_t>(std::max<ssize_t>(count, 0)));
    EXPECT_EQ("\n", leftOver) << hexComparison("\n", leftOver);
  }

  int master = -1;
  int slave = -1;
  pid_t pid = -1;
  pid_t job = -1;
  termios before{};
};

TEST_F(Example4InTerminal, WaitsForOneUnechoedKeyWithoutEnter) {
  awaitPause();
  EXPECT_EQ("", readScreenFor(milliseconds(300))) << "output while waiting";
  EXPECT_TRUE(child_process::stillRunning(pid)) << "did not wait for a key";
  type("x");
  const int status = awaitEnd();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << describeStatus(status);
  // No echo of the key: the line end alone follows the prompt.
  const std::string afterPrompt = readScreenFor(milliseconds(100));
  EXPECT_EQ(lineEnd, afterPrompt) << hexComparison(lineEnd, afterPrompt);
  expectTerminalAsFound();
}

// Names parameterised cases by their `name` field.
struct ByName {
  template <typename Param>
  std::string operator()(const ::testing::TestParamInfo<Param>& info) const {
    return info.param.name;
  }
};

// A key sent the moment the prompt's last byte arrives already meets the
// settings of the wait: the terminal does not echo it. Were key mode set only
// after the prompt, the key would win that race in a fraction of runs, so the
// case runs several times.
class Example4KeyAsThePromptArrives : public Example4InTerminal,
                                      public ::testing::WithParamInterface<int> {};

TEST_P(Example4KeyAsThePromptArrives, IsNotEchoed) {
  const std::string shown =
      readScreen([](const std::string& s) { return s.ends_with(prompt); }, generous);
  ASSERT_TRUE(shown.ends_with(prompt)) << "no prompt:" << hexComparison(prompt, shown);
  type("k");
  const int status = awaitEnd();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << describeStatus(status);
  const std::string afterPrompt = readScreenFor(milliseconds(100));
  EXPECT_EQ(lineEnd, afterPrompt) << hexComparison(lineEnd, afterPrompt);
  expectTerminalAsFound();
}

INSTANTIATE_TEST_SUITE_P(Attempts, Example4KeyAsThePromptArrives, ::testing::Range(1, 11));

// The screen up to the prompt under a locale, byte for byte.
struct Screen {
  const char* name;
  const char* locale;
  bool utf8Labels;
};

// GoogleTest would otherwise print the parameter's raw bytes, its padding
// included, which valgrind reports as uninitialised.
void PrintTo(const Screen& screen, std::ostream* out) {
  *out << screen.name;
}

class Example4Screen : public Example4InTerminal, public ::testing::WithParamInterface<Screen> {
 protected:
  const char* locale() const override { return GetParam().locale; }
};

TEST_P(Example4Screen, ShowsTheOutputUpToThePrompt) {
  const Screen screen = GetParam();
  const locale_t available = newlocale(LC_CTYPE_MASK, screen.locale, nullptr);
  if (available == nullptr) {
    GTEST_SKIP() << "the C library has no locale " << screen.locale;
  }
  freelocale(available);
  const std::optional<std::string> expected = expectedScreen(screen.utf8Labels);
  if (!expected) {
    GTEST_SKIP() << "the C library's iconv cannot read CP949";
  }
  const std::string shown =
      readScreen([](const std::string& s) { return s.ends_with(prompt); }, generous);
  EXPECT_EQ(*expected, shown) << hexComparison(*expected, shown);
}

INSTANTIATE_TEST_SUITE_P(Locales, Example4Screen,
                         ::testing::Values(Screen{"Utf8", "C.UTF-8", true},
                                           Screen{"C", "C", false}),
                         ByName());

// Keys that send several bytes: each is one keypress and nothing of it is
// left for the next reader of the terminal.
struct Key {
  const char* name;
  const char* bytes;
};

class Example4MultiByteKey : public Example4InTerminal,
                             public ::testing::WithParamInterface<Key> {};

TEST_P(Example4MultiByteKey, CountsAsOneKey) {
  awaitPause();
  type(GetParam().bytes);
  const int status = awaitEnd();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << describeStatus(status);
  const std::string afterPrompt = readScreenFor(milliseconds(100));
  EXPECT_EQ(lineEnd, afterPrompt) << hexComparison(lineEnd, afterPrompt);
  expectTerminalAsFound();
}

INSTANTIATE_TEST_SUITE_P(Keys, Example4MultiByteKey,
                         ::testing::Values(Key{"UpArrow", "\x1b[A"}, Key{"F1", "\x1bOP"},
                                           Key{"F5", "\x1b[15~"},
                                           Key{"HangulInUtf8", "\xed\x95\x9c"},
                                           Key{"EscapeAlone", "\x1b"}),
                         ByName());

// The process state letter from /proc (T: stopped), or '?' if unreadable.
char processState(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  const std::string line{std::istreambuf_iterator<char>(stat), std::istreambuf_iterator<char>()};
  const std::size_t end = line.rfind(") ");
  return end != std::string::npos && end + 2 < line.size() ? line[end + 2] : '?';
}

class Example4AsJob : public Example4InTerminal {
 protected:
  bool runsAsJob() const override { return true; }
};

// Ctrl-Z: while stopped, the shell has the terminal as it was; continued, the
// program waits in key mode again and a key ends it normally.
TEST_F(Example4AsJob, CtrlZRestoresTheTerminalUntilContinued) {
  awaitPause();
  type("\x1a");
  const auto deadline = std::chrono::steady_clock::now() + generous;
  while (processState(job) != 'T') {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "Ctrl-Z did not stop the program";
    std::this_thread::sleep_for(milliseconds(1));
  }
  termios stopped{};
  ASSERT_EQ(0, tcgetattr(slave, &stopped));
  expectSameSettings(before, stopped);

  ASSERT_EQ(0, kill(job, SIGCONT));
  awaitKeyMode();
  type("x");
  const int status = awaitEnd();
  job = -1;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << describeStatus(status);
  std::string afterPrompt = readScreenFor(milliseconds(100));
  // Linux's line discipline sends SIGTSTP before it looks at ECHO to decide
  // whether to echo the Ctrl-Z, so the handler's restored settings can win:
  // "^Z" may show, as it would for any program stopped from the line editor.
  if (afterPrompt.starts_with("^Z")) {
    afterPrompt.erase(0, 2);
  }
  EXPECT_EQ(lineEnd, afterPrompt) << hexComparison(lineEnd, afterPrompt);
  expectTerminalAsFound();
}

class Example4IgnoringHangup : public Example4InTerminal {
 protected:
  bool ignoresHangup() const override { return true; }
};

// The terminal goes away during the wait: the wait ends at once, and as the
// closing line end can no longer be written the run reports failure.
TEST_F(Example4IgnoringHangup, LostTerminalEndsTheWait) {
  awaitPause();
  close(master);
  master = -1;
  const int status = awaitEnd();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == EXIT_FAILURE) << describeStatus(status);
}

// Standard output into a pipe whose reader has gone, input the terminal: the
// prompt, written in key mode, meets SIGPIPE, which ends the run with the
// terminal restored.
class Example4OutputAbandoned : public Example4InTerminal {
 protected:
  void redirectOutput() const override {
    int pipeEnds[2];
    if (pipe(pipeEnds) == 0) {
      close(pipeEnds[0]);
      dup2(pipeEnds[1], STDOUT_FILENO);
      close(pipeEnds[1]);
    }
    signal(SIGPIPE, SIG_DFL);
  }
};

TEST_F(Example4OutputAbandoned, SigpipeAtThePromptRestoresTheTerminal) {
  const int status = awaitEnd();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGPIPE) << describeStatus(status);
  termios after{};
  ASSERT_EQ(0, tcgetattr(slave, &after));
  expectSameSettings(before, after);
}

// Ways to end the wait by a signal: through the terminal's own keys (which
// reach the program only because key mode keeps ISIG) or sent directly.
struct Interruption {
  const char* name;
  int signalNumber;
  const char* terminalKey;  // nullptr: sent with kill()
};

// GoogleTest would otherwise print the parameter's raw bytes, the padding
// after signalNumber included, which valgrind reports as uninitialised.
void PrintTo(const Interruption& interruption, std::ostream* out) {
  *out << interruption.name;
}

class Example4Interrupted : public Example4InTerminal,
                            public ::testing::WithParamInterface<Interruption> {};

TEST_P(Example4Interrupted, EndsByTheSignalWithTerminalRestored) {
  const Interruption interruption = GetParam();
  awaitPause();
  if (interruption.terminalKey != nullptr) {
    type(interruption.terminalKey);
  } else {
    ASSERT_EQ(0, kill(pid, interruption.signalNumber));
  }
  const int status = awaitEnd();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == interruption.signalNumber)
      << describeStatus(status);
  termios after{};
  ASSERT_EQ(0, tcgetattr(slave, &after));
  expectSameSettings(before, after);
}

INSTANTIATE_TEST_SUITE_P(Signals, Example4Interrupted,
                         ::testing::Values(Interruption{"CtrlC", SIGINT, "\x03"},
                                           Interruption{"CtrlBackslash", SIGQUIT, "\x1c"},
                                           Interruption{"Sigterm", SIGTERM, nullptr},
                                           Interruption{"Sighup", SIGHUP, nullptr}),
                         ByName());

}  // namespace
