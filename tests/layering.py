#!/usr/bin/env python3
"""Checks that every #include follows the layers, and that the Qt-free layers include no Qt header.

The layers are read from the CMake files themselves (the velmo_layer calls with their DEPENDS and
LIBS, and the programs built on them), so this check cannot drift from what CMake enforces:
- every .cpp/.h below a layer folder is listed in exactly one target, so none is left unbuilt or
  unchecked;
- a file may include its own target's files and those of the targets it links, directly or through
  another layer;
- a target that links no Qt library, directly or through a layer, includes no Qt header."""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1]).resolve()
# Folders that are not layers: the test and benchmark code may include anything.
not_layers = {"tests", "bench", "fuzz", "cmake", "scripts", "demo", "build"}

command_re = re.compile(r"^\s*([A-Za-z_]\w*)\s*\(([^()]*)\)", re.M)
variable_re = re.compile(r"\$\{(\w+)\}")
include_re = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]')
qt_include_re = re.compile(r"Q[A-Za-z]|qt[a-z]*/|QtCore|QtWidgets|QtGui")


class Target:
    def __init__(self, name, folder):
        self.name = name
        self.folder = folder
        self.sources = []
        self.depends = []
        self.libs = []


def split_keywords(args, keywords):
    """velmo_layer's arguments by keyword: {"LEVEL": [...], "SOURCES": [...], ...}."""
    parts, current = {}, None
    for a in args:
        if a in keywords:
            current = a
            parts.setdefault(a, [])
        elif current:
            parts[current].append(a)
    return parts


def read_targets():
    targets = {}
    for cmake in sorted(root.glob("*/**/CMakeLists.txt")):
        rel_dir = cmake.parent.relative_to(root)
        if rel_dir.parts[0] in not_layers:
            continue
        text = re.sub(r"#[^\n]*", "", cmake.read_text(encoding="utf-8"))
        variables = {}
        for cmd, raw in command_re.findall(text):
            args = variable_re.sub(lambda m: " ".join(variables.get(m.group(1), [])), raw).split()
            cmd = cmd.lower()
            if cmd == "set" and args:
                variables[args[0]] = args[1:]
            elif cmd == "velmo_layer":
                t = Target(args[0], rel_dir)
                parts = split_keywords(args[1:], {"LEVEL", "SOURCES", "DEPENDS", "LIBS"})
                t.sources = parts.get("SOURCES", [])
                t.depends = parts.get("DEPENDS", [])
                t.libs = parts.get("LIBS", [])
                targets[t.name] = t
            elif cmd == "add_executable":
                t = Target(args[0], rel_dir)
                t.sources = args[1:]
                targets[t.name] = t
            elif cmd == "target_link_libraries" and args and args[0] in targets:
                targets[args[0]].libs += [a for a in args[1:] if a not in ("PRIVATE", "PUBLIC", "INTERFACE")]
    # A program's links name layers defined in other folders, known only now.
    for t in targets.values():
        t.depends += [lib for lib in t.libs if lib in targets]
        t.libs = [lib for lib in t.libs if lib not in targets]
    return targets


targets = read_targets()
errors = []

# Which target owns each file, by its path relative to the root.
owner = {}
for t in targets.values():
    for s in t.sources:
        path = (root / t.folder / s).resolve()
        if not path.is_relative_to(root) or not path.exists():
            errors.append(f"{t.folder}/CMakeLists.txt: {t.name} lists {s}, which does not exist")
            continue
        rel = path.relative_to(root).as_posix()
        if rel in owner:
            errors.append(f"{rel} is listed by both {owner[rel].name} and {t.name}")
        owner[rel] = t


def closure(name, seen=None):
    seen = set() if seen is None else seen
    for d in targets[name].depends:
        if d not in seen:
            seen.add(d)
            closure(d, seen)
    return seen


def uses_qt(name):
    return any(lib.startswith("Qt6::") for n in {name} | closure(name) for lib in targets[n].libs)


layer_dirs = {t.folder.parts[0] for t in targets.values()}
for folder in sorted(layer_dirs):
    for f in sorted((root / folder).rglob("*")):
        if f.suffix not in {".h", ".hpp", ".cpp"}:
            continue
        rel = f.relative_to(root).as_posix()
        t = owner.get(rel)
        if t is None:
            errors.append(f"{rel} is in no target's source list")
            continue
        allowed = {t.name} | closure(t.name)
        qt_free = not uses_qt(t.name)
        for n, line in enumerate(f.read_text(encoding="utf-8", errors="replace").splitlines(), 1):
            m = include_re.match(line)
            if not m:
                continue
            inc = m.group(1)
            if qt_free and qt_include_re.match(inc):
                errors.append(f"{rel}:{n}: Qt header {inc} in the Qt-free {t.name}")
                continue
            if inc.split("/")[0] not in layer_dirs | not_layers:
                continue
            inc_owner = owner.get(inc)
            if inc_owner is None:
                errors.append(f"{rel}:{n}: {inc} belongs to no layer")
            elif inc_owner.name not in allowed:
                errors.append(f"{rel}:{n}: {t.name} may not include {inc} ({inc_owner.name})")

if not targets:
    errors.append("no velmo_layer call found")
for e in errors:
    print(e)
print(f"{0 if errors else 1} passed, {1 if errors else 0} failed")
sys.exit(1 if errors else 0)
