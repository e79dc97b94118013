"""trelis.distributed against the program: the same result, JSON for JSON, on the demo event (both
matching modes) and on a simulated corpus, with the landmarks in several partitions; a worker
killed in the middle of a run costs nothing but time."""
import json
import os
import signal
import subprocess
import sys
import threading
import time

import pytest
from distributed import Client, LocalCluster

import trelis
import trelis.distributed

PROGRAM = os.environ.get("TRELIS_PROGRAM")
MAKE_DEMO = os.environ.get("TRELIS_MAKE_DEMO")
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SIMULATE = os.path.join(SOURCE, "tools", "simulate", "simulate.py")
MUSIC = "/usr/share/games/wesnoth/1.16/data/core/music"


def program_json(folder, work, *options):
    out = os.path.join(work, "program.json")
    if os.path.exists(out):
        os.remove(out)
    subprocess.run([PROGRAM, "-f", folder, *options, "-json", out], check=True,
                   capture_output=True)
    with open(out) as f:
        return json.load(f)


def small_cluster():
    return LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                        dashboard_address=":0")


@pytest.fixture(scope="module")
def client():
    with small_cluster() as cluster, Client(cluster) as c:
        yield c


@pytest.fixture(scope="module")
def demo(tmp_path_factory):
    if not (PROGRAM and MAKE_DEMO):
        pytest.skip("needs TRELIS_PROGRAM and TRELIS_MAKE_DEMO (run through ctest)")
    work = tmp_path_factory.mktemp("demo")
    event = str(work / "event")
    subprocess.run([MAKE_DEMO, event], check=True, capture_output=True)
    return event, program_json(event, str(work)), program_json(event, str(work), "-match",
                                                               "verified")


@pytest.fixture(scope="module")
def corpus(tmp_path_factory):
    """A simulated corpus of short clips (10 events, 4 unrelated clips, seed 5)."""
    if not PROGRAM:
        pytest.skip("needs TRELIS_PROGRAM (run through ctest)")
    if not os.path.isdir(MUSIC):
        pytest.skip(f"the simulator's music is missing ({MUSIC}: scripts/bootstrap.sh accuracy)")
    work = tmp_path_factory.mktemp("corpus")
    out = str(work / "short")
    subprocess.run([sys.executable, SIMULATE, "--corpus", "short", "--out", out, "--seed", "5"],
                   check=True, capture_output=True)
    folder = os.path.join(out, "audio")
    return folder, program_json(folder, str(work), "-popularity", "recording")


@pytest.mark.parametrize("match, partitions", [("spec", 3), ("verified", 2)])
def test_demo_event_gives_the_programs_result(client, demo, match, partitions):
    event, spec, verified = demo
    expected = spec if match == "spec" else verified
    # The demo's hashes are split and their votes summed; verified candidates are measured on the
    # workers, each slot of pairs reading the windows it needs.
    result = trelis.distributed.sync(event, client, partitions=partitions, media="wav",
                                     popularity="total", match=match)
    assert result.shuffle["partitions"] == partitions
    if match == "spec":
        assert result.shuffle["acceptedPairs"] >= 3
        assert trelis.sync(event, media="wav", popularity="total").to_dict() == expected
    else:
        assert result.shuffle["candidates"] >= 6
    assert result.to_dict() == expected
    assert [len(c["members"]) for c in expected["clusters"]] == [4, 1]


def test_simulated_corpus_gives_the_programs_result(client, corpus):
    folder, expected = corpus
    result = trelis.distributed.sync(folder, client, partitions=5, media="wav",
                                     popularity="recording")
    assert result.to_dict() == expected
    assert sum(len(c["members"]) > 1 for c in expected["clusters"]) >= 5


def test_a_worker_killed_during_the_run_is_survived(demo):
    event, expected, _ = demo
    with small_cluster() as cluster, Client(cluster) as c:
        pids = c.run(os.getpid)
        killed = {}

        def kill_when_a_fingerprint_is_held():
            # The first worker to hold a finished fingerprint loses it, while the matching still
            # waits for the others.
            deadline = time.monotonic() + 120
            while time.monotonic() < deadline and not killed:
                held = c.who_has()
                for key, workers in held.items():
                    if str(key).startswith("trelis-fingerprint-") and workers:
                        done = [k for k in held if str(k).startswith("trelis-statistics-")]
                        killed.update(worker=workers[0], statistics_done=len(done))
                        os.kill(pids[workers[0]], signal.SIGKILL)
                        return
                time.sleep(0.005)

        killer = threading.Thread(target=kill_when_a_fingerprint_is_held)
        killer.start()
        result = trelis.distributed.sync(event, c, partitions=2, media="wav",
                                         popularity="total")
        killer.join()
        assert killed and killed["statistics_done"] == 0
        assert result.to_dict() == expected

