#!/usr/bin/env python3
"""What the Python layer adds: the same reads streamed through vemlapy's
pass_read/get_completed_reads and through the C++ API (bench_client_reads),
each against a fresh test server, in rounds of one run of each side whose
order alternates.

    /usr/bin/python3 bench/vemlapy_bench.py [--build DIR] [--reads N] [--samples N] [--rounds N]

Prints the median time of each side and the median of the rounds' ratios
python/C++ next to its ceiling (1.15), with the range of those ratios.

Most of what Python adds is memory traffic: every completed read becomes new
NumPy arrays, and glibc hands the freed heap top back to the system between
collections, so the next batch faults its pages in again."""

import argparse
import os
import statistics
import subprocess
import sys
import time

import numpy as np

CEILING = 1.15
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def start_server(build):
    server = subprocess.Popen([os.path.join(build, "test_server", "vemla_test_server"),
                               "--endpoint", "tcp://127.0.0.1:*"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    line = server.stdout.readline()
    if not line.startswith("endpoint: "):
        server.kill()
        sys.exit("test server did not start: %r" % line)
    return server, line[len("endpoint: "):].strip()


def stop_server(server):
    server.terminate()
    server.wait(timeout=20)


def run_python(vemlapy, endpoint, reads, samples):
    client = vemlapy.VemlaClient(endpoint, "test_dna_fast")
    VemlaClient = vemlapy.VemlaClient
    assert client.set_params({"client_name": "vemlapy_bench", "max_reads_queued": 100}) == VemlaClient.success
    result = client.connect()
    assert result == VemlaClient.success, result

    def collect():
        return sum(len(group) for group in client.get_completed_reads())

    start = time.perf_counter()
    received = 0
    for index in range(reads):
        read = {"read_tag": index, "read_id": "bench_read_%d" % index, "daq_offset": 4.0,
                "daq_scaling": 0.5, "raw_data": samples}
        while True:
            result = client.pass_read(read, 100)
            if result == VemlaClient.read_accepted:
                break
            assert result == VemlaClient.queue_full, result
            received += collect()
        if index % 16 == 15:
            received += collect()
    finished = client.finish(0)
    received += collect()
    seconds = time.perf_counter() - start
    client.disconnect()
    assert finished == VemlaClient.success and received == reads, (finished, received)
    return seconds


def run_cpp(build, endpoint, reads, samples):
    output = subprocess.run([os.path.join(build, "bench", "bench_client_reads"), endpoint, str(reads),
                             str(samples)], check=True, capture_output=True, text=True).stdout
    return float(output.split("seconds:")[1])


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--reads", type=int, default=10000)
    parser.add_argument("--samples", type=int, default=40000)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()

    sys.path.insert(0, os.path.join(args.build, "python"))
    import vemlapy

    # Same generator range as the C++ side; the values do not change the work.
    samples = np.random.default_rng(42).integers(-2000, 2001, size=args.samples, dtype=np.int16)
    times = {"C++": [], "Python": []}
    for round_index in range(args.rounds):
        # Alternate which side goes first, so drifting load favours neither.
        for side in ("C++", "Python") if round_index % 2 == 0 else ("Python", "C++"):
            server, endpoint = start_server(args.build)
            try:
                if side == "C++":
                    times[side].append(run_cpp(args.build, endpoint, args.reads, args.samples))
                else:
                    times[side].append(run_python(vemlapy, endpoint, args.reads, samples))
            finally:
                stop_server(server)

    typical = {side: statistics.median(values) for side, values in times.items()}
    for side, values in times.items():
        print("%-6s %d reads of %d samples: median %.3f s (%.0f reads/s); rounds %s" % (
            side, args.reads, args.samples, typical[side], args.reads / typical[side],
            " ".join("%.3f" % v for v in values)))
    ratios = [python / cpp for python, cpp in zip(times["Python"], times["C++"])]
    ratio = statistics.median(ratios)
    print("python/C++ time ratio: %.3f (ceiling %.2f) %s (median of %d round%s; range %.3f-%.3f)" % (
        ratio, CEILING, "ok" if ratio < CEILING else "ABOVE CEILING", len(ratios), "" if len(ratios) == 1 else "s",
        min(ratios), max(ratios)))


if __name__ == "__main__":
    main()
