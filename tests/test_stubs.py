"""The typing stubs of `kestrel` (the kestrel-stubs package) against the module.

stubtest checks the classes; it cannot see the signatures of the module's
functions (their callable type is not a builtin function), so these tests do.
"""

import ast
import importlib.metadata
import pathlib

import pytest

import kestrel

DEMO = str(pathlib.Path(__file__).parents[1] / "src" / "kestrel_tools" / "data" / "demo.0")
# A valid value for every parameter name the functions have.
ARGUMENTS = {"path": DEMO, "datablock": ("AB", "2D", "NONE"), "s": b"abc", "encodings": ("ascii",), "h": b"GIF89a"}


def stub_functions() -> dict[str, ast.FunctionDef]:
    # The installed stubs; an editable install leaves them in the checkout.
    installed = pathlib.Path(str(importlib.metadata.distribution("kestrel-opus").locate_file("kestrel-stubs/__init__.pyi")))
    stub = installed if installed.exists() else pathlib.Path(__file__).parents[1] / "src/kestrel-stubs/__init__.pyi"
    tree = ast.parse(stub.read_text(encoding="utf-8"))
    return {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef)}


STUBS = stub_functions()


def test_every_function_of_the_module_has_a_stub():
    """A function added to the module or renamed would go untyped."""
    function_type = type(kestrel.getOpusData)
    runtime = {name for name, value in vars(kestrel).items() if type(value) is function_type}
    assert runtime == set(STUBS)


@pytest.mark.parametrize("name", sorted(STUBS))
def test_stub_signature_matches_the_function(name):
    """Names by keyword, defaults and arity are those the stub promises."""
    node, function = STUBS[name], getattr(kestrel, name)
    names = [a.arg for a in node.args.args]
    defaults = tuple(ast.literal_eval(d) for d in node.args.defaults) or None
    assert function.__defaults__ == defaults
    function(**{n: ARGUMENTS[n] for n in names})  # every parameter accepted by keyword
    with pytest.raises(TypeError):
        function(*(ARGUMENTS[n] for n in names), "surplus")
    with pytest.raises(TypeError, match="bogus"):
        function(**{n: ARGUMENTS[n] for n in names}, bogus=1)
