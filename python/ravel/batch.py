"""Batch enrolment, search and diarization on Dask distributed.

    python3 -m ravel.batch enrol MANIFEST --out STORE --models DIR [--workers N | --scheduler ADDR]
    python3 -m ravel.batch search QUERIES --store STORE --models DIR [--top N]
    python3 -m ravel.batch diarize LIST --out DIR --models DIR

Every job runs on a dask.distributed client: a LocalCluster of --workers
processes (one thread each) by default, or the cluster at --scheduler. Each
worker process opens the engine once, with the shared i-vector model unless
--no-share-model, so the workers of a host read one copy of it. Every task
writes what it writes in one rename and writes the same bytes when retried, so
a task that Dask reruns after losing a worker neither loses nor duplicates
anything.
"""
import argparse
import glob
import os
import sys
import threading
from typing import Dict, List, Optional, Sequence, Tuple

import numpy as np

from . import store as store_mod
from ._errors import DiarizationError, RavelError
from .engine import Engine
from .templates import top_matches, values_of

DEFAULT_SHARD_SIZE = 64
RETRIES = 3

_engines: Dict[Tuple[str, bool], Engine] = {}
_scorers: Dict[str, object] = {}
_lock = threading.Lock()


# ---------------------------------------------------------------- on workers

def worker_engine(models: str, share_model: bool = True) -> Engine:
    """The engine of this worker process, opened on first use."""
    key = (os.path.abspath(models), bool(share_model))
    with _lock:
        engine = _engines.get(key)
        if engine is None:
            engine = Engine(key[0], share_model=key[1])
            _engines[key] = engine
        return engine


def worker_scorer(models: str):
    """The batch scorer of this worker process (needs no engine)."""
    from . import _ravel
    key = os.path.abspath(models)
    with _lock:
        scorer = _scorers.get(key)
        if scorer is None:
            scorer = _ravel.BatchScorer(key)
            _scorers[key] = scorer
        return scorer


def enrol_shard(models: str, share_model: bool, kind: str, store: str, k: int,
                first: int, rows: Sequence[Tuple[str, str]]) -> Tuple[int, int, int]:
    """Enrols manifest lines first.. of shard k; returns (k, enrolled, failed)."""
    engine = worker_engine(models, share_model)
    if engine.template_size != store_mod.TEMPLATE_BYTES:
        raise ValueError("the store holds %d-byte templates; %s makes %d-byte ones"
                         % (store_mod.TEMPLATE_BYTES, models, engine.template_size))
    entries, failures = [], []
    for i, (name, path) in enumerate(rows):
        number = first + i
        try:
            entries.append((number, name, engine.template(path, kind)))
        except (RavelError, OSError, ValueError) as e:
            failures.append((number, name, path, str(e)))
    store_mod.write_shard(store, k, entries, failures)
    return k, len(entries), len(failures)


def query_template(models: str, share_model: bool, kind: str, path: str) -> Optional[bytes]:
    try:
        return worker_engine(models, share_model).template(path, kind)
    except (RavelError, OSError, ValueError):
        return None


def load_shard(path: str) -> store_mod.Shard:
    return store_mod.load_shard(path)


def search_shard(models: str, shard: store_mod.Shard, probes: np.ndarray, top: int):
    """Top `top` of one shard per probe: list of [(score, number, name)]."""
    scorer = worker_scorer(models)
    out = []
    for probe in probes:
        if len(shard) == 0:
            out.append([])
            continue
        scores = scorer.score(probe, shard.values, shard.durations)
        out.append([(float(scores[i]), int(shard.numbers[i]), shard.names[i])
                    for i in top_matches(scores, top)])
    return out


def search_shard_file(models: str, path: str, probes: np.ndarray, top: int):
    return search_shard(models, store_mod.load_shard(path), probes, top)


