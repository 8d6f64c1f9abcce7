#!/usr/bin/env python3
"""Checks that every #include follows the layers: a folder includes only itself and the folders
below it, and the Qt-free layers include no Qt header."""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1])

# folder -> folders it may include from (besides itself)
allowed = {
    "platform": set(),
    "platform/qt": {"platform"},
    "datafiles": {"platform"},
    "ftp": {"platform"},
    "ftp/tool": {"ftp", "platform"},
    "ftp/qt": {"ftp", "platform"},
    "memtable": {"platform"},
    "memtable/qt": {"memtable", "platform", "platform/qt"},
    "report": {"platform", "platform/qt"},
    "charts": {"memtable", "platform", "platform/qt"},
    "shell": {"platform", "platform/qt", "datafiles", "ftp"},
    "catalog/core": {"memtable", "datafiles", "platform"},
    "catalog": {"shell", "catalog/core", "memtable", "memtable/qt", "datafiles", "platform", "platform/qt"},
    "sync/core": {"ftp", "datafiles", "platform"},
    "sync": {"shell", "sync/core", "ftp", "ftp/qt", "datafiles", "platform", "platform/qt"},
    "orders": {"shell", "memtable", "memtable/qt", "report", "datafiles", "platform", "platform/qt"},
    "statistics/core": {"memtable", "datafiles", "platform"},
    "statistics": {"shell", "charts", "statistics/core", "memtable", "memtable/qt", "datafiles", "platform", "platform/qt"},
    "ftpbrowser": {"shell", "sync", "ftp", "datafiles", "platform", "platform/qt"},
}
qt_free = {"platform", "datafiles", "ftp", "ftp/tool", "memtable", "catalog/core", "sync/core", "statistics/core"}
project_dirs = {d.split("/")[0] for d in allowed} | {"app", "tests", "bench"}

include_re = re.compile(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]')
errors = []
for folder, deps in allowed.items():
    base = root / folder
    if not base.is_dir():
        continue
    for f in sorted(base.iterdir()):
        if f.suffix not in {".h", ".hpp", ".cpp"}:
            continue
        for n, line in enumerate(f.read_text(encoding="utf-8", errors="replace").splitlines(), 1):
            m = include_re.match(line)
            if not m:
                continue
            inc = m.group(1)
            if folder in qt_free and re.match(r"Q[A-Za-z]|qt[a-z]*/|QtCore|QtWidgets|QtGui", inc):
                errors.append(f"{f.relative_to(root)}:{n}: Qt header {inc} in a Qt-free layer")
                continue
            if "/" not in inc or inc.split("/")[0] not in project_dirs:
                continue
            inc_dir = str(pathlib.PurePosixPath(inc).parent)
            if inc_dir != folder and inc_dir not in deps:
                errors.append(f"{f.relative_to(root)}:{n}: {folder} may not include {inc}")

for e in errors:
    print(e)
print(f"{0 if errors else 1} passed, {1 if errors else 0} failed")
sys.exit(1 if errors else 0)
