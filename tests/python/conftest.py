"""Shared set-up of the vemlapy tests: the module (and the test-only probe
module) from the build tree named by VEMLA_BUILD_DIR, and the bundled test
server as a subprocess on an ephemeral port."""

import glob
import os
import subprocess
import sys
import tempfile

import pytest

BUILD_DIR = os.environ.get("VEMLA_BUILD_DIR", "")
MODULE_DIR = os.path.join(BUILD_DIR, "python")
PROBE_DIR = os.path.join(BUILD_DIR, "tests", "python")
SERVER = os.path.join(BUILD_DIR, "test_server", "vemla_test_server")

if not glob.glob(os.path.join(MODULE_DIR, "vemlapy*.so")):
    # Built without the Python module: nothing here can run. A module that
    # exists but does not import is a failure, not a skip.
    collect_ignore_glob = ["test_*.py"]
else:
    sys.path[:0] = [MODULE_DIR, PROBE_DIR]


def start_server(*switches, endpoint="tcp://127.0.0.1:*"):
    """Starts the test server; returns the process and the endpoint it bound."""
    log = tempfile.TemporaryFile(mode="w+")
    # The sanitizer runtime preloaded into this interpreter is not the
    # server's business (a sanitized server carries its own).
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    proc = subprocess.Popen([SERVER, "--endpoint", endpoint, *switches],
                            stdout=subprocess.PIPE, stderr=log, text=True, env=env)
    proc.log = log
    line = proc.stdout.readline()
    if not line.startswith("endpoint: "):
        stop_server(proc, check=False)
        raise RuntimeError("server did not start: %r" % line)
    return proc, line[len("endpoint: "):].strip()


def stop_server(proc, check=True):
    proc.terminate()
    try:
        code = proc.wait(timeout=20)
        proc.log.seek(0)
        if check:
            assert code == 0, "server ended with %s: %s" % (code, proc.log.read())
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        proc.log.close()


@pytest.fixture
def server_factory():
    """Starts servers with the given switches; stops them all afterwards."""
    started = []

    def start(*switches):
        proc, endpoint = start_server(*switches)
        started.append(proc)
        return endpoint

    yield start
    for proc in started:
        stop_server(proc)
