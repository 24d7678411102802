"""The result classes: ordinary classes whose instances carry a data block."""
import copy
import gc
import hashlib
import pickle
import re
import sys
import tracemalloc

import numpy as np
import pytest

import kestrel

BASE_PARAMS = ("dimension", "dataType", "deriv", "parameters", "x", "minY", "maxY")
BASE_ATTRS = ("dimension", "dataType", "derivative", "parameters", "x", "minY", "maxY")

# Each class's own initialiser parameters, in order (BaseDataReturn: all of them).
OWN = {
    "BaseDataReturn": BASE_PARAMS,
    "SingleDataReturn": ("y",),
    "ImageDataReturn": ("mapX", "mapY", "spectra"),
    "ImageTRCDataReturn": ("mapX", "mapY", "labels", "traces"),
    "TimeResolvedDataReturn": ("z", "spectra"),
    "TimeResolvedTRCDataReturn": ("labels", "traces"),
    "MultiRegionDataReturn": ("regions",),
    "Region": ("title", "mapX", "mapY", "start_time", "spectra"),
    "MultiRegionTRCDataReturn": ("labels", "regions"),
}
ALL = list(OWN)
DERIVED = [n for n in ALL if n not in ("BaseDataReturn", "Region")]
RESULTS = [n for n in ALL if n != "Region"]

# SHA-256 of each class docstring: one changed character changes the digest.
DOC_SHA256 = {
    "BaseDataReturn": "740ea7f3d7d21a0ff9c1dc5f71ccbcb817645f2b6d3582cfa56a167a371313de",
    "SingleDataReturn": "0207e720fa61d919a0e20e505224a1d2b9c2caecc892a9d5922003e5d96575eb",
    "ImageDataReturn": "793f086879d0248cebe23b5e6e25769fd3036d178a1ba955656ca0fc9e64127d",
    "ImageTRCDataReturn": "18acc567bcd01276d7b2ca5c9b7f6e7bc7690b8107dd6caf4f08adb1f1d8fda9",
    "TimeResolvedDataReturn": "d5d14d2b34f0cee13d489596efb4315c8e10b2509f6acacfa63e6c09171b7649",
    "TimeResolvedTRCDataReturn": "89837706f43f42800b1a0575f1559d2f8ed7633a84bb0df0577aa06f54d800db",
    "Region": "5ac22d8d242e51bcc66388d9bb7fb074fda629b0cdf7f7b67268cde9124858fe",
    "MultiRegionDataReturn": "2821b6dac54190c3cbbb1f24550933cc6b638441e2f04d60e0e0485c001acdd4",
    "MultiRegionTRCDataReturn": "d5eae24c6ef5765a38a51eed20fc5854344578a208e2715118617b7479a67db8",
}

