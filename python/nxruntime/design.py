"""Filter design with the library's designers, and streaming filters.

    from nxruntime import design
    lp = design.fir(128, 2000, fs=48000, window="blackman")   # windowed sinc
    bp = design.iir(4, (5000, 9000), fs=48000, btype="bandpass", ftype="butter")
    lp.report.stopband_attenuation_db, bp.report.minus3db, bp.report.stable
    f = bp.filter()                # keeps its state from call to call
    y = np.concatenate([f(x[:1000]), f(x[1000:])])   # == scipy.signal.sosfilt(bp.sos, x)

Frequencies are in Hz at the sample rate fs (default 2.0, so that they are
fractions of Nyquist as in scipy). The report is measured from the taps:
pass-band ripple, stop-band attenuation, -3 dB points, group delay, stability.
"""
from dataclasses import dataclass, field

import numpy as _np

from ._nxruntime import _design as _d

__all__ = ["fir", "iir", "Design", "Report", "Filter", "WINDOWS", "BANDS", "IIR_TYPES"]

WINDOWS = {"rect": 0, "boxcar": 0, "bartlett": 1, "blackman": 2, "hamming": 3, "hanning": 4, "hann": 4, "kaiser": 5}
BANDS = {"lowpass": 0, "highpass": 1, "bandpass": 2, "bandstop": 3}
IIR_TYPES = {"bessel": 0, "butter": 1, "butterworth": 1, "cheby1": 2, "chebyshev": 2}
# Transition widths of the windowed-sinc designs in rate / taps (as the
# example package's FIR component measures its report).
_TRANSITION = {0: 0.9, 1: 4.0, 2: 5.5, 3: 3.3, 4: 3.1, 5: 3.7}


def _pick(table, value, what):
    try:
        return table[str(value).lower()]
    except KeyError:
        raise ValueError(f"unknown {what} {value!r} (one of {', '.join(sorted(table))})") from None


def _corners(cutoff, band, fs):
    c = _np.atleast_1d(_np.asarray(cutoff, dtype=float))
    need = 2 if band >= 2 else 1
    if c.size != need:
        raise ValueError(f"{'a band filter' if need == 2 else 'a low- or high-pass'} takes {need} cutoff frequenc{'ies' if need == 2 else 'y'}")
    if not _np.all((c > 0) & (c < fs / 2)):
        raise ValueError(f"cutoff frequencies must lie between 0 and fs/2 = {fs / 2:g}")
    if need == 2 and not c[0] < c[1]:
        raise ValueError("the band's low edge must be below its high edge")
    return float(c[0]), float(c[-1])


def _band(bands, lo, hi):
    lo, hi = max(lo, 0.0), min(hi, 0.5)
    if hi > lo:
        bands.append((lo, hi))


@dataclass
class Report:
    """What a design achieves, measured from its taps (frequencies in Hz)."""
    passband_ripple_db: float
    stopband_attenuation_db: float
    passband_peak: float
    minus3db: list = field(default_factory=list)
    group_delay_dc: float = float("nan")
    group_delay_centre: float = float("nan")
    stable: bool = True


class Filter:
    """A streaming filter: process(x) (or f(x)) filters one block and keeps the
    state for the next, like scipy.signal.lfilter / sosfilt with zi carried."""

    def __init__(self, kind, taps, zi=None):
        self._s = _d.Stream(kind, _np.ascontiguousarray(taps, dtype=float).ravel(),
                            None if zi is None else _np.ascontiguousarray(zi, dtype=float).ravel())

    @classmethod
    def from_taps(cls, taps):
        return cls(_d.FIR, taps)

    @classmethod
    def from_ba(cls, b, a):
        b, a = _np.atleast_1d(_np.asarray(b, float)), _np.atleast_1d(_np.asarray(a, float))
        n = max(b.size, a.size)
        b, a = _np.pad(b, (0, n - b.size)), _np.pad(a, (0, n - a.size))
        return cls(_d.IIR, _np.concatenate([b, a]))

    @classmethod
    def from_sos(cls, sos):
        return cls(_d.BIQUAD, _np.asarray(sos, float).reshape(-1, 6))

    def process(self, x):
        return self._s.process(_np.ascontiguousarray(x, dtype=float))

    __call__ = process

    def reset(self):
        """Back to the state it started with."""
        self._s.reset()


