"""Every primitive of the generated list, called with good and with bad
arguments; a few results against numpy."""
import warnings

import numpy as np
import pytest

from nxruntime import primitives as ipp

W, H = 4, 4  # image ROI of the image primitives
INTS = {"len": 8, "lenDst": 8, "numIters": 8, "srcLen": 8, "dstLen": 8, "src1Len": 8, "src2Len": 8,
        "tapsLen": 8, "order": 3, "numBq": 2, "scaleFactor": 0, "flag": ipp.IPP_FFT_DIV_INV_BY_N, "hint": 0,
        "rndMode": ipp.ippRndNear, "relOp": ipp.ippCmpLess, "flip": ipp.ippAxsVertical, "alphaType": ipp.ippAlphaOver,
        "interpolation": ipp.IPPI_INTER_NN, "val": 2, "lowLag": 0, "level": 1}
FLOATS = {"alpha": 0.16, "magn": 1.0, "low": 0.0, "high": 1.0, "vDiv": 2.0, "xFactor": 1.0, "yFactor": 1.0,
          "xCenter": 2.0, "yCenter": 2.0}
SIZES = {"roiSize": (W, H), "srcSize": (W, H), "dstRoiSize": (W, H)}


def channels(name):
    return 4 if ("_C4" in name or "_AC4" in name) else 3 if "_C3" in name else 1


def good_args(p):
    """Positional arguments that make a valid call of p, from its parameter list."""
    args = []
    for name, kind, dtype, nullable in p.params:
        if kind in ("result", "new_handle"):
            continue
        if kind == "int":
            if name.endswith("Step"):
                args.append(W * channels(p.name) * np.dtype(
                    next(d for n, k, d, _ in p.params if k in ("in", "out") and d)).itemsize)
            else:
                args.append(INTS.get(name, 2))
        elif kind == "float":
            args.append(FLOATS.get(name, 0.5))
        elif kind == "complex":
            args.append(1 + 1j)
        elif kind == "size":
            args.append(SIZES[name])
        elif kind == "rect":
            args.append((0, 0, W, H))
        elif kind in ("in", "out"):
            args.append(np.full(4 if name in ("value", "nLevels") else 64, 2 if name == "nLevels" else 1.5).astype(dtype))
        elif kind == "work" or (nullable and kind == "in"):
            args.append(None)
        elif kind == "arrays":
            args.append([np.array([0, 255], dtype=dtype) for _ in range(channels(p.name))])
        elif kind == "handle":
            args.append(make_handle(dtype))
        else:
            raise AssertionError(f"{p.name}: parameter {name} of kind {kind}")
    return args


def make_handle(htype):
    maker = next(q for q in ipp.all if any(k == "new_handle" and d == htype for _, k, d, _ in q.params))
    return maker(*good_args(maker))


PRIMS = [pytest.param(p, id=f"{p.unit}.{p.name}") for p in ipp.all]


def test_the_list_is_the_librarys():
    names = {p.name for p in ipp.all}
    assert len(ipp.all) > 190 and {"ippsAdd_64f", "ippsFFTFwd_RToCCS_64f", "ippiResizeCenter_8u_C1R",
                                   "ippsNorm_L2_64fc64f", "ippsThreshold_GT_32s_I"} <= names
    assert all(getattr(ipp, p.name).name == p.name for p in ipp.all)


@pytest.mark.parametrize("p", PRIMS)
def test_good_call(p):
    if not p.available:
        with pytest.raises(NotImplementedError, match=p.name):
            p(*good_args(p))
        return
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # a warning status means the arguments were not good
        p(*good_args(p))