# The text BaseDataReturn writes, then the lines each subclass appends.
DESCRIPTION = {
    "BaseDataReturn": (
        "This object contains:\n"
        "\tdimension of file (.dimension)\n"
        "\tdata block type (.dataType)\n"
        "\tderivative type (.derivative)\n"
        "\tdictionary of parameters with parameter name then value (.parameters)\n"
        "\tspectrum x coordinates (.x)\n"
        "\tminimum and maximum y values (.minY and .maxY)\n"
    ),
    "SingleDataReturn": (
        "\ty data points (.y)\n"
    ),
    "ImageDataReturn": (
        "\tx mapping coordinates (.mapX)\n"
        "\ty mapping coordinates (.mapY)\n"
        "\t3D numpy array containing the spectrum associated with the x and y mapping coordinates (.spectra)\n"
        "\t\t\tMap x\n"
        "\t\t  x1  x2  x3  x4...xn\n"
        "Map y\t\ty1\n"
        "\t\ty2\n"
        "\t\ty3\n"
        "\t\t.\n"
        "\t\t.\n"
        "\t\tyn\n"
        "\t\n"
        "\taccess the spectrum with returnedObject.spectra[row][column]\n"
    ),
    "ImageTRCDataReturn": (
        "\tx mapping coordinates (.mapX)\n"
        "\ty mapping coordinates (.mapY)\n"
        "\ta list containing the names of the trace blocks (.labels)\n"
        "\t3D numpy array containing the trace values associated with the x and y mapping coordinates (.traces)\n"
        "\t\t\tMap x\n"
        "\t\t  x1  x2  x3  x4...xn\n"
        "Map y\t\ty1\n"
        "\t\ty2\n"
        "\t\ty3\n"
        "\t\t.\n"
        "\t\t.\n"
        "\t\tyn\n"
        "\t\n"
        "\taccess the trace maps with returnedObject.traces[:,:,label index]\n"
    ),
    "TimeResolvedDataReturn": (
        "\tz (time) axis coordinates (.z)\n"
        "\t2D numpy array containing the spectrum associated with the z time coordinates (.spectra)\n"
        "\taccess the spectrum with returnedObject.spectra[z]\n"
    ),
    "TimeResolvedTRCDataReturn": (
        "\ta list containing the names of the trace blocks (.labels)\n"
        "\t2D numpy array containing trace values (.traces)\n"
        "\taccess the trace with returnedObject.traces[label index]\n"
    ),
    "MultiRegionDataReturn": (
        "\tlist of regions (.regions)\n"
        "\n"
        "\teach region is a Region object containing:\n"
        "\t\tdescription of region (title)\n"
        "\t\tx mapping coordinates array (mapX)\n"
        "\t\ty mapping coordinates array (mapY)\n"
        "\t\ttimestamps of spectrum acquisition array (start_time)\n"
        "\t\t2D array containing spectra in the region (spectra)\n"
        "\t\taccess a spectrum with\n"
        "\t\t\treturnedObject.regions[region index].spectra[row]"
    ),
    "MultiRegionTRCDataReturn": (
        "\ta list containing the names of the trace blocks (.labels)\n"
        "\tlist of regions (.regions)\n"
        "\n"
        "\teach region is a Region object containing:\n"
        "\t\tdescription of region (title)\n"
        "\t\tx mapping coordinates array (mapX)\n"
        "\t\ty mapping coordinates array (mapY)\n"
        "\t\t2D array containing traces in the region (spectra)\n"
        "\t\taccess the traces for a position with\n"
        "\t\t\treturnedObject.regions[region index].spectra[row]"
    ),
}


def base_values():
    return dict(dimension="3D", dataType="AB", deriv="NONE", parameters={"NPT": 3},
                x=np.linspace(4000.0, 400.0, 3), minY=0.25, maxY=1.5)


def own_values(name):
    """Fresh distinct objects for a class's own parameters (no value is checked)."""
    return {p: [p] for p in OWN[name]} if name != "BaseDataReturn" else base_values()


def build(name, **own):
    own = own or own_values(name)
    extra = {} if name in ("BaseDataReturn", "Region") else base_values()
    return getattr(kestrel, name)(**own, **extra), {**own, **extra}


def expected_description(name):
    if name == "BaseDataReturn":
        return DESCRIPTION[name]
    return DESCRIPTION["BaseDataReturn"] + DESCRIPTION[name]


def assert_same_attributes(a, b):
    assert list(vars(a)) == list(vars(b))
    for key, value in vars(a).items():
        other = vars(b)[key]
        if isinstance(value, np.ndarray):
            assert np.array_equal(value, other) and value.dtype == other.dtype
        else:
            assert value == other


def test_module_binds_the_classes_after_the_imports():
    """Each class is bound right after it is made, between the imports and the functions."""
    names = [k for k in vars(kestrel) if not k.startswith("__")]
    assert names[:6] == ["warnings", "dataclass", "unpack", "struct_error", "np", "array"]
    assert names[6:15] == ALL
    assert names[15:17] == ["help", "listContents"]


