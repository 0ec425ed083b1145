"""nxruntime from Python: the library's buffers as numpy arrays, every vector
primitive of its dispatch lists, the FFT and filter design, and graph
documents loaded, edited, saved and run (nxruntime.Graph), and component
classes written in Python (nxruntime.component).

    import numpy as np, nxruntime
    b = nxruntime.RealBuffer(np.arange(4.0))
    np.asarray(b)                      # zero-copy, read-only view of the block
    with b.modifying() as w:           # the block becomes b's own, then writable
        w *= 2
    nxruntime.fft.rfft(np.ones(1024))
    g = nxruntime.Graph.load("examples/graphs/filter-demo.xml")
    g["LowPass"].Order = 256
    g.run(seconds=1)["LowPassScope"]   # every sample that sink received
"""
import contextlib as _contextlib

from . import _nxruntime
from ._nxruntime import (Buffer, RealBuffer, ComplexBuffer, IntegerBuffer, UnsignedBuffer, BlockBuffer,
                         BooleanBuffer, RealMatrixBuffer, buffer_from_bytes)
from . import primitives, fft, design
from .graph import Graph, Component
from .components import Property, component

__all__ = ["Buffer", "RealBuffer", "ComplexBuffer", "IntegerBuffer", "UnsignedBuffer", "BlockBuffer",
           "BooleanBuffer", "RealMatrixBuffer", "buffer_from_bytes", "primitives", "fft", "design",
           "Graph", "Component", "Property", "component"]


@_contextlib.contextmanager
def _modifying(self):
    """`with buffer.modifying() as w:` a writable view (buffer.modify()) that
    turns read-only when the block ends, so that it is not written after the
    buffer has been shared again."""
    view = self.modify()
    try:
        yield view
    finally:
        view.flags.writeable = False


Buffer.modifying = _modifying


def _unpickle_buffer(data):
    """Unpickles a buffer (its serialised form, Buffer.to_bytes)."""
    return buffer_from_bytes(data)
