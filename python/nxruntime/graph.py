"""Graph documents from Python: loaded and checked by the same loader as
`nxflow`, edited through the published properties, saved in their own form
and run on virtual time, with what every sink received as numpy arrays.

    g = nxruntime.Graph.load("examples/graphs/filter-demo.xml")
    g["LowPass"].Order = 256          # the checks and messages of `nxflow set`
    samples = g.run(seconds=2)        # {"LowPassScope": array([...]), ...}
    g.save()                          # back into the document, text or binary as read

Packages are looked up by name in the folders given as `packages`, then in
`packages` beside this module (a pip install), then in the build tree's
`packages` folder when the module is the one a build laid out in
build/python/nxruntime, then in those of NXFLOW_PACKAGE_PATH.
"""
import math as _math
import os as _os
from pathlib import Path as _Path

from ._nxruntime import _Graph

__all__ = ["Graph", "Component", "default_package_dirs"]

_HERE = _Path(__file__).resolve().parent


def default_package_dirs():
    """The package folders searched after those given to Graph.load (and
    before NXFLOW_PACKAGE_PATH): `packages` beside the module, and the build
    tree's `packages` folder for a module in build/python/nxruntime."""
    dirs = [_HERE / "packages"]
    build = _HERE.parent.parent
    if _HERE.parent.name == "python" and (build / "CMakeCache.txt").is_file():
        dirs.append(build / "packages")
    return [str(d) for d in dirs]


def _as_text(value):
    """A Python value as the text a property setting takes."""
    if isinstance(value, bool):
        return "True" if value else "False"
    if isinstance(value, float):
        if _math.isnan(value):
            return "NaN"
        if _math.isinf(value):
            return "INF" if value > 0 else "-INF"
        return repr(value)
    if isinstance(value, (int, str)):
        return str(value)
    if isinstance(value, Component):
        return value._path
    raise TypeError(f"a property takes a bool, int, float or str, not {type(value).__name__}")


class Component:
    """A component (or a sub-object) of a loaded graph: its published
    properties read and written as attributes."""

    __slots__ = ("_graph", "_path")

    def __init__(self, graph, path):
        object.__setattr__(self, "_graph", graph)
        object.__setattr__(self, "_path", path)

    @property
    def path(self):
        """The dotted path from the graph's root ("Group.Child")."""
        return self._path

    @property
    def class_name(self):
        return self._graph._native.class_name(self._path)

    @property
    def properties(self):
        """The names of the published properties, in declaration order."""
        return self._graph._native.properties(self._path)

    def __getattr__(self, name):
        if name.startswith("_"):
            raise AttributeError(name)
        value = self._graph._native.get(self._path, name)
        if value is None:  # a sub-object: its own properties go on from here
            return Component(self._graph, f"{self._path}.{name}" if self._path else name)
        return value

    def __setattr__(self, name, value):
        if name.startswith("_"):
            raise AttributeError(f"{name} is not a property")
        self._graph._native.set(self._path, name, _as_text(value))

    def __dir__(self):
        return sorted(set(self.properties) | {"path", "class_name", "properties"})

    def __repr__(self):
        return f"<{self.class_name} {self._path or self._graph.name}>"


class Graph:
    """A graph document loaded for editing and running (no generator starts
    until run)."""

    def __init__(self, native):
        self._native = native

    @classmethod
    def load(cls, path, packages=None):
        """Reads, checks and loads a graph document. `packages`: folders
        searched first for the packages it names. ValueError with the loader's
        message (file and line) for a document it refuses."""
        dirs = [str(_os.fspath(p)) for p in (packages or [])]
        return cls(_Graph(str(_os.fspath(path)), dirs + default_package_dirs()))

    @property
    def path(self):
        return self._native.path

    @property
    def name(self):
        """The name of the document's root component."""
        return self._native.name

    @property
    def package_path(self):
        """The folders packages are looked up in, in order."""
        return self._native.package_path

    @property
    def components(self):
        """The components below the root, as dotted paths, depth first."""
        return self._native.components

    def __getitem__(self, path):
        self._native.class_name(path)  # KeyError for a path that names nothing
        return Component(self, path)

    def __contains__(self, path):
        try:
            self._native.class_name(path)
        except KeyError:
            return False
        return True

    def add(self, class_name, name, owner=""):
        """Makes a component of `class_name` named `name` inside `owner` (a
        component's path; the root by default) and returns it. ValueError for
        an unknown class or a name that is taken or not an identifier."""
        return Component(self, self._native.add(class_name, name, owner))

    def link(self, source, source_pin, sink, sink_pin):
        """Links a source pin to a sink pin (components by their paths), as a
        document's <Link From= FromPin= To= ToPin=/>; a sink pin's earlier
        link is replaced. ValueError with the loader's message for a missing
        component or pin, pins of the wrong kinds or types, or a cycle."""
        self._native.link(source, source_pin, sink, sink_pin)

    def save(self, path=None):
        """Writes the document, over its own file unless `path` is given, in
        the form it was read in (text or binary), keeping the attributes of
        its document element."""
        self._native.save(str(_os.fspath(path)) if path is not None else self._native.path)

    def run(self, seconds=None, out=None):
        """Runs the graph as it stands for `seconds` of stream time (None:
        the document's Seconds, else 10) on virtual time. Returns
        {sink path: numpy float64 array of every sample it received}. The
        files the sinks write go into `out`, else into a temporary folder
        that is removed."""
        if seconds is not None and not float(seconds) > 0:
            raise ValueError(f"seconds needs a positive number, not {seconds!r}")
        return self._native.run(float(seconds) if seconds is not None else 0.0,
                                str(_os.fspath(out)) if out is not None else "")

    def __repr__(self):
        return f"<Graph {self.name} from {self.path}>"
