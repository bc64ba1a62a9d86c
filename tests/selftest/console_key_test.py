#!/usr/bin/env python3
"""example4 on a real Windows console: its labels and its key wait.

Runs the command given (Wine and example4.exe) on a pseudo-terminal, where
Wine gives the program a console, so that its pause reads the key with
_getch. For each case it checks that the four Korean labels are shown as
text, that the prompt is shown before the wait, that the program is still
waiting a second later, and how it ends after the keys of the case. Wine's
console draws the screen with escape sequences and turns the UTF-16 it is
given into the terminal's character set, here UTF-8; the text is compared
with the escape sequences removed.

  console_key_test.py COMMAND [ARG...]
"""
import os
import pty
import re
import select
import sys
import time

# Wine's console moves the cursor over blanks instead of writing them, so
# text is compared without white space.
PROMPT = b"Pressanykeytocontinue..."
LABELS = ["원문", "암호화", "암호문", "복호화"]
ESCAPES = re.compile(
    rb"\x1b\[[0-9;?>=!]*[ -/]*[@-~]|\x1b\][^\x07\x1b]*(?:\x07|\x1b\\)|\x1b[()#][0-9A-Za-z]|\x1b[=>78DEHMNOZc]"
)
START_SECONDS = 180  # a first Wine start in an emulated machine is slow
END_SECONDS = 60

# (name, whether the program runs twice in one console, the keys pressed at
# each prompt, whether the exit status must be 0, text that must not be seen
# after the first prompt)
CASES = [
    ("letter", False, [b"x"], True, b"x"),
    # The terminal's ESC [ A reaches the program as one key event, which
    # _getch returns as 0xE0 and the scan code: one keypress, nothing echoed,
    # and nothing left in the console, so that a second copy of the program
    # in the same console still waits for a key of its own.
    ("arrow key, then a second run", True, [b"\x1b[A", b"x"], True, b"[A"),
    # Ctrl-C ends the program through the console's handler, not by a key.
    ("Ctrl-C", False, [b"\x03"], False, b"^C"),
]


def twice(command):
    """The command, with its program (the last argument) run twice in one
    console by cmd.exe, which takes the Windows form of the path."""
    program = "Z:" + command[-1].replace("/", "\\")
    return command[:-1] + ["cmd.exe", "/c", f"{program} & {program}"]


def text(raw):
    return re.sub(rb"\s+", b"", ESCAPES.sub(b"", raw))


def read_until(fd, pid, done, seconds):
    """Reads the terminal until done(output) or the time is up; returns the
    output and the exit status if the program ended meanwhile."""
    output = b""
    deadline = time.monotonic() + seconds
    status = None
    closed = False
    while time.monotonic() < deadline and not done(output):
        if not closed and select.select([fd], [], [], 0.1)[0]:
            try:
                chunk = os.read(fd, 4096)
            except OSError:  # the program's side of the terminal is gone
                chunk = b""
            output += chunk
            closed = not chunk
        elif closed:
            time.sleep(0.1)
        if status is None:
            ended, code = os.waitpid(pid, os.WNOHANG)
            if ended:
                status = os.waitstatus_to_exitcode(code)
        if status is not None and closed:
            break
    return output, status


def run_case(command, name, run_twice, presses, must_succeed, unseen):
    os.environ.setdefault("TERM", "xterm")
    # The terminal's character set, which Wine takes from the locale.
    os.environ["LC_ALL"] = "C.UTF-8"
    if run_twice:
        command = twice(command)
    pid, fd = pty.fork()
    if pid == 0:
        os.execvp(command[0], command)
    problems = []
    output = b""
    status = None
    first_prompt_at = None
    for number, keys in enumerate(presses, start=1):
        def prompted(out, count=number):
            return text(output + out).count(PROMPT) >= count

        more, status = read_until(fd, pid, prompted, START_SECONDS)
        output += more
        if not prompted(b""):
            problems.append(f"no prompt {number} within {START_SECONDS} s (status {status})")
            break
        if status is not None:
            problems.append(f"ended without waiting at prompt {number} (status {status})")
            break
        more, status = read_until(fd, pid, lambda out: False, 1.0)
        output += more
        if status is not None:
            problems.append(f"stopped waiting by itself at prompt {number} (status {status})")
            break
        if first_prompt_at is None:
            first_prompt_at = len(text(output))
            shown = text(output).decode("utf-8", "replace")
            missing = [label for label in LABELS if label not in shown]
            if missing:
                problems.append(f"labels not shown as text: {', '.join(missing)}")
        os.write(fd, keys)
    if not problems:
        more, status = read_until(fd, pid, lambda out: False, END_SECONDS)
        output += more
        if status is None:
            os.kill(pid, 9)
            os.waitpid(pid, 0)
            problems.append(f"still running {END_SECONDS} s after the keys")
        elif must_succeed and status != 0:
            problems.append(f"exit status {status} after the keys, expected 0")
        after = text(output)[first_prompt_at:]
        if unseen in after:
            problems.append(f"{unseen!r} appeared after the keys: {after!r}")
    os.close(fd)
    verdict = "ok" if not problems else "FAILED: " + "; ".join(problems)
    print(f"{name}: {verdict} (status {status})")
    print("  screen:", text(output).decode("utf-8", "replace"))
    return not problems


def main():
    if len(sys.argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    results = [run_case(sys.argv[1:], *case) for case in CASES]
    print(f"{sum(results)} passed, {len(results) - sum(results)} failed")
    return 0 if all(results) else 1


if __name__ == "__main__":
    sys.exit(main())
