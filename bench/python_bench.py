"""The timings of bench/python-bench.sh: python_bench.py CLI SAMPLES BIG_XLSX WORK"""

import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

import cellverter
import cellverter.dask
import pandas
from distributed import Client, LocalCluster

RUNS = 3


def timed(label, action, runs=RUNS, prepare=lambda: None):
    times = []
    for _ in range(runs):
        prepare()
        start = time.perf_counter()
        action()
        times.append(time.perf_counter() - start)
    spread = f" ± {statistics.stdev(times):.2f}" if runs > 1 else ""
    print(f"{label}: {statistics.mean(times):.2f} s{spread} (min {min(times):.2f}, {runs} runs)",
          flush=True)
    return statistics.mean(times)


def main():
    cli, samples, big, work = sys.argv[1], Path(sys.argv[2]), Path(sys.argv[3]), Path(sys.argv[4])
    # 1,000 small workbooks, each its own name, as the samples' three workbooks.
    books = work / "books"
    if not books.is_dir() or len(list(books.iterdir())) != 1000:
        shutil.rmtree(books, ignore_errors=True)
        books.mkdir(parents=True)
        sources = [samples / "sales.xlsx", samples / "international.xlsx", samples / "sales.xls"]
        for i in range(1000):
            source = sources[i % len(sources)]
            shutil.copy(source, books / f"book-{i:04}{source.suffix}")
    paths = sorted(str(p) for p in books.iterdir())
    out = work / "out"

    def fresh():
        shutil.rmtree(out, ignore_errors=True)

    print("== 1,000 small workbooks")
    cli_time = timed("cellverter-cli -j 2", lambda: subprocess.run(
        [cli, "-j", "2", "-d", str(out), str(books)], check=True, stdout=subprocess.DEVNULL),
        prepare=fresh)
    timed("cellverter.convert(jobs=2), in one process",
          lambda: cellverter.convert(paths, out, jobs=2), prepare=fresh)

    start = time.perf_counter()
    cluster = LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None)
    client = Client(cluster)
    client.run(lambda: __import__("cellverter"))
    print(f"LocalCluster start (2 worker processes): {time.perf_counter() - start:.2f} s")

    def dask_run(batch_size):
        outcomes = cellverter.dask.convert(paths, out, client=client, batch_size=batch_size)
        assert all(o.error is None for o in outcomes)

    timed("cellverter.dask.convert, 2 workers, a task per workbook", lambda: dask_run(1),
          prepare=fresh)
    dask_time = timed("cellverter.dask.convert, 2 workers, 16 workbooks a task",
                      lambda: dask_run(16), prepare=fresh)
    print(f"ratio dask / cli: {dask_time / cli_time:.1f}")
    client.close()
    cluster.close()

    print(f"== {big.name} ({big.stat().st_size / 2**20:.0f} MiB)")
    read_time = timed("cellverter.read", lambda: cellverter.read(big))
    pandas_time = timed("pandas.read_excel (openpyxl)",
                        lambda: pandas.read_excel(big, engine="openpyxl", header=None), runs=1)
    print(f"ratio pandas / cellverter: {pandas_time / read_time:.1f}")


if __name__ == "__main__":
    # The cluster's worker processes import this file again: only the main process runs.
    main()
