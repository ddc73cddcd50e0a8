#!/usr/bin/env python3
"""Fails when two library or tool files of one folder define the same file-local name.

The library compiles one unit per source folder, each tool one unit: two files' unnamed-namespace or static names
then either clash or quietly join one overload set. A using-directive outside a function reaches
the folder's later files. Reads the sources as clang-format lays them out: an unnamed namespace
opens with `namespace {` and closes with `}  // namespace` at the start of a line.
"""
import collections
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent / "src"
TOOLS = ROOT.parent / "tools"
# A declaration at the start of a line: the name before `(`, `[`, ` =`, `{` or `;`.
DECLARED = re.compile(
    r"^(?:template\s*<[^;{]*>\s*)?(?:(?:static|inline|constexpr|const|extern|thread_local)\s+)*"
    r"(?:(?:struct|class|union|enum(?:\s+class)?)\s+(?P<type>\w+)"
    r"|using\s+(?P<alias>\w+)\s*="
    r"|[\w:<>,\s*&]*?[\s*&](?P<name>\w+)\s*(?:\(|\[|=|\{|;))")


def local_names(text):
    names = set()
    depth = None  # brace depth inside the unnamed namespace, None outside it
    for line in text.split("\n"):
        if line.startswith("namespace {"):
            depth = 0
            continue
        if depth is not None and depth == 0 and line.startswith("}  // namespace"):
            depth = None
            continue
        code = re.sub(r'"(?:\\.|[^"\\])*"|//.*', "", line)
        at_top = (depth == 0) if depth is not None else line.startswith("static ")
        if at_top and line[:1] not in (" ", "}", "#", "/", "") and not line.startswith("using namespace"):
            m = DECLARED.match(code)
            if m:
                name = m.group("type") or m.group("alias") or m.group("name")
                if name and name not in ("operator", "struct", "class", "union", "enum", "namespace"):
                    names.add(name)
        if depth is not None:
            depth += code.count("{") - code.count("}")
    return names


def main():
    failures = []
    folders = collections.defaultdict(list)
    for path in sorted(ROOT.rglob("*.cpp")) + sorted(TOOLS.rglob("*.cpp")):
        folders[path.parent].append(path)
    for folder, files in folders.items():
        owners = collections.defaultdict(list)
        for path in files:
            text = path.read_text()
            for name in local_names(text):
                owners[name].append(path.name)
            for n, line in enumerate(text.split("\n"), 1):
                if re.match(r"using\s+(?:namespace\b|[\w:]+::\w+\s*;)", line):
                    failures.append(f"{path.relative_to(ROOT.parent)}:{n}: {line.strip()}")
        for name, where in sorted(owners.items()):
            if len(where) > 1:
                rel = folder.relative_to(ROOT.parent)
                failures.append(f"{rel}: {name} is local to {', '.join(where)}")
    for f in failures:
        print(f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
