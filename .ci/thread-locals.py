#!/usr/bin/env python3
"""Fails on a thread_local object whose type may have a destructor.

The first use of such an object in a thread notes its destructor, which takes memory: without
any, the C library ends the process instead of letting the allocation fail. Threads keep such
objects through KThreadScratch (a thread slot) instead. The check is textual and errs on the
side of refusing: a type passes when it is a pointer, a built-in or fixed-size number, an array
of these, or a class type that the lines just above test with std::is_trivially_destructible
(a static_assert, or the `if constexpr` whose block the declaration opens).
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


def split_top(text, separators):
    """The text cut at each separator outside brackets."""
    parts, depth, start = [], 0, 0
    for i, c in enumerate(text):
        if c in "([{":
            depth += 1
        elif c in ")]}":
            depth = max(depth - 1, 0)
        elif c in separators and depth == 0:
            parts.append(text[start:i])
            start = i + 1
    return parts + [text[start:]]


def vouched(name, before):
    """The lines just above test the type with std::is_trivially_destructible: a static_assert,
    or the `if constexpr` whose block the declaration opens (not its negation, nor its else)."""
    test = r"(?:std::)?is_trivially_destructible(?:_v\s*<\s*{0}\s*>|\s*<\s*{0}\s*>\s*::\s*value)"
    test = test.format(re.escape(name))
    if re.search(r"static_assert\s*\(\s*" + test, before):
        return True
    lines = [line for line in before.split("\n") if line.strip()]
    return bool(lines) and re.fullmatch(r"\s*if\s+constexpr\s*\(\s*" + test + r"\s*\)\s*\{\s*",
                                         lines[-1]) is not None


def problem(declaration, before):
    """Why an object the declaration makes may have a destructor, or None."""
    bare = without_template_arguments(split_top(declaration, ";")[0])
    declarators = split_top(bare, ",")
    tokens = re.findall(r"[\w:]+|\S", declarators[0])
    tokens = [t for t in tokens if t not in QUALIFIERS]
    words = 0
    while words < len(tokens) and re.fullmatch(r"[\w:]+", tokens[words]):
        words += 1
    rest = tokens[words:]
    # `T name ...`: the last word is the name; `T *name`, `T (*name)()`: every word is the type.
    if rest and (rest[0] in "*&" or rest[:2] == ["(", "*"]):
        type_words, declarators[0] = tokens[:words], "".join(rest)
    else:
        type_words, declarators[0] = tokens[:words - 1], " ".join(tokens[words - 1:])
    if not type_words:
        return "no type found"
    if all(w.removeprefix("std::") in BUILT_IN for w in type_words):
        return None
    name = type_words[-1]
    if len(type_words) == 1 and vouched(name, before):
        return None
    for d in declarators:
        d = d.strip()
        if not (d.startswith("*") or d.replace(" ", "").startswith("(*")):
            return f"type {' '.join(type_words)} may have a destructor"
    return None  # pointers only: nothing to destroy


# Declarations the check must refuse (True) or pass (False), with the lines above them: it is
# tried on these first, so a change to it that lets one through fails at once.
CASES = (
    ("thread_local std::string s;", "", True),
    ("static thread_local Str s;", "using Str = std::string;", True),
    ("thread_local std::string s, *p;", "", True),
    ("thread_local std::string *p, s;", "", True),
    ("thread_local Box<std::string> s;", "", True),
    ("thread_local auto s = std::string();", "", True),
    ("thread_local const std::string& s = Make();", "", True),
    ("thread_local T s;", "if constexpr (!std::is_trivially_destructible<T>::value) {", True),
    ("thread_local T s;", "if constexpr (std::is_trivially_destructible<T>::value) {\n} else {",
     True),
    ("thread_local int a, b;", "", False),
    ("thread_local char path[4096];", "", False),
    ("thread_local std::string* p = nullptr;", "", False),
    ("thread_local std::vector<int>* p, *q;", "", False),
    ("thread_local void (*f)() = nullptr;", "", False),
    ("thread_local unsigned long long n = 0;", "", False),
    ("thread_local T s;", "static_assert(std::is_trivially_destructible_v<T>);", False),
    ("thread_local T s;", "if constexpr (std::is_trivially_destructible<T>::value) {", False),
)


def main():
    for declaration, before, refused in CASES:
        if bool(problem(declaration, before)) != refused:
            print(f"thread-locals.py: {'passes' if refused else 'refuses'} {declaration}")
            return 1
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
                while ";" not in declaration and k + 1 < min(len(lines), n + 20):
                    k += 1
                    declaration += " " + lines[k]
                # What the line says before it, from the statement's start (`static`, a type).
                start = re.split(r"[;{}]", line[: line.find("thread_local")])[-1]
                why = problem(start + declaration,
                              "\n".join(lines[max(0, n - 3):n]))
                if why:
                    failures.append(f"{path.relative_to(ROOT)}:{n + 1}: thread_local {why}")
    for f in failures:
        print(f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
