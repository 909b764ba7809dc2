"""Finding libcalmgr.so: the variable, a directory, and the messages when it
cannot be loaded (run in fresh interpreters, since loading happens once)."""

from __future__ import annotations

import os
import subprocess
import sys

import calmgr

PKG_DIR = os.path.dirname(os.path.dirname(os.path.abspath(calmgr.__file__)))


def run(code: str, library: str) -> subprocess.CompletedProcess:
    env = dict(os.environ, CALMGR_LIBRARY=library, PYTHONPATH=PKG_DIR)
    return subprocess.run([sys.executable, "-c", code], env=env, capture_output=True,
                          text=True, timeout=60)


def test_a_missing_library_is_reported_with_what_was_tried_and_what_to_do() -> None:
    r = run("import calmgr\ncalmgr.IntensityCal()", "/nonexistent/libcalmgr.so")
    assert r.returncode == 1
    assert "LibraryNotFoundError" in r.stderr
    assert "/nonexistent/libcalmgr.so (CALMGR_LIBRARY): no such file" in r.stderr
    assert "set CALMGR_LIBRARY" in r.stderr
    # Importing alone works without the library.
    assert run("import calmgr; print(calmgr.FIT_TYPES['density'])", "/nonexistent").stdout == "10\n"


def test_a_library_that_is_not_calmgr_is_refused() -> None:
    libm = "libm.so.6"
    r = run("import calmgr\ncalmgr.fit_values([0, 1], [0, 1], 1)", libm)
    assert r.returncode == 1 and "it is not calmgr" in r.stderr


def test_a_directory_in_the_variable_names_the_library_inside() -> None:
    here = calmgr.library_path()
    r = run("import calmgr\nprint(calmgr.library_path())\nprint(calmgr.IntensityCal().name)",
            os.path.dirname(os.path.abspath(here)))
    assert r.returncode == 0, r.stderr
    assert r.stdout.splitlines()[0].endswith("libcalmgr.so")
    assert r.stdout.splitlines()[1].startswith("Intensity Cal ")


def test_the_package_modules_import_one_another_without_a_cycle() -> None:
    """Imports anywhere in a module (inside functions too, where a cycle
    could hide) form no cycle; imports for type checking only do not count."""
    import ast

    pkg = os.path.dirname(os.path.abspath(calmgr.__file__))
    modules = {name[:-3] for name in os.listdir(pkg) if name.endswith(".py")}
    graph = {}
    for module in modules:
        with open(os.path.join(pkg, module + ".py"), encoding="utf-8") as f:
            tree = ast.parse(f.read())
        for node in ast.walk(tree):
            if isinstance(node, ast.If) and "TYPE_CHECKING" in ast.dump(node.test):
                node.body = []
        deps = set()
        for node in ast.walk(tree):
            if isinstance(node, ast.ImportFrom) and node.level == 1:
                if node.module:
                    deps.add(node.module.split(".")[0])
                else:
                    deps.update(alias.name for alias in node.names)
        graph[module] = deps & modules

    def visit(module: str, path: list) -> None:
        assert module not in path, f"import cycle: {' -> '.join(path + [module])}"
        for dep in sorted(graph[module]):
            visit(dep, path + [module])

    for module in sorted(modules - {"__init__"}):
        visit(module, [])
