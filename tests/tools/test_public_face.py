"""The package's public face: type checkers see every public name with its real
signature, and no two modules of the package import each other (directly or
round a longer circle, at the top or inside a function)."""

import ast
import importlib.util
import os
import pathlib
import subprocess
import sys
import tempfile

import pytest

import kestrel_tools

PACKAGE = pathlib.Path(kestrel_tools.__file__).parent


def _type_checking_imports(tree):
    for node in tree.body:
        if isinstance(node, ast.If) and getattr(node.test, "id", None) == "TYPE_CHECKING":
            for stmt in ast.walk(node):
                if isinstance(stmt, ast.ImportFrom):
                    yield from ((alias.asname or alias.name, stmt.module) for alias in stmt.names)


def test_type_checkers_see_every_public_name():
    from kestrel_tools import _EXPORTS

    seen = dict(_type_checking_imports(ast.parse((PACKAGE / "__init__.py").read_text())))
    assert {name: module for name, module in seen.items() if not name.startswith("_")} == _EXPORTS


WRONG_CALLS = """\
from kestrel_tools import file_info, read_collection, to_pandas, write_csv
c = read_collection(42, workers="many")
file_info("a.0", block=7)
write_csv(c, "out.csv", layout="diagonal")
n: int = c.spectra
to_pandas(c, layout="long")
"""


def test_mypy_strict_reports_wrong_calls(tmp_path):
    pytest.importorskip("mypy")
    script = tmp_path / "wrong.py"
    script.write_text(WRONG_CALLS)
    cache = os.path.join(tempfile.gettempdir(), "kestrel-tools-mypy-cache")
    run = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--cache-dir", cache, "--no-color-output",
                          script.name], cwd=tmp_path, capture_output=True, text=True, timeout=600)
    errors = [line for line in run.stdout.splitlines() if ": error:" in line]
    lines = sorted({int(line.split(":")[1]) for line in errors})
    assert lines == [2, 3, 4, 5], run.stdout
    assert sum('"read_collection"' in line for line in errors) == 2, run.stdout


def _module_name(path):
    parts = list(path.relative_to(PACKAGE.parent).with_suffix("").parts)
    return ".".join(parts[:-1] if parts[-1] == "__init__" else parts)


def _is_module(name):
    try:
        return importlib.util.find_spec(name) is not None
    except (ImportError, ValueError):
        return False


def _imports(path, name):
    """The package's modules that `path` imports when it runs (imports under TYPE_CHECKING excluded)."""
    tree = ast.parse(path.read_text())
    skipped = set()
    for node in ast.walk(tree):
        if isinstance(node, ast.If) and getattr(node.test, "id", None) == "TYPE_CHECKING":
            skipped.update(id(n) for n in ast.walk(node))
    package = name if path.name == "__init__.py" else name.rpartition(".")[0]
    for node in ast.walk(tree):
        if id(node) in skipped:
            continue
        if isinstance(node, ast.Import):
            yield from (alias.name for alias in node.names)
        elif isinstance(node, ast.ImportFrom):
            base = node.module or ""
            if node.level:
                base = ".".join(package.split(".")[:len(package.split(".")) - node.level + 1] + ([base] if base else []))
            for alias in node.names:
                full = f"{base}.{alias.name}"
                yield full if _is_module(full) else base


def test_no_import_circles():
    modules = {_module_name(p): p for p in PACKAGE.rglob("*.py")}
    graph = {}
    for name, path in modules.items():
        targets = set()
        for imported in _imports(path, name):
            if not imported.startswith("kestrel_tools"):
                continue
            # Importing a.b.c runs a.b's __init__ too (unless the importer lies inside a.b).
            parts = imported.split(".")
            for i in range(2, len(parts) + 1):
                target = ".".join(parts[:i])
                if target in modules and target != name and not name.startswith(target + "."):
                    targets.add(target)
        graph[name] = targets
    # Depth-first search for a path back to where it started.
    state, stack = {}, []

    def visit(node):
        state[node] = "open"
        stack.append(node)
        for nxt in sorted(graph[node]):
            if state.get(nxt) == "open":
                circle = stack[stack.index(nxt):] + [nxt]
                pytest.fail("import circle: " + " -> ".join(circle))
            if nxt not in state:
                visit(nxt)
        stack.pop()
        state[node] = "done"

    for node in sorted(graph):
        if node not in state:
            visit(node)
