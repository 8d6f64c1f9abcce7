#!/usr/bin/env python3
"""The layering check on a small tree of its own: a clean tree passes, and each kind of fault is
named (an include upwards, Qt in a Qt-free layer, a file no target lists, a listed file missing).
A checker that passes everything would otherwise go unnoticed."""
import pathlib
import subprocess
import sys
import tempfile

checker = pathlib.Path(sys.argv[1]).resolve()

CMAKE = {
    "base/CMakeLists.txt": "set(base_sources\n  a.cpp a.h)\nvelmo_layer(base LEVEL 0 SOURCES ${base_sources})\n"
    "velmo_layer(base_qt LEVEL 1 SOURCES qt/q.cpp DEPENDS base LIBS Qt6::Core)\n",
    "mid/CMakeLists.txt": "velmo_layer(mid LEVEL 2 SOURCES m.cpp DEPENDS base)\n",
    "top/CMakeLists.txt": "velmo_layer(top LEVEL 3 SOURCES t.cpp DEPENDS mid base_qt)\n"
    "add_executable(tool tool/main.cpp)\ntarget_link_libraries(tool PRIVATE mid)\n",
}
CLEAN = {
    "base/a.h": "#include <string>\n",
    "base/a.cpp": '#include "base/a.h"\n',
    "base/qt/q.cpp": '#include "base/a.h"\n#include <QString>\n',
    "mid/m.cpp": '#include "base/a.h"\n',
    # base through mid: a layer may include what the layers it links link
    "top/t.cpp": '#include "mid/m.cpp"\n#include "base/a.h"\n#include "base/qt/q.cpp"\n#include <QWidget>\n',
    "top/tool/main.cpp": '#include "mid/m.cpp"\n',
}

CASES = [
    ("clean tree", {}, []),
    ("include upwards", {"mid/m.cpp": '#include "top/t.cpp"\n'}, ["mid may not include top/t.cpp"]),
    ("include beside", {"mid/m.cpp": '#include "base/qt/q.cpp"\n'}, ["mid may not include base/qt/q.cpp"]),
    ("Qt in a Qt-free layer", {"mid/m.cpp": "#include <QString>\n"}, ["Qt header QString in the Qt-free mid"]),
    ("Qt in a program on Qt-free layers", {"top/tool/main.cpp": "#include <QtCore/QTimer>\n"},
     ["Qt-free tool"]),
    ("file in no target", {"mid/extra.h": "\n"}, ["mid/extra.h is in no target's source list"]),
    ("listed file missing", {"base/a.h": None}, ["base lists a.h, which does not exist"]),
]

failures = 0
for name, changes, expected in CASES:
    with tempfile.TemporaryDirectory() as d:
        root = pathlib.Path(d)
        files = {**CMAKE, **CLEAN, **changes}
        for rel, text in files.items():
            if text is None:
                continue
            (root / rel).parent.mkdir(parents=True, exist_ok=True)
            (root / rel).write_text(text)
        run = subprocess.run([sys.executable, str(checker), str(root)], capture_output=True, text=True)
        ok = (run.returncode == 0) == (not expected) and all(e in run.stdout for e in expected)
        if not ok:
            failures += 1
            print(f"FAIL {name}: exit {run.returncode}\n{run.stdout}")

print(f"{len(CASES) - failures} passed, {failures} failed")
sys.exit(1 if failures else 0)