@pytest.mark.parametrize("name", ALL)
def test_class_is_an_ordinary_class(name):
    """Plain type(), module kestrel, the documented bases, nothing extra in the class dict."""
    cls = getattr(kestrel, name)
    assert type(cls) is type
    assert cls.__module__ == "kestrel" and cls.__qualname__ == cls.__name__ == name
    assert hashlib.sha256(cls.__doc__.encode()).hexdigest() == DOC_SHA256[name]
    base = object if name in ("BaseDataReturn", "Region") else kestrel.BaseDataReturn
    assert cls.__bases__ == (base,)
    methods = {"BaseDataReturn": ["__str__", "__repr__"], "Region": ["__repr__"]}.get(name, [])
    descriptors = ["__dict__", "__weakref__"] if base is object else []
    expected = ["__module__", "__doc__", "__init__", *methods, "__static_attributes__", *descriptors]
    assert list(vars(cls)) == expected


@pytest.mark.parametrize("name", ALL)
def test_instance_dict_order_and_identity(name):
    """Own attributes first, base attributes in order, description last; the objects passed, uncopied."""
    obj, given = build(name)
    attrs = [a for a in OWN[name] if name != "BaseDataReturn"]
    if name != "Region":
        attrs += [*BASE_ATTRS, "description"]
    assert list(vars(obj)) == attrs
    for param, value in given.items():
        assert getattr(obj, "derivative" if param == "deriv" else param) is value
    obj.x = "anything"  # every attribute can be reassigned
    assert obj.x == "anything"


@pytest.mark.parametrize("name", RESULTS)
def test_description_str_and_repr(name):
    """The description text to the character; str and repr read it at each call."""
    obj, _ = build(name)
    assert obj.description == expected_description(name)
    assert str(obj) == repr(obj) == obj.description
    obj.description = "changed"  # read at call time, not cached
    assert str(obj) == repr(obj) == "changed"


def test_description_extends_what_the_next_initialiser_wrote():
    """The next initialiser is the instance's, not always BaseDataReturn's, and its text is extended."""

    class Custom(kestrel.BaseDataReturn):
        def __init__(self, **kwds):
            super().__init__(**kwds)
            self.description = "custom\n"

    class Both(kestrel.SingleDataReturn, Custom):
        pass

    obj = Both([1], **base_values())
    assert obj.description == "custom\n" + DESCRIPTION["SingleDataReturn"]


def test_multiple_inheritance_with_a_mixin_first():
    """A cooperative mixin ahead of a result class receives and hands on the keywords."""
    class Mixin:
        def __init__(self, tag=None, **kwds):
            self.tag = tag
            super().__init__(**kwds)

    class Tagged(Mixin, kestrel.ImageTRCDataReturn):
        pass

    obj = Tagged(tag="t", mapX=1, mapY=2, labels=["a"], traces=3, **base_values())
    assert list(vars(obj)) == ["tag", "mapX", "mapY", "labels", "traces", *BASE_ATTRS, "description"]
    assert str(obj) == expected_description("ImageTRCDataReturn")


@pytest.mark.parametrize("name", DERIVED + ["Region"])
def test_own_parameters_by_position_or_keyword(name):
    """Own parameters bind by position exactly as by keyword."""
    own = own_values(name)
    extra = {} if name == "Region" else base_values()
    by_position = getattr(kestrel, name)(*own.values(), **extra)
    by_keyword = getattr(kestrel, name)(**own, **extra)
    assert_same_attributes(by_position, by_keyword)


def _kw(**changes):
    values = {**base_values(), **changes}
    return {k: v for k, v in values.items() if v is not None}


