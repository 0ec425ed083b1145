#!/usr/bin/env bash
# Checks that includes point only downward: each top-level folder may include
# its own headers and those of the folders listed for it in the table below;
# anything else (an upward arrow, or a sideways one between folders that must
# stay independent) fails with one line per offending include.
#
# Usage: check-layering.sh [ROOT]   (ROOT: the source tree, by default this
# checkout). Exit 0 when clean, 1 on any offending include, 2 on misuse.
#
# What is read, in every C/C++ file of every top-level folder that holds
# some (and in every file those files include, whatever its extension):
#   - #include "..." and #include <...>, with any spacing, the %: spelling,
#     comments inside the directive and backslash-continued lines; also
#     #include_next, #import and C++20 header-unit imports;
#   - computed includes (#include MACRO): the header names written in the
#     macro's #defines anywhere in the tree are checked where they are written;
#     a computed include whose macro no checked file defines fails;
#   - text in comments and raw string literals is not read as directives.
# A target's folder is its first path component once a leading nxruntime/
# (the installed form) is stripped and "." and ".." are resolved; a quoted
# include found beside the including file belongs to that file's folder.
# A single-component target ("X.h", <vector>) is the file's own or a system
# header, except nxruntime.h and any other header at the top of the tree:
# those stand above the whole library. A target naming no folder of the tree
# (<gtest/gtest.h>, <cairo.h>) is left alone.
set -euo pipefail
root=${1:-"$(dirname "$0")/.."}
if [ $# -gt 1 ] || [ ! -d "$root" ]; then
  echo "usage: $0 [source-root]" >&2
  exit 2
fi
command -v python3 >/dev/null || { echo "layering: python3 is needed" >&2; exit 2; }

exec python3 - "$root" <<'PY'
import os
import re
import sys

root = os.path.realpath(sys.argv[1])

LIBRARY = ["runtime", "xml", "vector", "buffers", "streams", "algorithms",
           "infrastructure", "components", "processing", "drawing", "documents"]
TOP = "nxruntime.h"  # the umbrella header and anything else at the top of the tree
ANYTHING = None
# Folder -> the folders it may include besides itself.
ALLOWED = {
    "runtime": [],
    "xml": ["runtime"],
    "vector": ["runtime"],
    "buffers": ["runtime", "vector"],
    "streams": ["runtime", "vector", "buffers"],
    "algorithms": ["runtime", "vector", "buffers"],
    "infrastructure": ["runtime", "vector", "buffers", "streams", "xml"],
    "components": ["runtime", "vector", "buffers", "streams", "xml", "algorithms",
                   "infrastructure"],
    "processing": ["runtime", "vector", "buffers", "streams", "xml", "infrastructure",
                   "components"],
    "drawing": ["runtime", "vector", "buffers", "streams", "xml", "infrastructure"],
    "documents": ["runtime", "vector", "buffers", "streams", "xml", "infrastructure",
                  "components"],
    TOP: LIBRARY,
    # Above the library: the host, the component packages and the examples
    # build on the library alone, never on one another. The Python package
    # loads, edits and runs graph documents as the host does, through the
    # host's own loader and runner, so it may include the host.
    "nxflow": LIBRARY + [TOP],
    "packages": LIBRARY + [TOP],
    "examples": LIBRARY + [TOP],
    "python": LIBRARY + [TOP, "nxflow"],
    "tests": ANYTHING,
    "bench": ANYTHING,
    "fuzz": ANYTHING,
}
SKIPPED = {"out", ".git", "node_modules", "scripts", "docs", "cmake"}
SOURCE = re.compile(r"\.(h|hh|hpp|hxx|h\+\+|inc|inl|ipp|tcc|c|cc|cpp|cxx|c\+\+|ixx|cppm)$")
OUTSIDE = "(outside the tree)"

# Comments, raw strings, strings and character literals, in one pass so that
# each hides the others ('//' inside a string, '"' inside a comment...).
# A quote after a digit is a digit separator, not a character literal.
LEXEME = re.compile(r"""
    (?=[/"'uUL8R])
  (?:
    (?P<line>//[^\n]*)
  | (?P<block>/\*.*?\*/)
  | (?P<raw>(?<![\w])(?:u8|[uUL])?R"(?P<delim>[^()\\\s"]{0,16})\(.*?\)(?P=delim)")
  | "(?:\\.|[^"\\\n])*"
  | (?<![\w.])(?:u8|[uUL])?'(?:\\.|[^'\\\n])*'
  )
""", re.S | re.X)
DIRECTIVE = re.compile(r"^\s*(?:#|%:)\s*(include_next|include|import|define)\b\s*(.*)$")
DEFINE = re.compile(r"^(\w+)(\([^)]*\))?\s*(.*)$")
HEADER_UNIT = re.compile(r"^\s*(?:export\s+)?import\s*([\"<].*)$")
NAMED = re.compile(r"""^(?:"([^"]*)"|<([^>]*)>)""")
IDENT = re.compile(r"[A-Za-z_]\w*")
CONTINUED = re.compile(r"\\[ \t]*\n")


def blank(m):
    if m.group("line") is not None:
        return " "
    if m.group("block") is not None or m.group("raw") is not None:
        return " " + "\n" * m.group(0).count("\n")
    return m.group(0)


def logical_lines(path):
    """The file's lines as the preprocessor sees them, with the number of the
    physical line each starts on."""
    with open(path, "rb") as f:
        text = f.read().decode("latin-1").replace("\r\n", "\n")
    if CONTINUED.search(text):
        lines, starts, pending, start = [], [], None, 0
        for number, line in enumerate(text.split("\n"), 1):
            if pending is None:
                pending, start = "", number
            if line.rstrip(" \t").endswith("\\"):
                pending += line.rstrip(" \t")[:-1]
                continue
            lines.append(pending + line)
            starts.append(start)
            pending = None
        if pending is not None:
            lines.append(pending)
            starts.append(start)
        text = "\n".join(lines)
    else:
        starts = range(1, text.count("\n") + 2)
    return zip(starts, LEXEME.sub(blank, text).split("\n"))


def folder_of(rel):
    return rel.split("/", 1)[0] if "/" in rel else TOP


def inside(rel):
    return rel != ".." and not rel.startswith("../")


def resolve(src, target, quoted):
    """(folder, path inside the tree or None) of an include target, or
    (None, None) for a header from outside the project."""
    t = target.strip().replace("\\", "/")
    if not t:
        return None, None
    beside = os.path.normpath(os.path.join(os.path.dirname(src), t))
    rooted = os.path.normpath(t)
    if rooted == "nxruntime" or rooted.startswith("nxruntime/"):
        rooted = rooted[len("nxruntime/"):] or "."
    if quoted and inside(beside) and os.path.isfile(os.path.join(root, beside)):
        rel = beside
    elif quoted and (t.startswith("./") or ".." in t.split("/")):
        rel = beside
    else:
        rel = rooted
    if not inside(rel):
        return OUTSIDE, None
    full = os.path.join(root, rel)
    if os.path.exists(full):
        real = os.path.relpath(os.path.realpath(full), root)
        if not inside(real):
            return OUTSIDE, None
        rel = real
    path = rel if os.path.isfile(os.path.join(root, rel)) else None
    if "/" not in rel:
        if rel == TOP or path is not None:
            return TOP, path
        return None, None  # a system header, or one generated beside the file
    first = rel.split("/", 1)[0]
    if first in ALLOWED or os.path.isdir(os.path.join(root, first)):
        return first, path
    return None, None


def names_in(text):
    """Header names written in a macro's body or a computed include."""
    names = [(m.group(1), True) for m in re.finditer(r'"([^"]*)"', text)]
    text = re.sub(r'"[^"]*"', " ", text)
    names += [(m.group(1), False) for m in re.finditer(r"<([^<>\s]+)>", text)]
    names += [(w, True) for w in re.findall(r"[\w.+/-]+", text)
              if ("/" in w or "." in w) and re.search(r"[A-Za-z_]", w)]
    return names


problems = set()


def report(src, line, shown, folder):
    allowed = ALLOWED[folder]
    may = " ".join(allowed) if allowed else "nothing outside itself"
    problems.add((src, line, f"layering: {src}:{line} includes {shown} ({folder} may include: {may})"))


def check(src, line, target, quoted, shown):
    folder = folder_of(src)
    allowed = ALLOWED.get(folder, ANYTHING)
    if allowed is ANYTHING:
        return None
    to, path = resolve(src, target, quoted)
    if to is not None and to != folder and to not in allowed:
        report(src, line, shown, folder)
    return path


# The folders to read, and those that hold sources but have no row yet.
unlisted = []
pending = []
for name in sorted(os.listdir(root)):
    full = os.path.join(root, name)
    if os.path.isfile(full):
        if SOURCE.search(name):
            pending.append(name)
        continue
    if not os.path.isdir(full) or name in SKIPPED or name.startswith("build"):
        continue
    found = []
    for here, dirs, files in os.walk(full):
        dirs[:] = sorted(d for d in dirs if d != ".git")
        found += [os.path.relpath(os.path.join(here, f), root)
                  for f in sorted(files) if SOURCE.search(f)]
    if found and name not in ALLOWED:
        unlisted.append((name, found[0]))
    elif name in ALLOWED:
        pending += found

# Read every file, and every file of the tree that those include.
seen = set(pending)
computed = []  # (file, line, operand)
defines = {}   # name -> [(file, line, body)]
while pending:
    src = pending.pop()
    if ALLOWED.get(folder_of(src), ANYTHING) is ANYTHING:
        continue
    for line, text in logical_lines(os.path.join(root, src)):
        if "include" not in text and "import" not in text and "define" not in text:
            continue
        d = DIRECTIVE.match(text)
        if d:
            kind, rest = d.group(1), d.group(2).strip()
        else:
            unit = HEADER_UNIT.match(text)
            if not unit:
                continue
            kind, rest = "import", unit.group(1)
        if kind == "define":
            m = DEFINE.match(rest)
            if m:
                defines.setdefault(m.group(1), []).append((src, line, m.group(3)))
            continue
        named = NAMED.match(rest)
        if not named:
            computed.append((src, line, rest))
            continue
        quoted = named.group(1) is not None
        target = named.group(1) if quoted else named.group(2)
        path = check(src, line, target, quoted, named.group(0))
        if path and path not in seen:
            seen.add(path)
            pending.append(path)

# Computed includes: follow their macros through the #defines of the tree.
wanted, queue = set(), [w for _, _, rest in computed for w in IDENT.findall(rest)]
while queue:
    name = queue.pop()
    if name in wanted or name not in defines:
        continue
    wanted.add(name)
    for _, _, body in defines[name]:
        queue += IDENT.findall(body)
for name in sorted(wanted):
    for src, line, body in defines[name]:
        for target, quoted in names_in(body):
            check(src, line, target, quoted, f"{target} (through {name})")
for src, line, rest in computed:
    for target, quoted in names_in(rest):
        check(src, line, target, quoted, rest)
    if not any(w in wanted for w in IDENT.findall(rest)) and not names_in(rest):
        folder = folder_of(src)
        if ALLOWED.get(folder, ANYTHING) is not ANYTHING:
            report(src, line, f"{rest} (a macro that no checked file defines)", folder)

for name, example in unlisted:
    print(f"layering: {name}/ holds C/C++ sources ({example}) but is not in the layering "
          f"table; add it to the table in scripts/check-layering.sh with the folders it may include")
for _, _, message in sorted(problems):
    print(message)
if problems or unlisted:
    sys.exit(1)
print("layering: every include points downward")
PY
