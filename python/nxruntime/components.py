"""Component classes written in Python.

A class with `process(x) -> y` (and optionally `start(rate)` and `stop()`)
becomes a component class of the library: a filter of real buffers, usable in
graphs built with nxruntime.Graph and in documents that `nxflow` runs.

    import numpy as np
    import nxruntime

    @nxruntime.component
    class PyGain:
        Gain = nxruntime.Property(1.0, min=0.0, max=100.0)   # published, with its range
        Invert: bool = False                                  # an annotated default is published too

        def start(self, rate):       # the stream's sample rate
            self.rate = rate

        def process(self, x):        # a read-only float64 view of the buffer, no copy
            return -self.Gain * x if self.Invert else self.Gain * x

Published properties are saved in documents and set like any other
(`--set Gain.Gain=2`, `g["Gain"].Gain = 2`, `nxflow serve`); the component's
code reads them as attributes, which are brought up to date before `start`
and before the first buffer after a change. `process` returns the output
array (None: nothing is sent; `x` itself: the input unchanged), or takes
`process(self, x, out)` and writes the output into `out`, a float64 array of
the input's size (the output then is `out`, unless it returns another array).
The GIL is held while start, process and stop run and released otherwise.
An exception they raise stops the component's stream, and the run ends with
its traceback.

A document names the module that defines its classes among its packages
(`Packages="nxexamples, mygain"`): `mygain.py` is looked up on the package
search path (never on sys.path, never in the current folder), by a bare
module name.
"""
import importlib.util as _importlib_util
import inspect as _inspect
import os as _os
import sys as _sys

from . import _nxruntime

__all__ = ["Property", "component"]

_KINDS = {bool: "bool", int: "int", float: "float", str: "str"}


class Property:
    """A published property: its default (bool, int, float or str; the
    default's type is the property's), an optional range for numbers, and a
    line for the user."""

    __slots__ = ("default", "min", "max", "description")

    def __init__(self, default, *, min=None, max=None, description=""):
        if type(default) not in _KINDS:
            raise TypeError(f"a property's default is a bool, int, float or str, not {type(default).__name__}")
        if (min is not None or max is not None) and type(default) not in (int, float):
            raise TypeError("only a number property has a range")
        if min is not None and max is not None and min > max:
            raise ValueError(f"the range {min} .. {max} is empty")
        self.default = default
        self.min = min
        self.max = max
        self.description = description

    def __repr__(self):
        return f"Property({self.default!r}, min={self.min!r}, max={self.max!r})"


def _published(cls):
    """The published properties of cls, base classes first: Property class
    attributes, and annotated class attributes with a bool, int, float or str
    default."""
    found = {}
    for klass in reversed(cls.__mro__):
        annotations = klass.__dict__.get("__annotations__", {})
        for name, value in vars(klass).items():
            if name.startswith("_"):
                continue
            if isinstance(value, Property):
                found[name] = value
            elif name in annotations and type(value) in _KINDS:
                found[name] = Property(value)
    return found


def component(cls=None, *, name=None):
    """Registers a Python class as a component class, under `name` (default:
    the class's own name), and returns the class. Used as @component or
    @component(name="TMyGain"). A class registered again under its name (a
    module imported again) replaces the earlier one when it publishes the
    same properties."""

    def register(klass):
        class_name = name or klass.__name__
        if not class_name.isidentifier():
            raise ValueError(f"a component class name is an identifier, not {class_name!r}")
        process = getattr(klass, "process", None)
        if not callable(process):
            raise TypeError(f"component class {class_name} has no process(self, x) method")
        params = [p for p in _inspect.signature(process).parameters.values()
                  if p.kind in (p.POSITIONAL_ONLY, p.POSITIONAL_OR_KEYWORD)]
        if len(params) not in (2, 3):
            raise TypeError(f"{class_name}.process takes (self, x) or (self, x, out)")
        props = []
        for prop_name, prop in _published(klass).items():
            props.append((prop_name, _KINDS[type(prop.default)], prop.default,
                          None if prop.min is None else float(prop.min),
                          None if prop.max is None else float(prop.max), prop.description))
        _nxruntime._register_component(class_name, klass, props, len(params) == 3)
        klass.__nx_class_name__ = class_name
        return klass

    return register(cls) if cls is not None else register


def _import_module_file(name, path):
    """Imports the module `name` from the file `path` (the package loader
    found it on the package search path), executing that file alone: nothing
    is looked up on sys.path. A module of that name imported from that same
    file before is not imported again; one from another file is refused."""
    if not name.isidentifier():
        raise ImportError(f"{name!r} is not a bare module name")
    path = _os.path.realpath(path)
    known = _sys.modules.get(name)
    if known is not None:
        known_file = getattr(known, "__file__", None)
        if known_file and _os.path.realpath(known_file) == path:
            return known
        raise ImportError(f"a module named {name!r} is imported already from {known_file or 'the interpreter'}, "
                          f"not from {path}")
    found = _importlib_util.spec_from_file_location(name, path)
    module = _importlib_util.module_from_spec(found)
    _sys.modules[name] = module
    try:
        found.loader.exec_module(module)
    except BaseException:
        del _sys.modules[name]
        raise
    return module
