// Running example4 as a child process for the POSIX tests: start it with its
// surroundings prepared, wait for it with a time limit, and describe what
// went wrong in hex.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>

namespace child_process {

// The program under test and its expected output, passed by the test runner.
inline std::string environmentPath(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}
inline std::string example4Path() {
  return environmentPath("EXAMPLE4");
}
inline std::string expectedOutput() {
  std::ifstream file(environmentPath("EXAMPLE4_EXPECTED_OUTPUT"), std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The locale example4 runs under unless a test sets another: a UTF-8 one,
// in which only a terminal gets anything but the CP949 bytes.
inline const char* const defaultLocale = "C.UTF-8";

// Forks, runs `prepare` in the child (to set up its descriptors, signal
// dispositions and locale), then executes example4. Exit status 127 if exec
// fails.
inline pid_t start(const std::function<void()>& prepare) {
  const std::string program = example4Path();
  if (program.empty()) {
    ADD_FAILURE() << "EXAMPLE4 must name the program under test";
    return -1;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("LC_ALL", defaultLocale, 1);
    prepare();
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid;
}

// The wait status, or nothing if the child has not ended within `limit`; it
// is then killed so that no test leaves it behind.
inline std::optional<int> waitForEnd(pid_t pid, std::chrono::milliseconds limit) {
  if (pid <= 0) {
    return std::nullopt;
  }
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) {
      return status;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return std::nullopt;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

inline bool stillRunning(pid_t pid) {
  int status = 0;
  return waitpid(pid, &status, WNOHANG) == 0;
}

inline std::string describeStatus(int status) {
  if (WIFEXITED(status)) {
    return "exited with status " + std::to_string(WEXITSTATUS(status));
  }
  if (WIFSIGNALED(status)) {
    return "killed by signal " + std::to_string(WTERMSIG(status));
  }
  return "wait status " + std::to_string(status);
}

inline std::string toHex(const std::string& bytes) {
  std::string hex;
  for (const char c : bytes) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(c));
    hex += pair;
  }
  return hex;
}

// Expected, produced and their byte-wise XOR (over the longer length, a
// missing byte counting as zero) in hex, for failure messages.
inline std::string hexComparison(const std::string& expected, const std::string& produced) {
  std::string difference;
  for (std::size_t i = 0; i < std::max(expected.size(), produced.size()); ++i) {
    const char e = i < expected.size() ? expected[i] : '\0';
    const char p = i < produced.size() ? produced[i] : '\0';
    difference += static_cast<char>(e ^ p);
  }
  return "\n  expected: " + toHex(expected) + "\n  produced: " + toHex(produced) +
         "\n  xor:      " + toHex(difference);
}

}  // namespace child_process