def diarize_recording(models: str, share_model: bool, path: str, out_dir: str, method: str):
    """Writes out_dir/<name>.rttm; returns (path, turns or None, reason)."""
    engine = worker_engine(models, share_model)
    file_id = os.path.splitext(os.path.basename(path))[0]
    try:
        turns = engine.diarize(path, rttm=os.path.join(out_dir, file_id + ".rttm"), method=method)
    except DiarizationError as e:
        return path, None, e.reason
    return path, len(turns), ""


# ---------------------------------------------------------------- on the client

def make_client(workers: int = 2, scheduler: Optional[str] = None, **cluster_options):
    """A client of the cluster at `scheduler`, or of a new LocalCluster of
    `workers` single-threaded processes."""
    from dask.distributed import Client
    if scheduler:
        return Client(scheduler)
    # A client that starts its own LocalCluster also stops it when it closes.
    return Client(n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=":0",
                  **cluster_options)


def _wait(client, futures, show_progress):
    if show_progress:
        from dask.distributed import progress
        progress(futures)
        print()
    return client.gather(futures)


def enrol(client, models: str, manifest: str, store: str, kind: str = "xvector",
          shard_size: int = DEFAULT_SHARD_SIZE, share_model: bool = True,
          show_progress: bool = False) -> Tuple[int, int]:
    """Enrols every manifest line into the store; returns (enrolled, failed)."""
    rows = store_mod.read_manifest(manifest)
    os.makedirs(store, exist_ok=True)
    models = os.path.abspath(models)
    store = os.path.abspath(store)
    futures = []
    for k, first in enumerate(range(0, len(rows), shard_size)):
        futures.append(client.submit(enrol_shard, models, share_model, kind, store, k, first,
                                     rows[first:first + shard_size], retries=RETRIES,
                                     key="enrol-shard-%05d-%s" % (k, _token(
                                         models, kind, store, rows[first:first + shard_size]))))
    results = _wait(client, futures, show_progress)
    # A worker lost in the middle of a write leaves its temporary file; the
    # rerun of its task wrote the shard itself.
    for tmp in glob.glob(os.path.join(store, "shard-*.tmp*")):
        os.remove(tmp)
    return sum(r[1] for r in results), sum(r[2] for r in results)


def _token(*parts):
    import hashlib
    return hashlib.sha1(repr(parts).encode()).hexdigest()[:12]


def merge_top(per_shard: List[List[Tuple[float, int, str]]], top: int):
    """Merges shard top lists (in store order) into one top list; equal scores
    keep store order, as a single pass over the whole store would."""
    merged = [(-s, shard, rank, number, name)
              for shard, hits in enumerate(per_shard)
              for rank, (s, number, name) in enumerate(hits)]
    merged.sort()
    return [(-m[0], m[3], m[4]) for m in merged[:top]]


def search_loaded(client, models: str, shards: list, probes: np.ndarray, top: int = 5):
    """Top `top` (score, number, name) per probe over shards that are already
    in the workers' memory (futures of Shard) or on disk (paths)."""
    models = os.path.abspath(models)
    probes = np.ascontiguousarray(probes, dtype=np.float32).reshape(len(probes), -1)
    [probes_future] = client.scatter([probes], broadcast=True, hash=False)
    futures = []
    for shard in shards:
        fn = search_shard_file if isinstance(shard, str) else search_shard
        futures.append(client.submit(fn, models, shard, probes_future, top, pure=False,
                                     retries=RETRIES))
    per_shard = client.gather(futures)
    return [merge_top([hits[q] for hits in per_shard], top) for q in range(len(probes))]


def search(client, models: str, queries: Sequence[str], store: str, top: int = 5,
           kind: str = "xvector", share_model: bool = True, show_progress: bool = False):
    """Per query path: (path, [(score, number, name)] best first), or (path, None)
    for a query that gives no template."""
    models = os.path.abspath(models)
    futures = [client.submit(query_template, models, share_model, kind, q, retries=RETRIES)
               for q in queries]
    templates = _wait(client, futures, show_progress)
    good = [i for i, t in enumerate(templates) if t is not None]
    results: List = [(q, None) for q in queries]
    if not good:
        return results
    size = len(templates[good[0]])
    probes = values_of([templates[i] for i in good], size)[0]
    hits = search_loaded(client, models, store_mod.shard_paths(store), probes, top)
    for i, h in zip(good, hits):
        results[i] = (queries[i], h)
    return results


