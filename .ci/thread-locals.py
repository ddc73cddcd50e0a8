#!/usr/bin/env python3
"""Fails on a thread_local object whose type may have a destructor.

The first use of such an object in a thread notes its destructor, which takes memory: without
any, the C library ends the process instead of letting the allocation fail. Threads keep such
objects through KThreadScratch (a thread slot) instead. The check is textual and errs on the
side of refusing: a type passes when it is a pointer, a built-in or fixed-size number, an array
of these, a type named in TRIVIAL below, or a type that the lines just above test with
std::is_trivially_destructible.
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
FOLDERS = ("src", "tools", "tests", "bench", "fuzz")
BUILT_IN = {
    "bool", "char", "signed", "unsigned", "short", "int", "long", "float", "double", "wchar_t",
    "char16_t", "char32_t", "size_t", "ssize_t", "ptrdiff_t", "intptr_t", "uintptr_t",
    "int8_t", "int16_t", "int32_t", "int64_t", "uint8_t", "uint16_t", "uint32_t", "uint64_t",
}
# Class types of this tree known to be trivially destructible (plain numbers inside).
TRIVIAL = {"InjectedFault"}
QUALIFIERS = {"static", "extern", "inline", "const", "constexpr", "volatile", "thread_local"}


def strip(text):
    """The code without comments and string or character literals, lines kept."""
    text = re.sub(r"/\*.*?\*/", lambda m: "\n" * m.group(0).count("\n"), text, flags=re.S)
    text = re.sub(r'"(?:\\.|[^"\\\n])*"' + r"|'(?:\\.|[^'\\\n])*'", '""', text)
    return re.sub(r"//[^\n]*", "", text)


def without_template_arguments(text):
    out, depth = [], 0
    for c in text:
        if c == "<":
            depth += 1
        elif c == ">":
            depth = max(depth - 1, 0)
        elif depth == 0:
            out.append(c)
    return "".join(out)


def problem(declaration, before):
    """Why the declaration's type may have a destructor, or None."""
    # The declarator ends at its initialiser or array bounds.
    head = re.split(r"[=;{(\[]", declaration, maxsplit=1)[0]
    bare = without_template_arguments(head)
    if "*" in bare:
        return None  # a pointer: nothing to destroy
    words = [w for w in re.findall(r"[\w:]+", bare) if w not in QUALIFIERS]
    if len(words) < 2:
        return "no type found"
    type_words = words[:-1]
    if all(w.removeprefix("std::") in BUILT_IN for w in type_words):
        return None
    name = type_words[-1]
    if len(type_words) == 1 and name in TRIVIAL:
        return None
    if re.search(r"is_trivially_destructible\s*<\s*" + re.escape(name) + r"\s*>", before):
        return None
    return f"type {' '.join(type_words)} may have a destructor"


def main():
    failures = []
    for folder in FOLDERS:
        for path in sorted((ROOT / folder).rglob("*")):
            if path.suffix not in (".h", ".cpp", ".cc"):
                continue
            lines = strip(path.read_text(errors="replace")).split("\n")
            for n, line in enumerate(lines):
                if not re.search(r"\bthread_local\b", line):
                    continue
                # The declaration may go on over the next lines.
                declaration = line[re.search(r"\bthread_local\b", line).start():]
                k = n
                while not re.search(r"[=;{]", declaration) and k + 1 < len(lines):
                    k += 1
                    declaration += " " + lines[k]
                why = problem(line[: line.find("thread_local")] + declaration,
                              "\n".join(lines[max(0, n - 3):n]))
                if why:
                    failures.append(f"{path.relative_to(ROOT)}:{n + 1}: thread_local {why}")
    for f in failures:
        print(f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
