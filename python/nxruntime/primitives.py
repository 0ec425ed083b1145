"""Every vector primitive of the library's dispatch lists, callable on numpy arrays.

Generated from the lists the library is built from (vector/NX*Dispatcher.inc):
a primitive added to a list appears here by itself. Each mirrors its C
signature (see the `signature` attribute): arrays of exactly the C element
type for pointers, writable ones for pDst/pSrcDst; pointers to single values
(pSum, pMin, pIndx ...) are returned; FFT specs and filter states are Handle
objects from the InitAlloc primitives. Arrays are checked against the lengths
the call asks for; errors raise TypeError/ValueError naming the primitive and
the status, and the GIL is released while the routine runs.

    import numpy as np
    from nxruntime import primitives as ipp
    a, b = np.ones(8), np.arange(8.0)
    out = np.empty(8)
    ipp.ippsAdd_64f(a, b, out, 8)
    ipp.ippsSum_64f(out, 8)            # -> 36.0
"""
from ._nxruntime import _primitives as _p

Handle = _p.Handle
Primitive = _p.Primitive
#: every primitive, in list order (a name listed by two units appears twice)
all = list(_p.all)
#: unit name -> {primitive name -> primitive}
units = {}
for _prim in all:
    units.setdefault(_prim.unit, {})[_prim.name] = _prim
    globals().setdefault(_prim.name, _prim)
#: the option constants (ippCmpLess, IPP_FFT_DIV_INV_BY_N, ippRndNear ...)
constants = dict(_p.constants)
globals().update(constants)
status_name = _p.status_name
del _prim
