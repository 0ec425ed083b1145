"""What a Python component costs in a graph: the time per 1,024-sample buffer
beyond its own `process`, against the C++ gain of the example package
(TNXGain) in the same place, run in the same process.

Each graph is a tone through a chain of 16 copies of one filter into a scope;
the graph's own costs (clock, generator, sink) are the same for both chains
and drop out of the difference:

    overhead = (chain of Python gains - chain of TNXGain) / (16 * buffers)
               - the Python gain's process called directly on a 1,024-sample array

and the same for a Python filter that returns its input against TNXGain of
Gain 1, which passes its input on untouched.

The graphs run on virtual time, ten buffers a clock step; each figure is the
best of several runs. Prints a table; asserts nothing.

    PYTHONPATH=build/python python3 python/bench/bench_components.py [--seconds S] [--repeat N]
"""
import argparse
import sys
import tempfile
import time
import timeit
from pathlib import Path

import numpy as np

import nxruntime as nx

MODULE = '''
import nxruntime

@nxruntime.component
class TBenchGain:
    Gain = nxruntime.Property(1.0)

    def process(self, x):
        return self.Gain * x


@nxruntime.component
class TBenchPass:
    def process(self, x):
        return x
'''

GRAPH = """<?xml version="1.0" encoding="UTF-8"?>
<NXGraph Version="1" Packages="nxexamples, benchgain">
  <TNXGroup Name="Bench">
    <_Components>
      <TNXSineGenerator Name="Tone" SampleRate="{rate}" BufferSize="1024" Frequency="440"/>
      {filters}
      <TNXScopeView Name="Sink" FileName="out.png" Samples="64" Width="64" Height="64"/>
    </_Components>
  </TNXGroup>
  <Links>
    {links}
  </Links>
</NXGraph>
"""

RATE = 1024 * 10000  # ten buffers per 1 ms clock step
CHAIN = 16


def graph_time(folder, cls, seconds, repeat, gain):
    doc = folder / f"{cls}.xml"
    attrs = f' Gain="{gain}"' if gain is not None else ""
    names = ["Tone"] + [f"F{i}" for i in range(CHAIN)] + ["Sink"]
    filters = "\n".join(f'<{cls} Name="{n}"{attrs}/>' for n in names[1:-1])
    links = "\n".join(f'<Link From="{a}" FromPin="OutputPin" To="{b}" ToPin="InputPin"/>' for a, b in zip(names, names[1:]))
    doc.write_text(GRAPH.format(rate=RATE, filters=filters, links=links))
    g = nx.Graph.load(doc, packages=[folder])
    best, buffers = float("inf"), 0
    for _ in range(repeat):
        start = time.perf_counter()
        got = g.run(seconds=seconds)
        best = min(best, time.perf_counter() - start)
        buffers = got["Sink"].size // 1024
    return best / (buffers * CHAIN), buffers


def main():
    args = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    args.add_argument("--seconds", type=float, default=0.5, help="stream time of each run")
    args.add_argument("--repeat", type=int, default=5)
    opts = args.parse_args()
    with tempfile.TemporaryDirectory() as tmp:
        folder = Path(tmp)
        (folder / "benchgain.py").write_text(MODULE)
        cpp, buffers = graph_time(folder, "TNXGain", opts.seconds, opts.repeat, 1.0001)
        noop, _ = graph_time(folder, "TNXGain", opts.seconds, opts.repeat, 1)  # Gain 1 touches no sample
        python, _ = graph_time(folder, "TBenchGain", opts.seconds, opts.repeat, 1.0001)
        passing, _ = graph_time(folder, "TBenchPass", opts.seconds, opts.repeat, None)
        module = sys.modules["benchgain"]
        gain, passer = module.TBenchGain(), module.TBenchPass()
        gain.Gain = 1.0001
        x = np.sin(np.arange(1024.0))
        x.flags.writeable = False
        own = min(timeit.repeat("p(x)", globals={"p": gain.process, "x": x}, number=20000, repeat=7)) / 20000
        own_pass = min(timeit.repeat("p(x)", globals={"p": passer.process, "x": x}, number=20000, repeat=7)) / 20000
    print(f"{buffers} buffers of 1,024 samples a run through {CHAIN} filters, best of {opts.repeat} runs")
    print(f"{'figure':<52} {'us/buffer':>10}")
    print(f"{'a TNXGain in the chain (C++, the peer)':<52} {cpp * 1e6:10.2f}")
    print(f"{'a TNXGain of Gain 1 in the chain (C++, a no-op)':<52} {noop * 1e6:10.2f}")
    print(f"{'a TBenchGain in the chain (Python: Gain * x)':<52} {python * 1e6:10.2f}")
    print(f"{'a TBenchPass in the chain (Python: returns x)':<52} {passing * 1e6:10.2f}")
    print(f"{'TBenchGain.process called directly':<52} {own * 1e6:10.2f}")
    print(f"{'TBenchPass.process called directly':<52} {own_pass * 1e6:10.2f}")
    print(f"{'overhead beyond process, gain (goal <= 5 us)':<52} {(python - cpp - own) * 1e6:10.2f}")
    print(f"{'overhead beyond process, pass-through (goal <= 5 us)':<52} {(passing - noop - own_pass) * 1e6:10.2f}")


if __name__ == "__main__":
    main()
