#!/usr/bin/env python3
"""Checks the layering of the code under src/ and tools/.

Every source file belongs to the target whose add_library/add_executable lists it. The check
fails when
  - a file of src/ or tools/ belongs to no target;
  - a file includes (with quotes) a file of another target that is not in its own target's
    link closure;
  - a target whose link closure has no Qt Widgets includes a Qt Widgets header, or a
    `_core` target links Qt Widgets at all;
  - two targets link each other, or two files include each other (directly or round a
    longer cycle); a header and its .cpp count as one file here.

    check-layers.py [--top DIR] [--qt-headers DIR]

Prints one line per fault and exits 1 when there is any."""

import argparse
import os
import re
import subprocess
import sys

SOURCE_SUFFIXES = (".cpp", ".h", ".h.in")
# Files the build writes and the code includes: generated path -> the source it is made from.
GENERATED = {"common/version.h": "src/common/core/version.h.in"}


def cmake_calls(text, name):
    """Yields the argument lists of every call of `name` in a CMake file."""
    text = re.sub(r"#[^\n]*", "", text)
    for m in re.finditer(r"\b%s\s*\(([^)]*)\)" % name, text):
        yield m.group(1).split()


def read_targets(top):
    targets = {}   # name -> {"files": set, "links": set, "dir": str}
    for base in ("src", "tools"):
        for root, _, files in os.walk(os.path.join(top, base)):
            if "CMakeLists.txt" not in files:
                continue
            text = open(os.path.join(root, "CMakeLists.txt"), encoding="utf-8").read()
            rel = os.path.relpath(root, top)
            for kind in ("add_library", "add_executable"):
                for args in cmake_calls(text, kind):
                    name, rest = args[0], args[1:]
                    srcs = {os.path.normpath(os.path.join(rel, a)) for a in rest
                            if a.endswith(SOURCE_SUFFIXES)}
                    targets.setdefault(name, {"files": set(), "links": set(), "dir": rel})
                    targets[name]["files"] |= srcs
            for args in cmake_calls(text, "target_link_libraries"):
                name = args[0]
                links = {a for a in args[1:] if a not in ("PUBLIC", "PRIVATE", "INTERFACE")}
                targets.setdefault(name, {"files": set(), "links": set(), "dir": rel})
                targets[name]["links"] |= links
    return targets


def closure(targets, name, seen=None):
    seen = set() if seen is None else seen
    for link in targets.get(name, {}).get("links", ()):
        if link not in seen:
            seen.add(link)
            closure(targets, link, seen)
    return seen


def quoted_includes(path):
    out = []
    with open(path, encoding="utf-8", errors="replace") as f:
        for number, line in enumerate(f, 1):
            m = re.match(r'\s*#\s*include\s*([<"])([^">]+)[">]', line)
            if m:
                out.append((number, m.group(1) == '"', m.group(2)))
    return out


def module(path):
    """A header and its .cpp are one module."""
    for suffix in SOURCE_SUFFIXES:
        if path.endswith(suffix):
            return path[: -len(suffix)]
    return path


def find_cycles(graph):
    """Strongly connected components with more than one node (Tarjan, iterative)."""
    index, low, on_stack, stack, result = {}, {}, set(), [], []
    counter = [0]
    for start in sorted(graph):
        if start in index:
            continue
        work = [(start, iter(sorted(graph.get(start, ()))))]
        index[start] = low[start] = counter[0]
        counter[0] += 1
        stack.append(start)
        on_stack.add(start)
        while work:
            node, children = work[-1]
            advanced = False
            for child in children:
                if child not in index:
                    index[child] = low[child] = counter[0]
                    counter[0] += 1
                    stack.append(child)
                    on_stack.add(child)
                    work.append((child, iter(sorted(graph.get(child, ())))))
                    advanced = True
                    break
                if child in on_stack:
                    low[node] = min(low[node], index[child])
            if advanced:
                continue
            work.pop()
            if work:
                low[work[-1][0]] = min(low[work[-1][0]], low[node])
            if low[node] == index[node]:
                component = []
                while True:
                    member = stack.pop()
                    on_stack.discard(member)
                    component.append(member)
                    if member == node:
                        break
                if len(component) > 1:
                    result.append(sorted(component))
    return result


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--top", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    parser.add_argument("--qt-headers", default=None)
    args = parser.parse_args()
    top = os.path.abspath(args.top)

    qt_headers = args.qt_headers
    if not qt_headers:
        try:
            qt_headers = subprocess.run(["qmake", "-query", "QT_INSTALL_HEADERS"], capture_output=True,
                                        text=True, check=True).stdout.strip()
        except (OSError, subprocess.CalledProcessError):
            qt_headers = "/usr/include/x86_64-linux-gnu/qt5"
    widgets_dir = os.path.join(qt_headers, "QtWidgets")
    if not os.path.isdir(widgets_dir):
        print(f"check-layers: no Qt Widgets headers in {widgets_dir}")
        return 1
    widget_headers = set(os.listdir(widgets_dir))

    targets = read_targets(top)
    owner = {}
    faults = []
    for name, t in sorted(targets.items()):
        for f in t["files"]:
            if f in owner and owner[f] != name:
                faults.append(f"{f}: listed by both {owner[f]} and {name}")
            owner[f] = name

    for base in ("src", "tools"):
        for root, _, files in os.walk(os.path.join(top, base)):
            for f in files:
                rel = os.path.relpath(os.path.join(root, f), top)
                if f.endswith(SOURCE_SUFFIXES) and rel not in owner:
                    faults.append(f"{rel}: belongs to no target")

    closures = {name: closure(targets, name) for name in targets}
    for name, c in sorted(closures.items()):
        if name in c:
            faults.append(f"target {name} links itself through {sorted(c & set(targets))}")
        if name.endswith("_core") and "Qt5::Widgets" in c:
            faults.append(f"target {name} links Qt Widgets")

    file_graph = {}
    for f, name in sorted(owner.items()):
        path = os.path.join(top, f)
        own_closure = closures[name]
        has_widgets = "Qt5::Widgets" in own_closure
        edges = file_graph.setdefault(module(f), set())
        for number, quoted, inc in quoted_includes(path):
            if not quoted:
                header = inc.split("/")[-1]
                if not has_widgets and (inc.startswith("QtWidgets/") or header in widget_headers):
                    faults.append(f"{f}:{number}: {name} has no widgets but includes <{inc}>")
                continue
            candidates = [os.path.normpath(os.path.join(os.path.dirname(f), inc)),
                          os.path.normpath(os.path.join("src", inc))]
            target_file = next((c for c in candidates if c in owner), GENERATED.get(inc))
            if target_file is None:
                faults.append(f'{f}:{number}: "{inc}" is no file of src/ or tools/')
                continue
            if module(target_file) != module(f):
                edges.add(module(target_file))
            other = owner[target_file]
            if other != name and other not in own_closure:
                faults.append(f'{f}:{number}: {name} includes "{inc}" of {other}, which it does not link')

    for cycle in find_cycles(file_graph):
        faults.append("files include each other: " + " -> ".join(cycle))

    for fault in faults:
        print("check-layers:", fault)
    if not faults:
        print(f"check-layers: {len(owner)} files in {len(targets)} targets, no fault")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