@pytest.mark.parametrize("p", PRIMS)
def test_bad_calls(p):
    args = good_args(p)
    if not p.available:  # vendor-only, no vendor library: refused whatever the arguments
        with pytest.raises(NotImplementedError, match=p.name):
            p(*args[:-1])
        return
    with pytest.raises(TypeError, match=p.name):
        p(*args[:-1]) if not p.params[-1][3] else p(*args, 1, 2, 3)
    arrays = [i for i, a in enumerate(args) if isinstance(a, np.ndarray) and a.size == 64]
    if arrays:
        wrong = list(args)
        wrong[arrays[0]] = args[arrays[0]].astype(np.complex64 if args[arrays[0]].dtype != np.complex64 else np.int8)
        with pytest.raises(TypeError, match=f"{p.name}: .* must have dtype"):
            p(*wrong)
        short = list(args)
        short[arrays[0]] = args[arrays[0]][:1]
        with pytest.raises(ValueError, match=f"{p.name}: .* holds 1 elements, the call needs"):
            p(*short)


@pytest.mark.parametrize("call, status", [
    (lambda: ipp.ippsAdd_64f(np.ones(4), np.ones(4), np.empty(4), 0), "ippStsSizeErr"),
    (lambda: ipp.ippsFFTInitAlloc_R_64f(-1, ipp.IPP_FFT_NODIV_BY_ANY, 0), "ippStsFftOrderErr"),
    (lambda: ipp.ippsFIRInitAlloc_64f(np.ones(4), 0), "ippStsFIRLenErr"),
    (lambda: ipp.ippiCopy_8u_C4R(np.ones(64, np.uint8), -16, np.empty(64, np.uint8), 16, (4, 4)), "must not be negative"),
    (lambda: ipp.ippiLUT_Linear_8u_C4R(np.ones(64, np.uint8), 16, np.empty(64, np.uint8), 16, (4, 4),
                                       [np.arange(2, dtype=np.int32)] * 4, [np.arange(2, dtype=np.int32)] * 4,
                                       np.array([2, 2, 9, 2], np.int32)), r"pValues\[2\] holds 2 elements, nLevels asks for 9"),
])
def test_error_status_names_the_primitive_and_status(call, status):
    with pytest.raises(ValueError, match=status):
        call()


def test_results_against_numpy():
    rng = np.random.default_rng(1)
    a, b, out = rng.standard_normal(1000), rng.standard_normal(1000), np.empty(1000)
    ipp.ippsAdd_64f(a, b, out, 1000)
    np.testing.assert_array_equal(out, a + b)
    ipp.ippsMul_64f(a, b, out, 1000)
    np.testing.assert_array_equal(out, a * b)
    assert ipp.ippsSum_64f(a, 1000) == pytest.approx(a.sum(), rel=1e-12)
    assert ipp.ippsMaxIndx_64f(a, 1000) == (a.max(), int(a.argmax()))
    assert ipp.ippsDotProd_64fc(a.astype(complex), b.astype(complex), 1000) == pytest.approx(np.dot(a, b), rel=1e-12)
    # outputs must be writable, and read-only inputs are fine
    ro = a.copy()
    ro.flags.writeable = False
    with pytest.raises(ValueError, match="writable"):
        ipp.ippsAdd_64f(a, b, ro, 1000)
    ipp.ippsAdd_64f(ro, b, out, 1000)


def test_handles_are_freed_once():
    spec = ipp.ippsFFTInitAlloc_C_64fc(4, ipp.IPP_FFT_NODIV_BY_ANY, 0)
    x = np.arange(16.0).astype(complex)
    y = np.empty(16, complex)
    ipp.ippsFFTFwd_CToC_64fc(x, y, spec)
    np.testing.assert_allclose(y, np.fft.fft(x), atol=1e-12)
    ipp.ippsFFTFree_C_64fc(spec)
    assert spec.freed
    with pytest.raises(ValueError, match="freed"):
        ipp.ippsFFTFwd_CToC_64fc(x, y, spec)
    with pytest.raises(TypeError, match="IppsFFTSpec_C_64fc"):
        ipp.ippsFFTFwd_CToC_64fc(x, y, ipp.ippsFFTInitAlloc_R_64f(4, 8, 0))
