"""nxruntime.fft against numpy.fft; filter design and streaming filters against scipy."""
import numpy as np
import pytest
import scipy.signal as sig

import nxruntime as nx
from nxruntime import design, fft

rng = np.random.default_rng(7)
LENGTHS = [1, 2, 3, 8, 12, 100, 1000, 1024, 4097, 2 ** 16]


def close(a, b, rel=1e-12):
    assert a.shape == b.shape and a.dtype == b.dtype
    scale = max(np.max(np.abs(b)), 1e-300) if b.size else 1
    assert np.max(np.abs(a - b), initial=0) <= rel * scale


@pytest.mark.parametrize("n", LENGTHS)
def test_transforms_agree_with_numpy(n):
    x = rng.standard_normal(n)
    z = x + 1j * rng.standard_normal(n)
    close(fft.fft(z), np.fft.fft(z))
    close(fft.ifft(z), np.fft.ifft(z))
    close(fft.rfft(x), np.fft.rfft(x))
    close(fft.irfft(np.fft.rfft(x), n), np.fft.irfft(np.fft.rfft(x), n))


@pytest.mark.parametrize("norm", [None, "backward", "ortho", "forward"])
@pytest.mark.parametrize("call", ["fft", "ifft", "rfft", "irfft"])
def test_numpy_conventions_n_axis_norm(call, norm):
    x = rng.standard_normal((3, 10, 4))
    if call in ("fft", "ifft"):
        x = x + 1j * rng.standard_normal(x.shape)
    for n, axis in [(None, -1), (16, 1), (7, 0), (5, 1)]:
        close(getattr(fft, call)(x, n=n, axis=axis, norm=norm), getattr(np.fft, call)(x, n=n, axis=axis, norm=norm))


@pytest.mark.parametrize("call, args, exc", [
    (fft.fft, (np.zeros(0),), ValueError),
    (fft.rfft, (np.zeros(4), 0), ValueError),
    (fft.irfft, (np.zeros(1),), ValueError),
    (fft.fft, (np.zeros(4), None, -1, "sideways"), ValueError),
    (fft.rfft, (np.zeros(4, complex),), TypeError),
])
def test_bad_transform_arguments(call, args, exc):
    with pytest.raises(exc):
        call(*args)


def test_fir_design_report_and_streaming_against_scipy():
    lp = design.fir(128, 2000, fs=48000, window="blackman")
    assert lp.taps.size == 129 and lp.kind == "fir"
    np.testing.assert_allclose(lp.taps, lp.taps[::-1], atol=1e-15)  # linear phase
    assert lp.report.stopband_attenuation_db > 70 and lp.report.passband_ripple_db < 0.01
    assert lp.report.group_delay_dc == pytest.approx(64)
    x = rng.standard_normal(5000)
    f = lp.filter()
    y = np.concatenate([f(x[:1234]), f(x[1234:4000]), f(x[4000:])])
    np.testing.assert_allclose(y, sig.lfilter(lp.b, lp.a, x), atol=1e-12)
    f.reset()
    np.testing.assert_allclose(f(x), y, atol=1e-12)


@pytest.mark.parametrize("ftype, btype, cutoff", [
    ("butter", "lowpass", 4000), ("butter", "bandpass", (5000, 9000)), ("cheby1", "highpass", 3000),
    ("bessel", "lowpass", 2000), ("butter", "bandstop", (4000, 8000)),
])
def test_iir_sections_and_direct_form_filter_like_scipy(ftype, btype, cutoff):
    x = rng.standard_normal(4000)
    sos = design.iir(4, cutoff, fs=48000, btype=btype, ftype=ftype, ripple=0.5)
    ba = design.iir(4, cutoff, fs=48000, btype=btype, ftype=ftype, ripple=0.5, output="ba")
    assert sos.report.stable and ba.report.stable
    f = sos.filter()
    y = np.concatenate([f(x[:999]), f(x[999:])])
    np.testing.assert_allclose(y, sig.sosfilt(sos.sos, x), atol=1e-9)
    g = ba.filter()
    np.testing.assert_allclose(np.concatenate([g(x[:10]), g(x[10:])]), sig.lfilter(ba.b, ba.a, x), atol=1e-7)
    # both forms are the same filter
    w = np.linspace(100, 23000, 50)
    np.testing.assert_allclose(sig.sosfreqz(sos.sos, w, fs=48000)[1], sig.freqz(ba.b, ba.a, w, fs=48000)[1], atol=1e-6)


def test_butterworth_minus3db_points_are_the_corners():
    bp = design.iir(4, (5000, 9000), fs=48000, btype="bandpass")
    assert bp.report.minus3db == pytest.approx([5000, 9000], rel=2e-3)
    assert abs(bp.evaluate(7000)) == pytest.approx(1, rel=1e-3)


@pytest.mark.parametrize("call, message", [
    (lambda: design.fir(64, 30000, fs=48000), "between 0 and fs/2"),
    (lambda: design.fir(64, (3000, 2000), fs=48000, btype="bandpass"), "below"),
    (lambda: design.fir(64, 1000, fs=48000, window="gauss"), "unknown window"),
    (lambda: design.iir(12, 1000, fs=48000, ftype="bessel"), "highest Bessel order"),
    (lambda: design.iir(4, 1000, fs=48000, output="zpk"), "output"),
    (lambda: design.Filter.from_sos(np.zeros((1, 6))), "filter state"),
])
def test_bad_designs_are_refused(call, message):
    with pytest.raises(ValueError, match=message):
        call()


def test_stream_initial_state_matches_scipy_zi():
    b, a = sig.butter(3, 0.2)
    zi = sig.lfilter_zi(b, a)
    x = rng.standard_normal(300)
    f = design.Filter.from_ba(b, a)
    np.testing.assert_allclose(f(x), sig.lfilter(b, a, x), atol=1e-12)
    assert f._s.state_length == zi.size
