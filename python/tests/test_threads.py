"""The GIL is let go while kernels run: Python threads calling primitives, the
FFT, streaming filters and buffer views at once get the same results as alone,
and the block counts come back. A watchdog fails the test if anything hangs."""
import faulthandler
import threading

import numpy as np
import pytest

import nxruntime as nx
from nxruntime import design, fft
from nxruntime import primitives as ipp


@pytest.fixture
def watchdog():
    faulthandler.dump_traceback_later(120, exit=True)  # a hang ends the run with every thread's stack
    yield
    faulthandler.cancel_dump_traceback_later()


def run_threads(work, count=4):
    errors = []

    def guarded(i):
        try:
            work(i)
        except Exception as e:  # reported on the main thread
            errors.append(e)

    threads = [threading.Thread(target=guarded, args=(i,)) for i in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=100)
    assert not any(t.is_alive() for t in threads)
    assert not errors, errors


def test_kernels_in_threads_match_the_single_threaded_results(watchdog):
    rng = np.random.default_rng(3)
    data = [rng.standard_normal(1 << 16) for _ in range(4)]
    sos = design.iir(6, 3000, fs=48000).sos
    expected = [(a + a[::-1], np.fft.rfft(a), design.Filter.from_sos(sos)(a)) for a in data]

    def work(i):
        a, rev = data[i], np.ascontiguousarray(data[i][::-1])
        out = np.empty_like(a)
        f = design.Filter.from_sos(sos)
        for _ in range(20):
            ipp.ippsAdd_64f(a, rev, out, a.size)
            np.testing.assert_array_equal(out, expected[i][0])
            np.testing.assert_allclose(fft.rfft(a), expected[i][1], rtol=0, atol=1e-9)
            f.reset()
            np.testing.assert_array_equal(np.concatenate([f(a[:1000]), f(a[1000:])]), expected[i][2])

    run_threads(work)


def test_views_and_writes_from_threads_leave_the_counts_as_they_were(watchdog):
    b = nx.RealBuffer(np.arange(1000.0))
    shared = [b.share() for _ in range(4)]

    def work(i):
        mine = shared[i]
        for k in range(200):
            v = np.asarray(mine)
            assert v[1] == 1.0 or v[1] == -k + 1  # its own earlier write, or the original
            mine.modify()[:] = -k  # copies the block the first time: b never changes
            del v

    run_threads(work)
    np.testing.assert_array_equal(np.asarray(b), np.arange(1000.0))
    assert b.owners == 1 and all(s.owners == 1 for s in shared)


def test_keyword_arguments_and_the_seed_result():
    d1, d2 = np.empty(16), np.empty(16)
    s1 = ipp.ippsRandUniform_Direct_64f(d1, 16, 0.0, 1.0, pSeed=5)
    s2 = ipp.ippsRandUniform_Direct_64f(pDst=d2, len=16, low=0.0, high=1.0, pSeed=5)
    np.testing.assert_array_equal(d1, d2)
    assert s1 == s2 != 5 and ((d1 >= 0) & (d1 <= 1)).all()
    with pytest.raises(TypeError, match="unexpected keyword argument 'size'"):
        ipp.ippsSum_64f(d1, size=16)
    with pytest.raises(TypeError, match="two values for argument 'len'"):
        ipp.ippsSum_64f(d1, 16, len=16)
    with pytest.raises(TypeError, match="len must be an int"):
        ipp.ippsSum_64f(d1, 16.0)