@pytest.mark.parametrize("call, message", [
    (lambda: kestrel.BaseDataReturn(*list(base_values().values())[:6]),
     "BaseDataReturn.__init__() missing 1 required positional argument: 'maxY'"),
    (lambda: kestrel.BaseDataReturn(*base_values().values(), 1),
     "BaseDataReturn.__init__() takes 8 positional arguments but 9 were given"),
    (lambda: kestrel.BaseDataReturn(**_kw(deriv=None, derivative="NONE")),
     "BaseDataReturn.__init__() got an unexpected keyword argument 'derivative'"),
    (lambda: kestrel.SingleDataReturn([1], "3D", **_kw(dimension=None)),
     "SingleDataReturn.__init__() takes 2 positional arguments but 3 were given"),
    (lambda: kestrel.SingleDataReturn([1], y=[2], **_kw()),
     "SingleDataReturn.__init__() got multiple values for argument 'y'"),
    (lambda: kestrel.TimeResolvedDataReturn(**_kw()),
     "TimeResolvedDataReturn.__init__() missing 2 required positional arguments: 'z' and 'spectra'"),
    (lambda: kestrel.ImageTRCDataReturn(**_kw()),
     "ImageTRCDataReturn.__init__() missing 4 required positional arguments: 'mapX', 'mapY', 'labels', and 'traces'"),
    (lambda: kestrel.MultiRegionDataReturn([], **_kw(x=None, minY=None)),
     "BaseDataReturn.__init__() missing 2 required positional arguments: 'x' and 'minY'"),
    (lambda: kestrel.Region("t", 1, 2, 3, 4, extra=5),
     "Region.__init__() got an unexpected keyword argument 'extra'"),
    (lambda: kestrel.Region("t", 1, 2, 3, 4, 5),
     "Region.__init__() takes 6 positional arguments but 7 were given"),
    (lambda: kestrel.BaseDataReturn.__str__(),
     "BaseDataReturn.__str__() missing 1 required positional argument: 'self'"),
])
def test_argument_errors(call, message):
    """The interpreter's own argument messages, including the surplus-positional and derivative= cases."""
    with pytest.raises(TypeError, match="^" + re.escape(message) + "$"):
        call()


def test_failed_construction_sets_own_attributes_first_and_returns_nothing():
    """Own attributes are set (through the type) before the base initialiser fails; the call returns nothing."""
    seen = []

    class Spy(kestrel.ImageDataReturn):
        def __setattr__(self, key, value):
            seen.append(key)
            super().__setattr__(key, value)

    with pytest.raises(TypeError, match="missing 1 required positional argument: 'deriv'"):
        Spy(1, 2, 3, **_kw(deriv=None))
    assert seen == ["mapX", "mapY", "spectra"]


def test_region_shows_its_title():
    """Region repr is its current title; a title that is not a str is a TypeError, not a crash."""
    region = kestrel.Region("Region 1 (4 points)", 1, 2, None, 3)
    assert "__str__" not in vars(kestrel.Region)
    assert repr(region) == str(region) == "Region 1 (4 points)"
    assert repr([region]) == "[Region 1 (4 points)]"
    region.title = "renamed"
    assert repr(region) == "renamed"
    region.title = 7
    with pytest.raises(TypeError, match="__repr__ returned non-string"):
        repr(region)


@pytest.mark.parametrize("name", ALL)
def test_pickle_and_copy(name):
    """The default pickle protocol and copy.copy rebuild the same attributes in the same order."""
    obj, _ = build(name, **{p: np.arange(3.0) + i for i, p in enumerate(OWN[name])})
    clone = pickle.loads(pickle.dumps(obj))
    assert type(clone) is type(obj)
    assert_same_attributes(clone, obj)
    shallow = copy.copy(obj)
    assert_same_attributes(shallow, obj)
    assert all(vars(shallow)[k] is v for k, v in vars(obj).items())


@pytest.mark.parametrize("name", ALL)
def test_constructions_keep_no_references(name):
    """Building and dropping objects, and failing to, leaves every argument's refcount as it was."""
    cls = getattr(kestrel, name)
    values = {k: object() for k in OWN[name]}
    if name not in ("BaseDataReturn", "Region"):
        values.update({k: object() for k in BASE_PARAMS})
    before = [sys.getrefcount(v) for v in values.values()]
    for _ in range(200):
        cls(**values)
        with pytest.raises(TypeError):
            cls(*values.values(), None)
        with pytest.raises(TypeError):
            cls(**values, derivative=1)
    assert [sys.getrefcount(v) for v in values.values()] == before


def test_memory_stays_flat_over_many_constructions():
    """Twenty thousand constructions leave no Python allocation behind."""
    cls = kestrel.SingleDataReturn
    values = {"y": np.zeros(3), **base_values()}
    for _ in range(1000):
        cls(**values)
    gc.collect()
    tracemalloc.start()
    try:
        start, _ = tracemalloc.get_traced_memory()
        for _ in range(20000):
            cls(**values)
        gc.collect()
        end, _ = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert end - start < 4096
