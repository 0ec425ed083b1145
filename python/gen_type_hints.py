"""Writes primitives.pyi, the type hints of the generated primitives, from the built module."""
import sys

# The built package (PYTHONPATH), not the sources beside this script.
del sys.path[0]
from nxruntime import _nxruntime  # noqa: E402

PY = {"int": "int", "float": "float", "complex": "complex", "size": "tuple[int, int]",
      "rect": "tuple[int, int, int, int]", "point": "tuple[int, int]", "in": "numpy.ndarray",
      "out": "numpy.ndarray", "work": "None", "arrays": "Sequence[numpy.ndarray]", "handle": "Handle"}
RESULT = {"result": None, "new_handle": "Handle"}


def hints(p):
    args, results = [], []
    for name, kind, dtype, nullable in p.params:
        if kind in RESULT:
            results.append(RESULT[kind] or ("complex" if dtype.startswith("complex") else
                                            "float" if dtype.startswith("float") else "int"))
            if kind == "result":
                args.append(f"{name}: {results[-1]} = ...")
            continue
        t = PY.get(kind, "object")
        args.append(f"{name}: {t} | None = None" if nullable else f"{name}: {t}")
    # parameters with defaults go last in Python; results are keyword-only
    pos = [a for a in args if "=" not in a or "| None = None" in a]
    kw = [a for a in args if "=" in a and "| None = None" not in a]
    sig = ", ".join(pos + (["*"] + kw if kw else []))
    ret = "None" if not results else results[0] if len(results) == 1 else f"tuple[{', '.join(results)}]"
    return f"def {p.name}({sig}) -> {ret}:\n    \"\"\"{p.unit}: {p.signature}\"\"\"\n"


def main(path):
    seen = set()
    out = ['"""Generated from the dispatch lists by python/gen_type_hints.py: do not edit."""',
           "from typing import Sequence", "import numpy", "", "from ._nxruntime._primitives import Handle, Primitive",
           "", "all: list[Primitive]", "units: dict[str, dict[str, Primitive]]", "constants: dict[str, int]",
           "unsized: list[str]", ""]
    for p in _nxruntime._primitives.all:
        if p.name in seen:
            continue
        seen.add(p.name)
        out.append(hints(p))
    for k in _nxruntime._primitives.constants:
        out.append(f"{k}: int")
    with open(path, "w") as f:
        f.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main(sys.argv[1])
