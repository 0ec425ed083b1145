"""Buffers as numpy arrays: zero-copy views that own the block, copy on write,
pickling through the library's serialisation."""
import gc
import pickle

import numpy as np
import pytest

import nxruntime as nx

KINDS = [
    (nx.RealBuffer, np.array([1.5, -2.0, 3.25]), np.float64, (3,)),
    (nx.ComplexBuffer, np.array([1 + 2j, -3j]), np.complex128, (2,)),
    (nx.IntegerBuffer, np.array([-7, 0, 2**31 - 1], np.int32), np.int32, (3,)),
    (nx.UnsignedBuffer, np.array([0, 2**32 - 1], np.uint32), np.uint32, (2,)),
    (nx.BlockBuffer, np.array([0, 255, 7], np.uint8), np.uint8, (3,)),
    (nx.RealMatrixBuffer, np.arange(6.0).reshape(2, 3), np.float64, (2, 3)),
]
IDS = [k[0].__name__ for k in KINDS]


@pytest.mark.parametrize("cls, data, dtype, shape", KINDS, ids=IDS)
def test_view_is_zero_copy_read_only_and_typed(cls, data, dtype, shape):
    b = cls(data)
    v = np.asarray(b)
    assert v.dtype == dtype and v.shape == shape and b.shape == shape
    np.testing.assert_array_equal(v, data)
    assert v.ctypes.data == b.address  # the block's memory itself
    assert np.asarray(b).ctypes.data == b.address
    assert not v.flags.writeable
    with pytest.raises(ValueError):
        v[...] = 0


@pytest.mark.parametrize("cls, data, dtype, shape", KINDS, ids=IDS)
def test_sharing_copy_is_untouched_by_modify(cls, data, dtype, shape):
    b = cls(data)
    shared = b.share()
    assert shared.address == b.address and b.owners == 2
    with b.modifying() as w:
        assert w.flags.writeable
        w[...] = w[::-1] if w.ndim == 1 else w[::-1, ::-1]
    assert not w.flags.writeable  # frozen when the block ends
    assert b.address != shared.address  # the block was copied before the write
    np.testing.assert_array_equal(np.asarray(shared), data)
    np.testing.assert_array_equal(np.asarray(b), data[::-1] if data.ndim == 1 else data[::-1, ::-1])


def test_modify_writes_in_place_when_the_block_is_the_buffers_own():
    b = nx.RealBuffer(np.zeros(4))
    address = b.address
    b.modify()[:] = 5
    assert b.address == address and b.owners == 1
    np.testing.assert_array_equal(np.asarray(b), 5)


def test_view_owns_the_block_so_a_later_write_copies_first():
    b = nx.RealBuffer(np.arange(4.0))
    v = np.asarray(b)
    assert b.owners == 2
    b.modify()[:] = -1
    np.testing.assert_array_equal(v, np.arange(4.0))  # a view never changes under its reader
    del v
    gc.collect()
    assert b.owners == 1


def test_view_keeps_its_block_alive_after_the_buffer_is_gone():
    b = nx.RealBuffer(np.linspace(0, 1, 100000))
    v = np.asarray(b)
    address = b.address
    del b
    gc.collect()
    junk = [nx.RealBuffer(np.full(100000, 9.0)) for _ in range(4)]  # reuse freed blocks, if any
    assert v.ctypes.data == address
    np.testing.assert_array_equal(v, np.linspace(0, 1, 100000))
    assert all(np.asarray(j)[0] == 9 for j in junk)


@pytest.mark.parametrize("cls, data, dtype, shape", KINDS, ids=IDS)
def test_pickle_round_trip_through_the_library_serialisation(cls, data, dtype, shape):
    b = cls(data)
    if cls is nx.UnsignedBuffer:  # not among the library's serialisable classes
        with pytest.raises(TypeError, match="cannot be pickled"):
            pickle.dumps(b)
        return
    back = pickle.loads(pickle.dumps(b))
    assert type(back) is cls and back == b
    np.testing.assert_array_equal(np.asarray(back), data)
    assert nx.buffer_from_bytes(b.to_bytes()) == b


def test_boolean_buffer_views_its_packed_bits():
    bits = np.array([1, 0, 1, 1, 0, 0, 0, 0, 1], bool)
    b = nx.BooleanBuffer(bits)
    assert b.size == 9
    np.testing.assert_array_equal(np.unpackbits(np.asarray(b), bitorder="little")[:9], bits)


@pytest.mark.parametrize("bad, exc", [
    (np.zeros((2, 2)), None),          # any shape flattens for a 1-D buffer
    ("text", ValueError),
    ([1, "x"], ValueError),
])
def test_constructor_inputs(bad, exc):
    if exc is None:
        assert nx.RealBuffer(bad).size == 4
    else:
        with pytest.raises(exc):
            nx.RealBuffer(bad)


def test_matrix_needs_two_dimensions_and_bad_bytes_are_refused():
    with pytest.raises(ValueError, match="2-D"):
        nx.RealMatrixBuffer(np.zeros(3))
    with pytest.raises(RuntimeError):
        nx.buffer_from_bytes(b"NXSF\x01garbage")
    empty = nx.RealBuffer(np.zeros(0))
    assert np.asarray(empty).shape == (0,) and len(empty) == 0


def test_asarray_with_a_dtype_converts():
    b = nx.IntegerBuffer(np.array([1, 2], np.int32))
    assert np.asarray(b, dtype=np.float64).dtype == np.float64
