// example4 in bad surroundings: standard input at end, closed or a file;
// standard output closed, full, or a pipe whose reader has gone. Each run must
// end at once with the right status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>

#include "child_process.hpp"

namespace {

using child_process::describeStatus;
using child_process::hexComparison;

// A run that has nothing to wait for ends well within this.
constexpr std::chrono::milliseconds endsAtOnce{5000};

// A temporary file holding `content`, open for reading at offset 0.
class InputFile {
 public:
  explicit InputFile(const std::string& content) {
    char path[] = "/tmp/example4-stdin-XXXXXX";
    fd_ = mkstemp(path);
    unlink(path);
    if (fd_ >= 0) {
      static_cast<void>(write(fd_, content.data(), content.size()));
      lseek(fd_, 0, SEEK_SET);
    }
  }
  ~InputFile() { close(fd_); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// Moves descriptor `from` to `to` (they can coincide when descriptors were
// closed in the test runner's own surroundings).
void redirect(int from, int to) {
  if (from != to) {
    dup2(from, to);
    close(from);
  }
}

// Runs example4 with standard output into a pipe read here, after `prepare`
// has set up standard input; returns the output and the wait status.
struct Run {
  std::string output;
  std::optional<int> status;
};
Run runWithOutputPipe(const std::function<void()>& prepareInput) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) {
    return {};
  }
  const pid_t pid = child_process::start([&] {
    close(pipeEnds[0]);
    redirect(pipeEnds[1], STDOUT_FILENO);
    prepareInput();
  });
  close(pipeEnds[1]);
  Run run;
  char buffer[256];
  ssize_t count = 0;
  while ((count = read(pipeEnds[0], buffer, sizeof buffer)) > 0) {
    run.output.append(buffer, static_cast<std::size_t>(count));
  }
  close(pipeEnds[0]);
  run.status = child_process::waitForEnd(pid, endsAtOnce);
  return run;
}

void expectSuccessfulRun(const Run& run) {
  ASSERT_TRUE(run.status.has_value()) << "still waiting after " << endsAtOnce.count() << " ms";
  EXPECT_TRUE(WIFEXITED(*run.status) && WEXITSTATUS(*run.status) == 0)
      << describeStatus(*run.status);
  const std::string expected = child_process::expectedOutput();
  EXPECT_EQ(expected, run.output) << hexComparison(expected, run.output);
}

TEST(Example4Input, EndOfInputEndsThePauseAtOnce) {
  expectSuccessfulRun(
      runWithOutputPipe([] { redirect(open("/dev/null", O_RDONLY), STDIN_FILENO); }));
}

TEST(Example4Input, ClosedInputEndsThePauseAtOnce) {
  expectSuccessfulRun(runWithOutputPipe([] { close(STDIN_FILENO); }));
}

// The pause takes exactly one byte: the rest stays for whoever reads next.
TEST(Example4Input, FileInputGivesUpOneByte) {
  const InputFile input("xy");
  ASSERT_GE(input.fd(), 0);
  expectSuccessfulRun(runWithOutputPipe([&] { dup2(input.fd(), STDIN_FILENO); }));
  EXPECT_EQ(1, lseek(input.fd(), 0, SEEK_CUR));
}

// Runs example4 with standard input at its end and `prepareOutput` setting up
// standard output; returns the wait status, or nothing if it did not end.
std::optional<int> runWithOutput(const std::function<void()>& prepareOutput) {
  const pid_t pid = child_process::start([&] {
    redirect(open("/dev/null", O_RDONLY), STDIN_FILENO);
    prepareOutput();
  });
  return child_process::waitForEnd(pid, endsAtOnce);
}

void expectFailureStatus(const std::optional<int>& status) {
  ASSERT_TRUE(status.has_value()) << "still running after " << endsAtOnce.count() << " ms";
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == EXIT_FAILURE)
      << describeStatus(*status);
}

TEST(Example4Output, ClosedOutputFails) {
  expectFailureStatus(runWithOutput([] { close(STDOUT_FILENO); }));
}

TEST(Example4Output, FullDeviceFails) {
  expectFailureStatus(runWithOutput([] { redirect(open("/dev/full", O_WRONLY), STDOUT_FILENO); }));
}

// Output into a pipe nobody reads: with the default disposition SIGPIPE ends
// the run like any other console program; with SIGPIPE ignored the failed
// write gives status 1. Either way it does not wait for a key.
std::optional<int> runIntoAbandonedPipe(void (*sigpipeDisposition)(int)) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) {
    return std::nullopt;
  }
  close(pipeEnds[0]);
  const std::optional<int> status = runWithOutput([&] {
    signal(SIGPIPE, sigpipeDisposition);
    redirect(pipeEnds[1], STDOUT_FILENO);
  });
  close(pipeEnds[1]);
  return status;
}

TEST(Example4Output, AbandonedPipeEndsBySigpipe) {
  const std::optional<int> status = runIntoAbandonedPipe(SIG_DFL);
  ASSERT_TRUE(status.has_value()) << "still running after " << endsAtOnce.count() << " ms";
  EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGPIPE) << describeStatus(*status);
}

TEST(Example4Output, AbandonedPipeWithSigpipeIgnoredFails) {
  expectFailureStatus(runIntoAbandonedPipe(SIG_IGN));
}

}  // namespace
