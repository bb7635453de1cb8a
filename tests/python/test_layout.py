"""The package's layout: its modules import one another without a cycle."""

import ast
from pathlib import Path

import quarno_synth

PACKAGE = Path(quarno_synth.__file__).parent


def module_name(path):
    parts = path.relative_to(PACKAGE.parent).with_suffix("").parts
    return ".".join(parts[:-1] if parts[-1] == "__init__" else parts)


def imports(path):
    """Package modules imported at module level (what runs at import time)."""
    name = module_name(path)
    package = name if path.name == "__init__.py" else name.rpartition(".")[0]
    found = set()
    for node in ast.parse(path.read_text("utf-8")).body:
        if isinstance(node, ast.ImportFrom):
            base = node.module or ""
            if node.level:
                anchor = package.rsplit(".", node.level - 1)[0] if node.level > 1 else package
                base = f"{anchor}.{base}" if base else anchor
            found.add(base)
            found.update(f"{base}.{alias.name}" for alias in node.names)
        elif isinstance(node, ast.Import):
            found.update(alias.name for alias in node.names)
    return {m for m in found if m.startswith("quarno_synth")}


def test_no_import_cycle():
    modules = {module_name(p): p for p in PACKAGE.rglob("*.py")}
    graph = {name: imports(path) & modules.keys() for name, path in modules.items()}
    # a package's own __init__ runs before its modules: importing it from inside is no edge
    graph = {
        name: {m for m in deps if m != name and not name.startswith(m + ".")}
        for name, deps in graph.items()
    }
    done, path = set(), []

    def visit(name):
        assert name not in path, "import cycle: " + " -> ".join([*path[path.index(name) :], name])
        if name in done:
            return
        path.append(name)
        for dep in sorted(graph[name]):
            visit(dep)
        path.pop()
        done.add(name)

    for name in sorted(graph):
        visit(name)
