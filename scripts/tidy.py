#!/usr/bin/env python3
"""Runs clang-tidy with the repository's .clang-tidy over the sources of a configured build.

    scripts/tidy.py [-p BUILD_DIR] [REGEX...]

Each source of BUILD_DIR/compile_commands.json whose path matches one of the regular expressions
(default: everything under src, tests, tools and bench) is checked, one per core at a time. A
source found clean is remembered by what clang-tidy read: its whole preprocessed text with every
comment kept (so its headers and NOLINT marks too), its compile command, the configuration and
clang-tidy's version. A source whose record is there is not checked again: its answer could not
differ. The records are empty files under PELK_TIDY_CACHE (default ~/.cache/pelk-tidy); a source
with findings is never recorded. Exits 1 when any source has findings, after printing them.
"""
import concurrent.futures
import hashlib
import json
import os
import re
import shlex
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# The compiler's default standard is C++17, so CMake writes no -std into the compile commands;
# clang's default is older, and would misread every std::optional.
STANDARD = "-extra-arg=-std=c++17"


def compile_arguments(entry):
    arguments = entry.get("arguments") or shlex.split(entry["command"])
    # A compiler cache in front of the compiler is no part of what is compiled.
    if os.path.basename(arguments[0]) == "ccache":
        arguments = arguments[1:]
    return arguments


def preprocessed(entry):
    """The text the compiler reads for entry's source, comments kept; None if it cannot be made."""
    arguments = compile_arguments(entry)
    command = [arguments[0]]
    skip = False
    for argument in arguments[1:]:
        if skip:
            skip = False
        elif argument == "-o":
            skip = True
        elif argument == "-c":
            command += ["-E", "-C"]
        elif not argument.startswith(("-MD", "-MF", "-MT", "-MQ")) and not argument.endswith(".d"):
            command.append(argument)
    result = subprocess.run(command, cwd=entry["directory"], capture_output=True)
    return result.stdout if result.returncode == 0 else None


def check(entry, build, salt, cache):
    source = entry["file"]
    text = preprocessed(entry)
    key = None
    if text is not None:
        digest = hashlib.sha256(salt)
        digest.update(" ".join(compile_arguments(entry)).encode())
        digest.update(text)
        key = os.path.join(cache, digest.hexdigest())
        if os.path.exists(key):
            return source, True, "", True
    result = subprocess.run(["clang-tidy", "--quiet", STANDARD, "-p", build, source],
                            capture_output=True, text=True)
    output = result.stdout + result.stderr
    clean = result.returncode == 0 and not re.search(r"\b(warning|error):", output)
    if clean and key:
        os.makedirs(cache, exist_ok=True)
        open(key, "w").close()
    return source, clean, output, False


def main():
    arguments = sys.argv[1:]
    build = "build"
    if arguments[:1] == ["-p"]:
        build = arguments[1]
        arguments = arguments[2:]
    database = os.path.join(build, "compile_commands.json")
    if not os.path.isfile(database):
        print(f"No {database}: configure the build first (see README).", file=sys.stderr)
        return 2
    patterns = [re.compile(p) for p in (arguments or [ROOT + "/(src|tests|tools|bench)/"])]
    with open(database) as file:
        entries = [e for e in json.load(file) if any(p.search(e["file"]) for p in patterns)]
    with open(os.path.join(ROOT, ".clang-tidy"), "rb") as file:
        salt = file.read()
    salt += subprocess.run(["clang-tidy", "--version"], capture_output=True).stdout
    cache = os.environ.get("PELK_TIDY_CACHE") or os.path.expanduser("~/.cache/pelk-tidy")
    build = os.path.abspath(build)
    failed = 0
    remembered = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        for source, clean, output, known in pool.map(lambda e: check(e, build, salt, cache), entries):
            remembered += known
            if not clean:
                failed += 1
                print(f"clang-tidy: {source}\n{output}", flush=True)
    print(f"clang-tidy: {len(entries)} sources, {remembered} of them known clean, {failed} with findings")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
