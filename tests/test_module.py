"""The module frame: attributes in their order, help, tables, import rules."""

import importlib
import subprocess
import sys
import textwrap

import pytest

import kestrel

ORDER = ["warnings", "dataclass", "unpack", "struct_error", "np", "array",
         "BaseDataReturn", "SingleDataReturn", "ImageDataReturn", "ImageTRCDataReturn",
         "TimeResolvedDataReturn", "TimeResolvedTRCDataReturn", "MultiRegionDataReturn", "Region",
         "MultiRegionTRCDataReturn", "help", "listContents", "isOpusFile", "decode_string", "getOpusData",
         "imghdr_what", "getVisImages", "paramDict", "OpusDict"]

HELP = """This library contains the following functions:
\tlistContents('path') :    This function returns a list containing the data blocks, their dimensions and derivative type
\tisOpusFile('path'):    This function returns true if the file is an Opus file, false otherwise
\tgetOpusData('path', ('data block type', 'dimensions', 'derivative')):
\t\tThis function returns a Python object that contains a string parameter called description (ie: returnedObject.description)
\t\tDescription contains the details of what the Python object contains based on the type of data block requested.
\tgetVisImages('path'):
\t\tThis function returns a list that contains an entry for each visible image in the file.

 For more detailed descriptions please consult the documentation.
"""


def test_attributes_are_bound_in_order():
    """The module dict lists every attribute that exists in its fixed order."""
    names = [k for k in vars(kestrel) if not k.startswith("__")]
    assert names == [n for n in ORDER if hasattr(kestrel, n)]


def test_imported_modules_are_the_standard_ones():
    import array, dataclasses, numpy, struct, warnings
    assert kestrel.warnings is warnings and kestrel.dataclass is dataclasses.dataclass
    assert kestrel.unpack is struct.unpack and kestrel.struct_error is struct.error
    assert kestrel.np is numpy and kestrel.array is array


def test_module_has_no_doc_and_no_internal_readers():
    assert kestrel.__doc__ is None
    for name in ("readInt", "readShort", "_read_directory", "_decode_blockType", "getParams", "translate_block"):
        assert not hasattr(kestrel, name)


def test_help_prints_ten_lines(capsys):
    assert kestrel.help() is None
    out = capsys.readouterr().out
    assert out == HELP
    assert len(out.splitlines()) == 10


def test_help_with_an_argument_prints_nothing(capsys):
    with pytest.raises(TypeError):
        kestrel.help(1)
    assert capsys.readouterr().out == ""


@pytest.mark.parametrize("name, params", [
    ("listContents", ["path"]), ("isOpusFile", ["path"]), ("decode_string", ["s", "encodings"]),
    ("imghdr_what", ["h"]), ("getOpusData", ["path", "datablock"]), ("getVisImages", ["path"]),
])
def test_functions_take_their_names_by_keyword(name, params):
    """Every public function accepts its parameters under their documented names."""
    func = getattr(kestrel, name, None)
    if func is None:
        pytest.skip(f"{name} not built")
    assert func.__module__ == "kestrel" and func.__name__ == name
    with pytest.raises(TypeError, match="unexpected keyword argument 'nope'"):
        func(**{p: None for p in params}, nope=1)


@pytest.mark.parametrize("call, message", [
    (lambda: kestrel.isOpusFile(), "isOpusFile() missing 1 required positional argument: 'path'"),
    (lambda: kestrel.isOpusFile("a", "b"), "isOpusFile() takes 1 positional argument but 2 were given"),
    (lambda: kestrel.decode_string(), "decode_string() missing 1 required positional argument: 's'"),
    (lambda: kestrel.decode_string(b"", (), 3), "decode_string() takes from 1 to 2 positional arguments but 3 were given"),
    (lambda: kestrel.isOpusFile("a", path="b"), "isOpusFile() got multiple values for argument 'path'"),
    (lambda: kestrel.OpusDict(1), "OpusDict() takes 0 positional arguments but 1 was given"),
])
def test_argument_errors_read_like_the_interpreters(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_decode_string_defaults():
    assert kestrel.decode_string.__defaults__ == (("ascii", "utf8", "latin1"),)


def test_docstrings():
    assert kestrel.help.__doc__ == "\n    Print a help message containing the available functions.\n    "
    assert kestrel.isOpusFile.__doc__ == ("\n    Tests if the given file is an OPUS data file.\n\n    Args:\n"
                                          "        path (path): Path to file\n\n    Returns:\n"
                                          "        bool: True if an OPUS file\n    ")
    assert kestrel.listContents.__doc__.startswith("\n    This function returns a list of datablocks for a given file.\n")
    assert kestrel.decode_string.__doc__ == "Attempt to decode a string"
    assert kestrel.imghdr_what.__doc__ == "Simplified version of imghdr.what()"
    assert kestrel.OpusDict.__doc__ == "Returns a dictionary for translating parameter keys to lower_case_strings."


def test_functions_pickle_by_reference():
    import pickle
    assert pickle.loads(pickle.dumps(kestrel.listContents)) is kestrel.listContents


def test_repeated_import_is_the_same_module():
    """Removing the module from sys.modules or reloading never runs initialisation again."""
    kestrel.paramDict["ZZZ"] = "changed"
    try:
        del sys.modules["kestrel"]
        again = importlib.import_module("kestrel")
        assert again is kestrel
        assert importlib.reload(kestrel) is kestrel
        assert kestrel.paramDict["ZZZ"] == "changed"
    finally:
        sys.modules["kestrel"] = kestrel
        del kestrel.paramDict["ZZZ"]


def run_python(code):
    return subprocess.run([sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=60)


def test_exec_on_another_module_object_is_refused():
    result = run_python("""
        import importlib.util, kestrel
        found = importlib.util.find_spec("kestrel")
        other = importlib.util.module_from_spec(found)
        try:
            found.loader.exec_module(other) if other is not kestrel else print("same")
        except RuntimeError as e:
            print("refused:", e)
    """)
    assert result.stdout.strip() in (
        "refused: Module 'kestrel' has already been imported. Re-initialisation is not supported.", "same")


def test_second_interpreter_is_refused():
    result = run_python("""
        import kestrel
        try:
            import _interpreters
        except ImportError:
            try:
                import _xxsubinterpreters as _interpreters  # Python 3.11 and 3.12
            except ImportError:
                print("skip"); raise SystemExit
        interp = _interpreters.create()
        try:
            out = _interpreters.run_string(interp, "import kestrel")
        except _interpreters.RunFailedError as error:  # how 3.11 and 3.12 report it
            print(str(error).removeprefix("<class 'ImportError'>: "))
        else:
            print(out.msg if out is not None else "imported")
    """)
    if result.stdout.strip() == "skip":
        pytest.skip("no _interpreters module")
    assert result.stdout.strip() == ("Interpreter change detected - this module can only be loaded into one "
                                     "interpreter per process.")


@pytest.mark.parametrize("module_name, init", [("kestrel", "PyInit_kestrel"),
                                               ("kestrel_tools._native", "PyInit__native")])
def test_extension_exports_its_init_function_alone(module_name, init):
    """Core and standard-library symbols stay inside the module: nothing clashes with another extension."""
    import shutil
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not installed")
    path = importlib.import_module(module_name).__file__
    listing = subprocess.run([nm, "-D", "--defined-only", path], capture_output=True, text=True, check=True).stdout
    assert [line.split()[-1] for line in listing.splitlines() if line.strip()] == [init]
