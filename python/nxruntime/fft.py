"""numpy.fft's fft, ifft, rfft and irfft on the library's FFT.

Same signatures and conventions as numpy.fft (n, axis, norm = "backward",
"ortho" or "forward"); any length: powers of two run the library's
transform directly, other lengths through Bluestein's algorithm on it.
"""
import numpy as _np

from . import _nxruntime

__all__ = ["fft", "ifft", "rfft", "irfft"]


def _scale(norm, n, inverse):
    if norm is None or norm == "backward":
        return 1.0 / n if inverse else 1.0
    if norm == "ortho":
        return 1.0 / _np.sqrt(n)
    if norm == "forward":
        return 1.0 if inverse else 1.0 / n
    raise ValueError(f'Invalid norm value {norm}; should be "backward", "ortho" or "forward".')


def _fit(a, n, axis):
    """a with its axis cropped or zero-padded to n, moved last, as 2-D rows."""
    if n < 1:
        raise ValueError(f"Invalid number of FFT data points ({n}) specified.")
    a = _np.moveaxis(a, axis, -1)
    m = a.shape[-1]
    if m > n:
        a = a[..., :n]
    elif m < n:
        pad = _np.zeros(a.shape[:-1] + (n - m,), dtype=a.dtype)
        a = _np.concatenate([a, pad], axis=-1)
    return a


def _run(a, n, axis, make):
    shape = a.shape[:-1]
    rows = _np.ascontiguousarray(a).reshape(-1, a.shape[-1])
    out = make(rows)
    return _np.moveaxis(out.reshape(shape + out.shape[-1:]), -1, axis)


def fft(a, n=None, axis=-1, norm=None):
    a = _np.asarray(a)
    if n is None and norm is None and a.ndim == 1 and a.size and a.dtype == _np.complex128 and a.flags.c_contiguous:
        return _nxruntime._fft_c2c(a.reshape(1, -1), False, 1.0)[0]
    n = a.shape[axis] if n is None else int(n)
    x = _fit(a.astype(_np.complex128, copy=False), n, axis)
    s = _scale(norm, n, False)
    return _run(x, n, axis, lambda r: _nxruntime._fft_c2c(r, False, s))


def ifft(a, n=None, axis=-1, norm=None):
    a = _np.asarray(a)
    n = a.shape[axis] if n is None else int(n)
    x = _fit(a.astype(_np.complex128, copy=False), n, axis)
    s = _scale(norm, n, True)
    return _run(x, n, axis, lambda r: _nxruntime._fft_c2c(r, True, s))


def rfft(a, n=None, axis=-1, norm=None):
    a = _np.asarray(a)
    if n is None and norm is None and a.ndim == 1 and a.size and a.dtype == _np.float64 and a.flags.c_contiguous:
        return _nxruntime._fft_r2c(a.reshape(1, -1), 1.0)[0]  # the common case, without the reshaping
    if _np.iscomplexobj(a):
        raise TypeError("rfft takes real input")
    n = a.shape[axis] if n is None else int(n)
    x = _fit(a.astype(_np.float64, copy=False), n, axis)
    s = _scale(norm, n, False)
    return _run(x, n, axis, lambda r: _nxruntime._fft_r2c(r, s))


def irfft(a, n=None, axis=-1, norm=None):
    a = _np.asarray(a)
    n = 2 * (a.shape[axis] - 1) if n is None else int(n)
    x = _fit(a.astype(_np.complex128, copy=False), n // 2 + 1, axis) if n >= 1 else None
    if x is None:
        raise ValueError(f"Invalid number of FFT data points ({n}) specified.")
    s = _scale(norm, n, True)
    return _run(x, n, axis, lambda r: _nxruntime._fft_c2r(r, n, s))
