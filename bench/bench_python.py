"""Throughput of the Python package: denoise() and a Suppressor in 20 ms
chunks on a 10-minute array, and the batch command on a folder of files with
1 and 2 local Dask workers.

    VENV/bin/python bench/bench_python.py [--minutes M] [--reps R] [--files N]

Run it with the interpreter that has the package installed. Times are wall
times, best of R runs; "outside the core" is the share of a call not spent
in the host layer (array checks, copies, the Python layer); "wall/CPU" is
the call's wall time over the process's CPU time in it, about 0.5 where
the work is spread over two cores (denoise() on arrays of eight seconds
or more) and about 1 on one. On a machine busy with other work the wall
time stretches, so "busiest/CPU" gives the CPU time of the busier of the
two threads over the process's: what wall/CPU comes to on two idle cores.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
import time

import numpy as np

import tarnwelnc
from tarnwelnc import _core


def signal(rate, seconds, channels, seed=0):
    """(channels, n) int16: noise with tone bursts, as the tests use."""
    rng = np.random.default_rng(seed)
    n = int(rate * seconds)
    t = np.arange(n) / rate
    bursts = (t % 1.0) > 0.55
    x = rng.normal(0, 500, (channels, n)) + bursts * 4000 * np.sin(2 * np.pi * 300 * t)
    return np.clip(np.round(x), -32768, 32767).astype(np.int16)


def best_of(reps, run):
    """(wall seconds, seconds inside the core, CPU seconds, CPU seconds of
    the busier thread) of the fastest run."""
    best = None
    for _ in range(reps):
        core = _core.core_seconds()
        cpu, mine = time.process_time(), time.thread_time()
        start = time.perf_counter()
        run()
        wall = time.perf_counter() - start
        cpu, mine = time.process_time() - cpu, time.thread_time() - mine
        if best is None or wall < best[0]:
            best = (wall, _core.core_seconds() - core, cpu, max(mine, cpu - mine))
    return best


def in_chunks(x, rate, chunk):
    s = tarnwelnc.Suppressor(rate, channels=x.shape[0])
    for at in range(0, x.shape[1], chunk):
        s.process(x[:, at:at + chunk])
    s.flush()


def arrays(minutes, reps):
    print(f"Arrays of {minutes:g} minutes, best of {reps}:")
    print(f"{'input':46} {'x real time':>12} {'outside the core':>17} {'wall/CPU':>9} "
          f"{'busiest/CPU':>12}")
    for rate, channels, dtype, how in [(16000, 1, np.int16, "denoise"),
                                       (16000, 1, np.int16, "Suppressor, 20 ms chunks"),
                                       (48000, 1, np.float32, "denoise"),
                                       (44100, 2, np.int16, "denoise")]:
        x = signal(rate, minutes * 60, channels)
        if dtype == np.float32:
            x = x.astype(np.float32) / 32768
        if how == "denoise":
            wall, core, cpu, busiest = best_of(reps, lambda: tarnwelnc.denoise(x, rate))
        else:
            wall, core, cpu, busiest = best_of(reps, lambda: in_chunks(x, rate, rate // 50))
        label = f"{rate} Hz, {channels} ch, {np.dtype(dtype).name}, {how}"
        # The core's seconds are the calling thread's wall time inside it.
        print(f"{label:46} {minutes * 60 / wall:12.0f} {100 * (1 - core / wall):16.1f}% "
              f"{wall / cpu:9.2f} {busiest / cpu:12.2f}", flush=True)


def batch(files, seconds):
    print(f"\nBatch command, {files} WAV files of {seconds:g} s (16 kHz mono, 16-bit):")
    import soundfile as sf

    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "src")
        os.makedirs(src)
        for i in range(files):
            sf.write(os.path.join(src, f"f{i:03}.wav"), signal(16000, seconds, 1, seed=i).T,
                     16000, subtype="PCM_16")
        for workers in (1, 2):
            dst = os.path.join(tmp, f"dst{workers}")
            start = time.perf_counter()
            done = subprocess.run([sys.executable, "-m", "tarnwelnc.batch", "--local",
                                   str(workers), src, dst], capture_output=True, text=True)
            total = time.perf_counter() - start
            if done.returncode != 0:
                sys.exit(f"batch failed:\n{done.stderr}")
            line = re.search(r"wall time: .*", done.stdout).group(0)
            print(f"  {workers} worker(s): {line}; {total:.1f} s with the cluster's start",
                  flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--minutes", type=float, default=10.0)
    parser.add_argument("--reps", type=int, default=3)
    parser.add_argument("--files", type=int, default=20)
    parser.add_argument("--file-seconds", type=float, default=60.0)
    args = parser.parse_args()
    arrays(args.minutes, args.reps)
    batch(args.files, args.file_seconds)


if __name__ == "__main__":
    main()
