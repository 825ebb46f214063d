#!/usr/bin/env python3
"""Lists the functions of C++ sources longer than a number of lines.

    tools/long_functions.py [--limit N] [--except FILE]... PATH...

PATH is a file or a folder (searched for .cpp and .h). A function is counted from its opening
brace to its closing brace, both lines included, the way the code is laid out here (.clang-format):
a function's body opens with a "{" alone on its line, where blocks of statements, classes and
namespaces open theirs at the end of a line. Lambdas count towards the function they are in.

Prints "path:line: name is N lines" for each function over the limit (default 100), longest
first, and exits 1 if there is one, 0 if none.
"""

import argparse
import pathlib
import re
import sys

NAME = re.compile(r"([A-Za-z_~][A-Za-z_0-9:<>~]*(?:operator\s*\S+)?)\s*\(")


def strip_code(line, in_comment):
    """The line without comments, string and character literals; whether a /* */ comment goes on."""
    out = []
    i = 0
    while i < len(line):
        if in_comment:
            end = line.find("*/", i)
            if end < 0:
                return "".join(out), True
            i = end + 2
            in_comment = False
        elif line.startswith("//", i):
            break
        elif line.startswith("/*", i):
            in_comment = True
            i += 2
        elif line[i] in "\"'":
            quote = line[i]
            i += 1
            while i < len(line) and line[i] != quote:
                i += 2 if line[i] == "\\" else 1
            i += 1
            out.append(quote + quote)
        else:
            out.append(line[i])
            i += 1
    return "".join(out), in_comment


def function_name(lines, brace_index):
    """The name of the function whose signature ends just above its opening brace."""
    for index in range(brace_index - 1, max(-1, brace_index - 8), -1):
        for match in NAME.finditer(lines[index]):
            name = match.group(1)
            if name not in ("if", "for", "while", "switch", "return", "sizeof", "decltype", "noexcept"):
                return name
    return "(unnamed)"


def long_functions(path, limit):
    raw = path.read_text(encoding="utf-8", errors="replace").splitlines()
    code = []
    in_comment = False
    for line in raw:
        text, in_comment = strip_code(line, in_comment)
        code.append(text)
    found = []
    index = 0
    while index < len(code):
        if code[index].strip() == "{":
            depth = 0
            end = index
            while end < len(code):
                depth += code[end].count("{") - code[end].count("}")
                if depth <= 0:
                    break
                end += 1
            length = end - index + 1
            if length > limit:
                found.append((length, str(path), index + 1, function_name(code, index)))
            index = end + 1
        else:
            index += 1
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--limit", type=int, default=100)
    parser.add_argument("--except", dest="excepted", action="append", default=[],
                        help="a file left out (a path ending)")
    parser.add_argument("paths", nargs="+", type=pathlib.Path)
    arguments = parser.parse_args()
    files = []
    for path in arguments.paths:
        if path.is_dir():
            files += sorted(p for p in path.rglob("*") if p.suffix in (".cpp", ".h"))
        else:
            files.append(path)
    found = []
    for path in files:
        if any(str(path).endswith(excepted) for excepted in arguments.excepted):
            continue
        found += long_functions(path, arguments.limit)
    for length, path, line, name in sorted(found, reverse=True):
        print(f"{path}:{line}: {name} is {length} lines")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
