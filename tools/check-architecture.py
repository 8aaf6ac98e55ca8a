#!/usr/bin/env python3
"""Checks that docs/ARCHITECTURE.md names only what exists.

Every backticked file path or pattern must match a file or folder: a name
with a folder part or an extension (`zip/korbel.cpp`, `codec/codec.h`,
`archive_base.*`, `crypt/aes*`), or a bare lowercase file stem
(`path_strings`, `ppmd_*`). A relative name is tried against the folder of
the last path named before it in the same paragraph, list item or table row,
then against the folder of its section (`## zip/`), then against the root.
Every backticked code name (`EngineFault`, `Korbel::ExtractTargetPath`,
`platform::TargetFolder`, `kNoTime`) must occur as a word in the sources.
Every source file under zip/ must be named on the map, by its path, a pattern
or its stem.

Usage: check-architecture.py [ROOT]   (default: the checkout this file is in)
Exit status 0 when all is found, 1 with one line per missing name.
"""
import fnmatch
import os
import re
import sys

# Backticked words that are neither files nor code names, each with why.
EXCEPTIONS = {
    "x": "a korbel command letter",
    "t": "a korbel command letter",
    "unzip": "an independent tool the tests run",
    "7zz": "an independent tool the tests run",
}

TOP_FOLDERS = ("app/", "zip/", "fs/", "platform/", "tools/", "tests/", "bench/", "fuzz/", "docs/", "cmake/")
SOURCE_SUFFIXES = (".cpp", ".h", ".rc")


def source_files(root):
    found = []
    for folder in ("app", "zip", "fs", "platform", "tools", "tests", "bench", "fuzz"):
        for base, dirs, files in os.walk(os.path.join(root, folder)):
            dirs[:] = [d for d in dirs if d != "corpus"]
            found += [os.path.relpath(os.path.join(base, f), root).replace(os.sep, "/") for f in files]
    found += [f for f in os.listdir(root) if os.path.isfile(os.path.join(root, f))]
    return sorted(found)


def blocks(text):
    """(section folder, block text) for each paragraph, list item and table row."""
    section = ""
    current = []
    in_fence = False
    for line in text.splitlines() + [""]:
        if line.startswith("```"):
            in_fence = not in_fence
            continue
        if in_fence:
            continue
        heading = re.match(r"^#+\s+(.*)$", line)
        starts_item = re.match(r"^\s*(\d+\.|[-*])\s", line) or line.startswith("|")
        if heading or not line.strip() or starts_item:
            if current:
                yield section, " ".join(current)
            current = []
        if heading:
            title = heading.group(1).strip()
            section = title if title.endswith("/") else ""
            continue
        if line.strip():
            current.append(line.strip())


# What each layer of the engine may include besides itself: only the layers
# below it, so that the map's arrows hold in the code too.
LAYERS = {
    "zip/format/": ("platform/", "fs/"),
    "zip/table/": ("platform/", "fs/", "zip/format/"),
}


def wrong_arrows(root, files):
    """Includes of a layer that reach above it."""
    found = []
    for f in files:
        for layer, below in LAYERS.items():
            if not f.startswith(layer) or not f.endswith(SOURCE_SUFFIXES):
                continue
            with open(os.path.join(root, f), encoding="utf-8", errors="replace") as handle:
                for included in re.findall(r'^#include "([^"]+)"', handle.read(), re.M):
                    if not included.startswith((layer,) + below):
                        found.append(f"{f} includes {included}, above its layer")
    return found


def cmake_targets(root, files):
    targets = set()
    for f in files:
        if f.endswith("CMakeLists.txt"):
            with open(os.path.join(root, f), encoding="utf-8") as handle:
                targets.update(re.findall(r"(?:pakkaro_library|add_library|add_executable)\((\w+)", handle.read()))
    return targets


def is_path(token):
    return "/" in token or token.startswith(".") or re.search(r"\.(\*|[a-z]{1,3})$", token) is not None


def is_stem(token):
    return re.fullmatch(r"[a-z][a-z0-9_]*\*?", token) is not None


def is_code_name(token):
    return re.fullmatch(r"(\w+::)*\w+(\(\))?", token) is not None and re.search(r"[A-Z]", token) is not None


def matches(files, folders, pattern):
    if pattern.endswith("/"):
        return pattern[:-1] in folders
    return any(fnmatch.fnmatchcase(f, pattern) for f in files) or pattern in folders


def resolve(files, folders, token, context, section):
    """The pattern the token names, or None when nothing matches."""
    last = token.rsplit("/", 1)[-1]
    # A name without an extension is a folder or a file stem (`fs/path_kind`).
    patterns = [token] if ("." in last or "*" in last or not last) else [token, token + ".*"]
    for pattern in patterns:
        candidates = [pattern] if pattern.startswith(TOP_FOLDERS) else [context + pattern, section + pattern, pattern]
        for candidate in candidates:
            if matches(files, folders, candidate):
                return candidate
    return None


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
    doc = os.path.join(root, "docs", "ARCHITECTURE.md")
    with open(doc, encoding="utf-8") as handle:
        text = handle.read()
    files = source_files(root)
    folders = {f.rsplit("/", i)[0] for f in files for i in range(1, f.count("/") + 1)}
    words = set()
    for f in files:
        if f.endswith(SOURCE_SUFFIXES + (".txt",)):
            with open(os.path.join(root, f), encoding="utf-8", errors="replace") as handle:
                words.update(re.findall(r"\w+", handle.read()))

    targets = cmake_targets(root, files)
    missing = wrong_arrows(root, files)
    named = []
    for section, block in blocks(text):
        context = section
        for token in re.findall(r"`([^`]+)`", block):
            if token in EXCEPTIONS or token in targets or " " in token or token.startswith("-"):
                continue
            if is_path(token) or is_stem(token):
                found = resolve(files, folders, token, context, section)
                if found is None:
                    missing.append(f"file not found: `{token}` (section {section or 'top'})")
                    continue
                named.append(found)
                if found.endswith("/"):
                    context = found
                elif "/" in found:
                    context = found.rsplit("/", 1)[0] + "/"
            elif is_code_name(token):
                parts = re.findall(r"\w+", token)
                absent = [p for p in parts if p not in words]
                if absent:
                    missing.append(f"code name not in the sources: `{token}` ({', '.join(absent)})")
            else:
                missing.append(f"neither a file nor a code name: `{token}`")

    # The engine's files are all on the map.
    for f in files:
        if f.startswith("zip/") and f.endswith(SOURCE_SUFFIXES):
            if not any(fnmatch.fnmatchcase(f, pattern) for pattern in named):
                missing.append(f"not on the map: {f}")

    for line in missing:
        print(f"ARCHITECTURE.md: {line}")
    if missing:
        return 1
    print(f"ARCHITECTURE.md: {len(named)} file names and patterns found, every zip/ file on the map")
    return 0


if __name__ == "__main__":
    sys.exit(main())
