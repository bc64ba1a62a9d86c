#!/usr/bin/env python3
"""Checks that every repository path named in a comment or a document exists.

A file moved or renamed leaves its old name behind in comments, docs and
scripts; this finds such names. A path is a word of two or more parts joined
by '/' whose last part has a source or document suffix (or ends in '/' and
starts with a folder of the tree), as the tree's text names files: from the
root (src/modes/cbc_mode.hpp), as an include spelling (modes/cbc_mode.hpp,
cbc/aes_cbc.hpp, support/test_support.hpp) or beside the naming file
(child_process.hpp). '*' stands for any name. Paths of the build trees, the
system and other machines are not the tree's and are skipped.

    tools/check_paths.py    exit 0 if every named path exists, else list them
"""
import pathlib
import re
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
# Where a name written without its folder may start: the root, the include
# directories of the library, the tests and the fuzzer.
BASES = ["", "include", "src", "tests", "cmake"]
SUFFIXES = (".hpp", ".cpp", ".h", ".cmake", ".sh", ".py", ".md", ".txt", ".json", ".in", ".rsp",
            ".svg", ".bin", ".clang-tidy", ".clang-format")
PATH = re.compile(r"(?<![\w./$@{<-])((?:[\w.*-]+/)+[\w.*-]*)")
# Not the tree's own: build output, installed and system locations, URLs.
FOREIGN = re.compile(r"^(build|include/aes128|valgrind|usr|lib|etc|tmp|dev|proc|sys|bin|home|root|opt|var|"
                     r"[\w-]+\.(com|org|net|io)|x86_64-|i686-|aarch64-|arm-|s390x-)")
SKIPPED_FILES = re.compile(r"^(tests/vectors/|fuzz/corpus/|tests/selftest/expected_)|\.(svg|bin)$")


def exists(path: str, here: pathlib.Path) -> bool:
    for base in [here] + [ROOT / b for b in BASES]:
        if any(base.glob(path.rstrip("/"))) if "*" in path else (base / path).exists():
            return True
    return False


def named_paths(text: str):
    for number, line in enumerate(text.splitlines(), 1):
        for match in PATH.finditer(line):
            path = match.group(1).rstrip(".")
            last = path.rstrip("/").rsplit("/", 1)[-1]
            if "//" in path or FOREIGN.match(path) or path.startswith("."):
                continue
            is_file = last.endswith(SUFFIXES)
            is_folder = path.endswith("/") and (ROOT / path.split("/")[0]).is_dir()
            if is_file or is_folder:
                yield number, path


def main() -> int:
    files = subprocess.run(["git", "ls-files"], cwd=ROOT, check=True, capture_output=True,
                           text=True).stdout.split()
    missing = []
    for name in files:
        if SKIPPED_FILES.search(name):
            continue
        file = ROOT / name
        try:
            text = file.read_text(encoding="utf-8")
        except (UnicodeDecodeError, FileNotFoundError):
            continue
        for number, path in named_paths(text):
            if not exists(path, file.parent):
                missing.append(f"{name}:{number}: {path}")
    for line in missing:
        print(line)
    if missing:
        print(f"{len(missing)} named paths do not exist", file=sys.stderr)
        return 1
    print(f"every path named in {len(files)} files exists")
    return 0


if __name__ == "__main__":
    sys.exit(main())
