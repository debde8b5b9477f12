#!/usr/bin/env python3
"""Fails when a file of src/ includes a header from a folder above its own.

The folders stack in the order that docs/architecture.md gives on its line
"Layers, bottom to top: a, b, c, ..."; a file may include from its own folder
and the folders below it. Files directly in src/ (the program's main) sit
on top. Every offending include is named by file and line.
"""
import os
import re
import sys

INCLUDE = re.compile(r'\s*#\s*include\s+"([^"/]+)/[^"]+"')
LAYERS = re.compile(r"^Layers, bottom to top: (.+)$", re.MULTILINE)


def layer_order(doc):
    match = LAYERS.search(open(doc, encoding="utf-8").read())
    if not match:
        sys.exit(f"{doc}: no line 'Layers, bottom to top: ...'")
    return [name.strip(" `.") for name in match.group(1).split(",")]


def main(root):
    order = layer_order(os.path.join(root, "docs", "architecture.md"))
    src = os.path.join(root, "src")
    known = set(os.listdir(src))
    faults = []
    for folder in sorted(f for f in known if os.path.isdir(os.path.join(src, f))):
        if folder not in order:
            faults.append(f"src/{folder}: a folder the layer order does not name")
    for directory, _, files in os.walk(src):
        relative = os.path.relpath(directory, src)
        own = relative.split(os.sep)[0] if relative != "." else None
        rank = order.index(own) if own in order else len(order)
        for name in sorted(files):
            if not name.endswith((".h", ".cpp", ".ll", ".yy")):
                continue
            path = os.path.join(directory, name)
            with open(path, encoding="utf-8", errors="replace") as text:
                for number, line in enumerate(text, 1):
                    match = INCLUDE.match(line)
                    if not match or match.group(1) not in order:
                        continue
                    target = match.group(1)
                    if order.index(target) > rank:
                        faults.append(f"{os.path.relpath(path, root)}:{number}: includes "
                                      f"{target}/, which is above {own or 'the top'}/")
    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else
                  os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")))