class Design:
    """A designed filter: its taps (b, a or sos), the report and a streaming filter."""

    def __init__(self, info, fs, kind, passbands=(), stopbands=()):
        self._info, self.fs, self.kind = info, fs, kind
        self.taps = info.taps
        r = info.report(list(passbands), list(stopbands))
        self.report = Report(r["passband_ripple_db"], r["stopband_attenuation_db"], r["passband_peak"],
                             [f * fs for f in r["minus3db"]], r["group_delay_dc"], r["group_delay_centre"], r["stable"])

    @property
    def b(self):
        return self.taps if self.kind == "fir" else self.taps[: self.taps.size // 2] if self.kind == "ba" else None

    @property
    def a(self):
        return _np.array([1.0]) if self.kind == "fir" else self.taps[self.taps.size // 2:] if self.kind == "ba" else None

    @property
    def sos(self):
        return self.taps.reshape(-1, 6) if self.kind == "sos" else None

    def evaluate(self, f):
        """H at f Hz (complex)."""
        return self._info.evaluate(f / self.fs)

    def group_delay(self, f):
        """The group delay at f Hz, in samples."""
        return self._info.group_delay(f / self.fs)

    def filter(self, zi=None):
        kind = {"fir": _d.FIR, "ba": _d.IIR, "sos": _d.BIQUAD}[self.kind]
        return Filter(kind, self.taps, zi)

    def __repr__(self):
        return f"<Design {self.kind} {self.taps.size} taps at {self.fs:g} Hz: {self.report}>"


def fir(order, cutoff, fs=2.0, btype="lowpass", window="hamming", window_param=None):
    """Windowed-sinc FIR of order+1 taps (an even order; odd orders get one more
    tap). cutoff: Hz, or (low, high) for bandpass/bandstop."""
    band, win = _pick(BANDS, btype, "filter type"), _pick(WINDOWS, window, "window")
    lo, hi = _corners(cutoff, band, fs)
    param = float("nan") if window_param is None else float(window_param)
    info = _d.design(_d.FIR, band, int(order), lo, hi, float(fs), win, param, 1, 0.0)
    taps = info.taps.size
    d, lo, hi = _TRANSITION[win] / (2 * taps), lo / fs, hi / fs
    p, s = [], []
    if band == 0:
        _band(p, 0, lo - d), _band(s, lo + d, 0.5)
    elif band == 1:
        _band(s, 0, lo - d), _band(p, lo + d, 0.5)
    elif band == 2:
        _band(s, 0, lo - d), _band(p, lo + d, hi - d), _band(s, hi + d, 0.5)
    else:
        _band(p, 0, lo - d), _band(s, lo + d, hi - d), _band(p, hi + d, 0.5)
    return Design(info, float(fs), "fir", p, s)


def iir(order, cutoff, fs=2.0, btype="lowpass", ftype="butter", ripple=1.0, output="sos"):
    """Butterworth, Chebyshev (ripple dB) or Bessel IIR, as second-order sections
    (output="sos"; an odd order is rounded up to whole sections) or one direct
    form (output="ba"). The report's stop bands start an octave beyond the corners."""
    band, kind = _pick(BANDS, btype, "filter type"), _pick(IIR_TYPES, ftype, "IIR type")
    if output not in ("sos", "ba"):
        raise ValueError('output must be "sos" or "ba"')
    lo, hi = _corners(cutoff, band, fs)
    info = _d.design(_d.BIQUAD if output == "sos" else _d.IIR, band, int(order), lo, hi, float(fs), 0, float("nan"),
                     kind, float(ripple))
    lo, hi, p, s = lo / fs, hi / fs, [], []
    if band == 0:
        _band(p, 0, lo), _band(s, 2 * lo, 0.5)
    elif band == 1:
        _band(p, lo, 0.5), _band(s, 0, lo / 2)
    elif band == 2:
        _band(p, lo, hi), _band(s, 0, lo / 2), _band(s, 2 * hi, 0.5)
    else:
        _band(p, 0, lo), _band(p, hi, 0.5)
    return Design(info, float(fs), output, p, s)
