"""Figures of the Python package: the cost of a view, a primitive from Python
against the same routine called straight through its dispatch pointer (as C++
calls it: ctypes, no argument checks), Add against numpy's a + b into a preallocated output, and rfft against
numpy.fft.rfft at 2^10 ... 2^20. Prints a table; asserts nothing.

    PYTHONPATH=build/python python3 python/bench/bench_python.py
"""
import ctypes
import timeit

import numpy as np

import nxruntime as nx
from nxruntime import primitives as ipp


def best(stmt, number, repeat=7, **names):
    return min(timeit.repeat(stmt, globals=names, number=number, repeat=repeat)) / number


def row(what, ours, peer, peer_name):
    print(f"{what:<34} {ours * 1e6:12.3f} {peer * 1e6:12.3f}  {peer / ours:6.2f}x  vs {peer_name}")



def raw_add():
    """ippsAdd_64f through its dispatch pointer, the call C++ makes."""
    lib = ctypes.CDLL("libnxruntime.so.0")
    ptr = ctypes.c_void_p.in_dll(lib, "_ZN2nx17NXBasicDispatcher11ippsAdd_64fE").value
    proto = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int)
    return proto(ptr)


def main():
    print(f"{'figure':<34} {'ours (us)':>12} {'peer (us)':>12}  {'peer/ours':>7}")
    b = nx.RealBuffer(np.arange(1024.0))
    a = np.ones(1024)
    row("numpy.asarray(RealBuffer)", best("np.asarray(b)", 200000, np=np, b=b),
        best("np.asarray(a)", 200000, np=np, a=a), "asarray(ndarray)")
    n = 1_000_000
    x, y, out = np.random.rand(n), np.random.rand(n), np.empty(n)
    row("ippsAdd_64f, 10^6 doubles", best("f(x, y, out, n)", 50, f=ipp.ippsAdd_64f, x=x, y=y, out=out, n=n),
        best("np.add(x, y, out=out)", 50, np=np, x=x, y=y, out=out), "np.add(a, b, out=)")
    c_add = raw_add()
    px, py, po = x.ctypes.data, y.ctypes.data, out.ctypes.data
    row("ippsAdd_64f, 10^6 doubles", best("f(x, y, out, n)", 50, f=ipp.ippsAdd_64f, x=x, y=y, out=out, n=n),
        best("f(x, y, out, n)", 50, f=c_add, x=px, y=py, out=po, n=n), "the C call (ctypes)")
    row("ippsSum_64f, 10^6 doubles", best("f(x, n)", 50, f=ipp.ippsSum_64f, x=x, n=n),
        best("x.sum()", 50, x=x), "ndarray.sum()")
    small = np.random.rand(16)
    row("ippsSum_64f, 16 doubles (overhead)", best("f(x, 16)", 100000, f=ipp.ippsSum_64f, x=small),
        best("x.sum()", 100000, x=small), "ndarray.sum()")
    for order in range(10, 21, 2):
        v = np.random.rand(1 << order)
        k = max(5, 20000 >> order)
        row(f"rfft 2^{order}", best("f(v)", k, f=nx.fft.rfft, v=v), best("f(v)", k, f=np.fft.rfft, v=v), "numpy.fft.rfft")


if __name__ == "__main__":
    main()
