"""Two directives for the API pages.

``kestrel-stub-api`` documents the `kestrel` extension module from its typing
stubs (src/kestrel-stubs/__init__.pyi): the signatures, types and docstrings
there are the documented interface, while the module's own docstrings keep the
texts its callers have always seen.

``kestrel-tools-api`` documents the modules of `kestrel_tools` named in the
`kestrel_tools_api_modules` setting of conf.py, skipping those not (yet) in the
package, and lists the names the package re-exports.
"""

from __future__ import annotations

import ast
import importlib
import importlib.util
import pathlib
from typing import Any

from docutils import nodes
from docutils.statemachine import StringList
from sphinx.application import Sphinx
from sphinx.ext.napoleon.docstring import GoogleDocstring
from sphinx.util.docutils import SphinxDirective
from sphinx.util.nodes import nested_parse_with_titles

STUB = pathlib.Path(__file__).resolve().parents[2] / "src" / "kestrel-stubs" / "__init__.pyi"


class _Stub:
    """The stub's functions, classes, data and private aliases, in source order."""

    def __init__(self, path: pathlib.Path) -> None:
        self.tree = ast.parse(path.read_text(encoding="utf-8"))
        self.aliases: dict[str, str] = {}
        for node in self.tree.body:
            if isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name) and node.value is not None:
                if node.target.id.startswith("_"):
                    self.aliases[node.target.id] = ast.unparse(node.value)

    def text(self, node: ast.expr | None) -> str:
        """An annotation with the private aliases written out."""
        if node is None:
            return ""
        text = ast.unparse(node)
        for name, value in self.aliases.items():
            text = text.replace(name, value)
        return text.replace("npt.NDArray", "numpy.ndarray").replace("np.", "numpy.")

    def signature(self, function: ast.FunctionDef, *, drop_self: bool = False) -> str:
        args = function.args
        positional = args.args[1:] if drop_self else args.args
        defaults = [None] * (len(positional) - len(args.defaults)) + list(args.defaults)
        parts = []
        for arg, default in zip(positional, defaults):
            part = arg.arg + (f": {self.text(arg.annotation)}" if arg.annotation else "")
            if default is not None:
                part += f" = {ast.unparse(default)}"
            parts.append(part)
        if args.kwarg is not None:
            parts.append(f"**{args.kwarg.arg}")
        returns = f" -> {self.text(function.returns)}" if function.returns and not drop_self else ""
        return f"({', '.join(parts)}){returns}"


def _docstring(app: Sphinx, text: str | None, what: str) -> list[str]:
    if not text:
        return []
    return GoogleDocstring(text, app.config, app, what).lines()


def _indent(lines: list[str], depth: int = 1) -> list[str]:
    pad = "   " * depth
    return [pad + line if line else "" for line in lines]


def _attribute_docs(body: list[ast.stmt]) -> list[tuple[str, str, str | None, ast.expr]]:
    """(name, kind, docstring, annotation) of annotated names, with the string that follows each."""
    found = []
    for i, node in enumerate(body):
        if isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
            if node.target.id.startswith("_"):
                continue
            following = body[i + 1] if i + 1 < len(body) else None
            doc = None
            if isinstance(following, ast.Expr) and isinstance(following.value, ast.Constant):
                doc = str(following.value.value)
            found.append((node.target.id, "attribute", doc, node.annotation))
    return found


class KestrelStubApi(SphinxDirective):
    has_content = False

    def run(self) -> list[nodes.Node]:
        self.env.note_dependency(str(STUB))
        stub = _Stub(STUB)
        app = self.env.app
        lines = [".. py:module:: kestrel", ""]
        lines += _docstring(app, ast.get_docstring(stub.tree), "module") + [""]
        body = stub.tree.body
        # Overloads of one function: one entry with a signature line each, the docstring of the last.
        overloads: dict[str, list[ast.FunctionDef]] = {}
        for node in body:
            if isinstance(node, ast.FunctionDef):
                overloads.setdefault(node.name, []).append(node)
        for i, node in enumerate(body):
            if isinstance(node, ast.FunctionDef):
                group = overloads[node.name]
                if node is not group[-1]:
                    continue
                pad = " " * len(".. py:function:: ")
                signatures = f"\n{pad}".join(f"{n.name}{stub.signature(n)}" for n in group)
                lines += [f".. py:function:: {signatures}", ""]
                lines += _indent(_docstring(app, ast.get_docstring(node), "function")) + [""]
            elif isinstance(node, ast.ClassDef):
                init = next((n for n in node.body if isinstance(n, ast.FunctionDef) and n.name == "__init__"), None)
                signature = stub.signature(init, drop_self=True) if init else ""
                bases = ", ".join(f":class:`{ast.unparse(b)}`" for b in node.bases)
                lines += [f".. py:class:: {node.name}{signature}", ""]
                if bases:
                    lines += [f"   Derives from {bases}.", ""]
                lines += _indent(_docstring(app, ast.get_docstring(node), "class")) + [""]
                if init is not None and ast.get_docstring(init):
                    lines += _indent(_docstring(app, ast.get_docstring(init), "method")) + [""]
                for name, _, doc, annotation in _attribute_docs(node.body):
                    lines += [f"   .. py:attribute:: {name}", f"      :type: {stub.text(annotation)}", ""]
                    lines += _indent(_docstring(app, doc, "attribute"), 2) + [""]
            elif isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
                if node.target.id.startswith("_"):
                    continue
                (name, _, doc, annotation), = _attribute_docs(body[i:i + 2])
                lines += [f".. py:data:: {name}", f"   :type: {stub.text(annotation)}", ""]
                lines += _indent(_docstring(app, doc, "data")) + [""]
            elif isinstance(node, ast.Assign) and isinstance(node.targets[0], ast.Name):
                following = body[i + 1] if i + 1 < len(body) else None
                if isinstance(following, ast.Expr) and isinstance(following.value, ast.Constant):
                    lines += [f".. py:exception:: {node.targets[0].id}", ""]
                    lines += _indent(_docstring(app, str(following.value.value), "exception")) + [""]
        return _parse(self, lines)


class KestrelToolsApi(SphinxDirective):
    has_content = False

    def run(self) -> list[nodes.Node]:
        import kestrel_tools

        lines = [".. automodule:: kestrel_tools", ""]
        exports: dict[str, str] = getattr(kestrel_tools, "_EXPORTS", {})
        present = [m for m in self.config.kestrel_tools_api_modules if importlib.util.find_spec(m) is not None]
        documented = set(present)
        if exports:
            lines += ["The package re-exports these names from the modules below:", ""]
            for name in sorted(exports):
                module = exports[name]
                target = f"{module}.{name}" if module in documented else module
                lines += [f"- :py:obj:`{name} <{target}>` (from ``{module}``)"]
            lines += [""]
        for module in present:
            title = f"``{module}``"
            lines += [title, "-" * len(title), "", f".. automodule:: {module}", "   :members:", ""]
        return _parse(self, lines)


def _parse(directive: SphinxDirective, lines: list[str]) -> list[nodes.Node]:
    content = StringList(lines, source=f"<{directive.name}>")
    container = nodes.section() if directive.name == "kestrel-tools-api" else nodes.container()
    nested_parse_with_titles(directive.state, content, container)
    return list(container.children)


def setup(app: Sphinx) -> dict[str, Any]:
    app.add_config_value("kestrel_tools_api_modules", [], "env")
    app.add_directive("kestrel-stub-api", KestrelStubApi)
    app.add_directive("kestrel-tools-api", KestrelToolsApi)
    return {"parallel_read_safe": True, "version": "1"}
