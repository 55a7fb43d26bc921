"""Batch jobs on a two-worker LocalCluster, including the loss of a worker."""
import glob
import os
import signal
import threading
import time

import pytest

distributed = pytest.importorskip("distributed")

import ravel  # noqa: E402
from ravel import batch, store  # noqa: E402


@pytest.fixture(scope="module")
def client():
    with batch.make_client(workers=2) as c:
        c.wait_for_workers(2)
        yield c


def write_manifest(path, rows):
    with open(path, "w") as f:
        f.write("# name\tpath\n")
        for name, wav in rows:
            f.write("%s\t%s\n" % (name, wav))


def test_enrol_and_search(client, engine, models, heldout, tmp_path):
    rows = [(os.path.basename(f)[:-8], f) for f in heldout if f.endswith("-008.wav")]
    rows.append(("broken", str(tmp_path / "missing.wav")))
    write_manifest(tmp_path / "m.tsv", rows)
    out = tmp_path / "store"
    done, failed = batch.enrol(client, models, str(tmp_path / "m.tsv"), str(out), shard_size=5,
                               share_model=False)
    assert (done, failed) == (len(rows) - 1, 1)
    assert len(store.shard_paths(out)) == (len(rows) + 4) // 5
    expected = [(i, n, engine.template(p)) for i, (n, p) in enumerate(rows[:-1])]
    assert store.read_store(out) == expected
    failures = open(store.failed_path(out, len(rows) // 5)).read().split("\t")
    assert failures[:2] == [str(len(rows) - 1), "broken"]

    queries = [f for f in heldout if f.endswith("-009.wav")] + [str(tmp_path / "missing.wav")]
    results = batch.search(client, models, queries, str(out), top=3, share_model=False)
    db = ravel.SpeakerDatabase(engine)
    for number, name, templ in expected:
        db.add(name, templ, number=number)
    for path, hits in results[:-1]:
        reference = db.identify(engine.template(path), top=3)
        assert hits == [(m.score, m.number, m.name) for m in reference]
    assert results[-1] == (queries[-1], None)


def test_merge_keeps_store_order_on_ties():
    shards = [[(80.0, 3, "c"), (70.0, 1, "a")], [(80.0, 9, "x"), (75.0, 8, "y")]]
    assert batch.merge_top(shards, 3) == [(80.0, 3, "c"), (80.0, 9, "x"), (75.0, 8, "y")]


def test_diarize_writes_rttm(client, engine, models, tmp_path):
    wav = os.path.join(models, "conversation", "two-voices.wav")
    results = batch.diarize(client, models, [wav, str(tmp_path / "none.wav")], str(tmp_path),
                            share_model=False)
    assert results[1] == (str(tmp_path / "none.wav"), None, "Wave sprit Error")
    direct = tmp_path / "direct.rttm"
    engine.diarize(wav, rttm=direct)
    assert (tmp_path / "two-voices.rttm").read_text() == direct.read_text().replace(
        "SPEAKER direct", "SPEAKER two-voices")


def test_worker_killed_mid_enrol_leaves_the_store_exact(client, engine, models, heldout,
                                                        tmp_path):
    rows = [(os.path.basename(f)[:-4], f) for f in heldout] * 10
    write_manifest(tmp_path / "m.tsv", rows)
    out = tmp_path / "store"
    pids = list(client.run(os.getpid).values())
    killed = {}

    def kill_one_worker():
        deadline = time.time() + 60
        while time.time() < deadline and not killed:
            written = glob.glob(str(out / "shard-*.spdb"))
            if written:
                killed["shards before"] = len(written)
                os.kill(pids[0], signal.SIGKILL)
                return
            time.sleep(0.005)

    killer = threading.Thread(target=kill_one_worker)
    killer.start()
    done, failed = batch.enrol(client, models, str(tmp_path / "m.tsv"), str(out), shard_size=4,
                               share_model=False)
    killer.join()
    shards = (len(rows) + 3) // 4
    assert killed and killed["shards before"] < shards
    assert (done, failed) == (len(rows), 0)
    reference = {p: engine.template(p) for p in heldout}
    assert store.read_store(out) == [(i, n, reference[p]) for i, (n, p) in enumerate(rows)]
    assert sorted(os.listdir(out)) == sorted(
        [os.path.basename(store.shard_path(out, k)) for k in range(shards)]
        + [os.path.basename(store.failed_path(out, k)) for k in range(shards)])
