#!/usr/bin/env python3
"""The peer of bench_filter_chain's threaded chain, (b): 16 multiply-by-constant
blocks on 8-byte items (complex floats), each on the scheduler's own thread,
run at the scheduler's defaults. Prints the CPU time of every thread of the
process per item and hop (median and best of the runs), and the context
switches per item-buffer of 1,024 items and hop, beside what
bench_filter_chain prints for the same chain.

Optional: needs GNU Radio's Python bindings (Debian: apt-get install
gnuradio, then run with the system interpreter, /usr/bin/python3). Neither
the build nor the tests use it.

    /usr/bin/python3 bench/gnuradio_chain.py [--items N] [--runs R]
"""
import argparse
import resource
import statistics
import sys
import time

HOPS = 16


def cpu_ns_and_switches():
    u = resource.getrusage(resource.RUSAGE_SELF)
    return (u.ru_utime + u.ru_stime) * 1e9, u.ru_nvcsw + u.ru_nivcsw


def run_once(gr, blocks, items):
    tb = gr.top_block()
    src = blocks.null_source(gr.sizeof_gr_complex)
    head = blocks.head(gr.sizeof_gr_complex, items)
    chain = [blocks.multiply_const_cc(0.5 if i % 2 else 2.0) for i in range(HOPS)]
    sink = blocks.null_sink(gr.sizeof_gr_complex)
    tb.connect(src, head, *chain, sink)
    cpu0, sw0 = cpu_ns_and_switches()
    t0 = time.perf_counter()
    tb.run()
    real = (time.perf_counter() - t0) * 1e9
    cpu1, sw1 = cpu_ns_and_switches()
    return (cpu1 - cpu0) / (items * HOPS), real / (items * HOPS), (sw1 - sw0) / (items / 1024 * HOPS)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--items", type=int, default=20_000_000)
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    try:
        from gnuradio import gr, blocks
    except ImportError:
        print("GNU Radio's Python bindings are not installed (Debian: apt-get install gnuradio; "
              "run with /usr/bin/python3)", file=sys.stderr)
        return 2
    run_once(gr, blocks, 1_000_000)  # warm-up
    results = [run_once(gr, blocks, args.items) for _ in range(args.runs)]
    cpu = sorted(r[0] for r in results)
    print(f"GNU Radio {gr.version()}: {HOPS} multiply_const_cc, {args.items} items, {args.runs} runs")
    print(f"{'CPU per item per hop (median)':<52} {statistics.median(cpu):9.3f} ns")
    print(f"{'CPU per item per hop (best)':<52} {cpu[0]:9.3f} ns   (CPU time of every thread of the process)")
    print(f"{'real time per item per hop (best)':<52} {min(r[1] for r in results):9.3f} ns")
    best = min(results, key=lambda r: r[0])
    print(f"{'context switches per 1,024 items and hop':<52} {best[2]:9.3f}      (in the run of least CPU time)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
