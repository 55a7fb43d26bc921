#!/usr/bin/python3
"""Batch enrolment throughput and worker memory of ravel.batch on Dask.

Enrols about --hours of audio (the trained test deployment's recordings,
repeated) on LocalClusters of 1, 2 and 4 single-threaded workers, and reports
wall time, audio seconds per second and the speed-up over one worker. Then
reports each worker's memory growth when it opens the engine, with the shared
i-vector model and without: unique set size (pages no other process shares)
and proportional set size.

    PYTHONPATH=build/python python3 bench/python_batch_enrol.py [--kind ivector]

Not run by CTest. The shared model segment is removed at the end.
"""
import argparse
import os
import statistics
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def memory():
    import psutil
    m = psutil.Process().memory_full_info()
    return m.uss, m.pss, m.rss


def open_engine(models, share):
    from ravel import batch
    before = memory()
    batch.worker_engine(models, share)
    after = memory()
    return [a - b for a, b in zip(after, before)] + [after[0]]


def manifest(path, models, seconds):
    import glob

    import ravel
    wavs = sorted(glob.glob(os.path.join(models, "heldout", "*.wav")))
    wavs += sorted(glob.glob(os.path.join(models, "conversation", "es-*-enrol.wav")))
    lengths = [len(ravel.read_audio(w)) / ravel.SAMPLE_RATE for w in wavs]
    total, rows = 0.0, []
    while total < seconds:
        for w, s in zip(wavs, lengths):
            rows.append(("spk%d" % len(rows), w))
            total += s
            if total >= seconds:
                break
    with open(path, "w") as f:
        f.writelines("%s\t%s\n" % r for r in rows)
    return len(rows), total


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--models", default=os.path.join(REPO, "tests", "data", "trained"))
    p.add_argument("--hours", type=float, default=1.0)
    p.add_argument("--workers", type=int, nargs="+", default=[1, 2, 4])
    p.add_argument("--kind", default="xvector", choices=("xvector", "ivector"))
    p.add_argument("--shard-size", type=int, default=32)
    p.add_argument("--repeat", type=int, default=3)
    args = p.parse_args()
    import ravel
    from ravel import batch
    models = os.path.abspath(args.models)
    work = tempfile.mkdtemp(prefix="ravel-bench-")
    lines, audio = manifest(os.path.join(work, "m.tsv"), models, args.hours * 3600)
    print("%d recordings, %.0f s of audio, %s templates, shards of %d"
          % (lines, audio, args.kind, args.shard_size))
    base = None
    print("workers  wall s (median of %d)  audio s per s  speed-up" % args.repeat)
    for n in args.workers:
        with batch.make_client(n) as client:
            client.wait_for_workers(n)
            client.run(open_engine, models, True)
            times = []
            for r in range(args.repeat):
                out = os.path.join(work, "store-%d-%d" % (n, r))
                t0 = time.perf_counter()
                batch.enrol(client, models, os.path.join(work, "m.tsv"), out, args.kind,
                            args.shard_size, True)
                times.append(time.perf_counter() - t0)
            wall = statistics.median(times)
            base = base if base is not None else wall * args.workers[0]
            print("%7d  %20.2f  %13.0f  %8.2f" % (n, wall, audio / wall, base / wall))
    print()
    print("memory added by opening the engine, per worker process (MB):")
    print("shared model  worker   USS     PSS     RSS   (USS after)")
    for share in (True, False):
        ravel.delete_shared_model()
        with batch.make_client(4) as client:
            client.wait_for_workers(4)
            # One after the other, as workers starting at different times do.
            for i, addr in enumerate(sorted(client.scheduler_info()["workers"])):
                uss, pss, rss, after = client.run(open_engine, models, share,
                                                  workers=[addr])[addr]
                print("%-12s  %6d  %6.1f  %6.1f  %6.1f   %6.1f"
                      % (share, i + 1, uss / 2**20, pss / 2**20, rss / 2**20, after / 2**20))
    ravel.delete_shared_model()
    return 0


if __name__ == "__main__":
    sys.exit(main())
