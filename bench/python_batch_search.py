#!/usr/bin/python3
"""Search of one query against 1,000,000 stored templates with ravel.batch.

Builds the store in the workers' memory: shards of real x-vector templates of
the trained test deployment's recordings, each scaled by a random factor near 1
(so that the stored templates differ), one exact copy of the query's own template
planted at a known position, spread evenly over the workers. Then times
search_loaded (scatter of the query, scoring of every shard on its worker,
merge of the shard top lists) and checks that the planted copy ranks first.

    PYTHONPATH=build/python python3 bench/python_batch_search.py [--templates N]

Not run by CTest; needs about 4.2 GB of memory for a million templates.
"""
import argparse
import glob
import os
import statistics
import sys
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def make_shard(values, durations, first, n, seed, planted):
    """n stored templates numbered first..; `planted` = (number, values) or None."""
    import numpy as np

    from ravel.store import Shard
    rng = np.random.default_rng(seed)
    rows = np.empty((n, values.shape[1]), dtype=np.float32)
    picks = rng.integers(0, len(values), n)
    scale = (1 + 0.05 * rng.standard_normal((n, 1))).astype(np.float32)
    for start in range(0, n, 65536):
        stop = min(n, start + 65536)
        np.multiply(values[picks[start:stop]], scale[start:stop], out=rows[start:stop])
    durs = durations[picks].astype(np.float32)
    numbers = np.arange(first, first + n, dtype=np.int32)
    if planted is not None:
        number, row, dur = planted
        rows[number - first] = row
        durs[number - first] = dur
    return Shard(numbers, ["spk%d" % i for i in numbers], rows, durs)


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    p.add_argument("--models", default=os.path.join(REPO, "tests", "data", "trained"))
    p.add_argument("--templates", type=int, default=1_000_000)
    p.add_argument("--workers", type=int, default=2)
    p.add_argument("--shards-per-worker", type=int, default=2)
    p.add_argument("--top", type=int, default=5)
    p.add_argument("--repeat", type=int, default=10)
    args = p.parse_args()
    import ravel
    from ravel import batch
    from ravel.templates import values_of
    models = os.path.abspath(args.models)
    wavs = sorted(glob.glob(os.path.join(models, "heldout", "*.wav")))
    with ravel.Engine(models) as engine:
        templates = [engine.template(w) for w in wavs]
        query = engine.template(os.path.join(models, "conversation", "es-f1-enrol.wav"))
        size = engine.template_size
    values, durations, _ = values_of(templates, size)
    qvalues, qdur, _ = values_of(query, size)
    planted_number = args.templates // 3

    with batch.make_client(args.workers) as client:
        client.wait_for_workers(args.workers)
        workers = sorted(client.scheduler_info()["workers"])
        count = args.workers * args.shards_per_worker
        per = (args.templates + count - 1) // count
        shards = []
        t0 = time.perf_counter()
        for k in range(count):
            first = k * per
            n = min(per, args.templates - first)
            planted = (planted_number, qvalues[0], qdur[0]) \
                if first <= planted_number < first + n else None
            shards.append(client.submit(make_shard, values, durations, first, n, k, planted,
                                        workers=[workers[k % len(workers)]], pure=False))
        client.gather(client.submit(lambda *s: sum(len(x) for x in s), *shards))
        print("%d templates in %d shards on %d workers, built in %.1f s"
              % (args.templates, count, args.workers, time.perf_counter() - t0))
        times, cpu = [], []
        for _ in range(args.repeat):
            c0 = client.run(time.process_time)
            t0 = time.perf_counter()
            [hits] = batch.search_loaded(client, models, shards, qvalues, args.top)
            times.append(time.perf_counter() - t0)
            c1 = client.run(time.process_time)
            # The busiest worker's processor time: the wall time on idle cores.
            cpu.append(max(c1[w] - c0[w] for w in c0))
        assert hits[0][1] == planted_number, hits
        print("top %d: %s" % (args.top, ", ".join("%s %.2f" % (h[2], h[0]) for h in hits)))
        print("search of one query: median %.3f s, best %.3f s, worst %.3f s (%d runs)"
              % (statistics.median(times), min(times), max(times), args.repeat))
        print("processor time of the busiest worker per search: median %.3f s, best %.3f s"
              % (statistics.median(cpu), min(cpu)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