def diarize(client, models: str, recordings: Sequence[str], out_dir: str,
            method: str = "pieces", share_model: bool = True, show_progress: bool = False):
    """Writes one RTTM file per recording; returns [(path, turns or None, reason)]."""
    os.makedirs(out_dir, exist_ok=True)
    models = os.path.abspath(models)
    out_dir = os.path.abspath(out_dir)
    futures = [client.submit(diarize_recording, models, share_model, os.path.abspath(p), out_dir,
                             method, retries=RETRIES) for p in recordings]
    return _wait(client, futures, show_progress)


# ---------------------------------------------------------------- command line

def _parser():
    p = argparse.ArgumentParser(prog="python3 -m ravel.batch", description=__doc__.split("\n")[0])
    common = argparse.ArgumentParser(add_help=False)
    common.add_argument("--models", required=True, help="deployment folder")
    where = common.add_mutually_exclusive_group()
    where.add_argument("--workers", type=int, default=2, help="local worker processes (2)")
    where.add_argument("--scheduler", help="address of a running Dask scheduler")
    common.add_argument("--kind", choices=("xvector", "ivector"), default="xvector")
    common.add_argument("--no-share-model", dest="share_model", action="store_false",
                        help="each worker loads its own i-vector model")
    sub = p.add_subparsers(dest="job", required=True)
    e = sub.add_parser("enrol", parents=[common], help="manifest (NAME<TAB>PATH) -> store")
    e.add_argument("manifest")
    e.add_argument("--out", required=True, help="store folder")
    e.add_argument("--shard-size", type=int, default=DEFAULT_SHARD_SIZE)
    s = sub.add_parser("search", parents=[common], help="query recordings against a store")
    s.add_argument("queries", help="list of query recordings, one a line")
    s.add_argument("--store", required=True)
    s.add_argument("--top", type=int, default=5)
    d = sub.add_parser("diarize", parents=[common], help="recordings -> RTTM files")
    d.add_argument("list", help="list of recordings, one a line")
    d.add_argument("--out", required=True, help="folder for the RTTM files")
    d.add_argument("--method", default="pieces")
    return p


def main(argv=None) -> int:
    args = _parser().parse_args(argv)
    # Dask's progress bar writes to standard output: only for a watcher.
    show = sys.stdout.isatty()
    with make_client(args.workers, args.scheduler) as client:
        if args.job == "enrol":
            if args.shard_size < 1:
                raise SystemExit("--shard-size must be at least 1")
            done, failed = enrol(client, args.models, args.manifest, args.out, args.kind,
                                 args.shard_size, args.share_model, show)
            print("enrolled %d, failed %d (see %s/*.failed.tsv)" % (done, failed, args.out))
            return 0 if done or not failed else 1
        if args.job == "search":
            queries = store_mod.read_list(args.queries)
            for path, hits in search(client, args.models, queries, args.store, args.top,
                                     args.kind, args.share_model, show):
                if hits is None:
                    print("%s\t-\t-\tno template" % path)
                    continue
                for rank, (score, number, name) in enumerate(hits, 1):
                    print("%s\t%d\t%s\t%d\t%.4f" % (path, rank, name, number, score))
            return 0
        results = diarize(client, args.models, store_mod.read_list(args.list), args.out,
                          args.method, args.share_model, show)
        bad = [(p, reason) for p, turns, reason in results if turns is None]
        for p, reason in bad:
            print("%s: %s" % (p, reason), file=sys.stderr)
        print("diarized %d of %d recordings into %s" % (len(results) - len(bad), len(results),
                                                        args.out))
        return 1 if bad else 0


if __name__ == "__main__":
    # Run as the module ravel.batch, not as __main__, so that the workers find
    # the task functions by their module name.
    from ravel.batch import main as _main
    sys.exit(_main())
