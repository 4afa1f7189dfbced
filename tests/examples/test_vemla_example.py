"""The main-job example as a user runs it: with the bundled server (writing
a sorted, indexed BAM file), pointed at a separately running server
(writing SAM text), and with options it must refuse. Its output is read back
by samtools and pysam, independent readers of the formats."""

import os
import re
import subprocess

import pytest

BUILD_DIR = os.environ.get("VEMLA_BUILD_DIR", "")
EXAMPLE = os.path.join(BUILD_DIR, "examples", "vemla_example")
SERVER = os.path.join(BUILD_DIR, "test_server", "vemla_test_server")
if not os.path.isfile(EXAMPLE):
    pytest.skip("vemla_example not built", allow_module_level=True)


def run_example(tmp_path, name, *args):
    output = tmp_path / name
    proc = subprocess.run([EXAMPLE, "--reads", "40", "--output", str(output), *args],
                          capture_output=True, text=True, timeout=300)
    assert proc.returncode == 0, proc.stdout + proc.stderr
    return proc.stdout, output


def check_summary(stdout, reads):
    assert re.search(r"^reads: +%d sent, %d back$" % (reads, reads), stdout, re.M), stdout
    assert re.search(r"^failures: +0 refused, 0 missing$", stdout, re.M), stdout
    assert re.search(r"^mean quality: +\d+\.\d\d$", stdout, re.M), stdout
    assert re.search(r"reads/s, \d+ samples/s", stdout), stdout
    assert "sent 40/40, back 40" in stdout  # the last progress line


def samtools_count(path):
    proc = subprocess.run(["samtools", "view", "-c", str(path)], capture_output=True, text=True)
    assert proc.returncode == 0, proc.stderr
    return int(proc.stdout)


def test_bundled_server_run_writes_a_sorted_indexed_bam(tmp_path):
    stdout, output = run_example(tmp_path, "reads.bam")
    check_summary(stdout, 40)
    # Every status line, the last one included, comes before the summary.
    statuses = [line for line in stdout.splitlines() if line.startswith("status: ")]
    assert statuses[0] == "status: disconnected -> preparing_connection"
    assert statuses[-1] == "status: connected -> disconnected"
    assert stdout.rindex("status: ") < stdout.index("reads: ")
    assert os.path.isfile(str(output) + ".bai")
    quickcheck = subprocess.run(["samtools", "quickcheck", str(output)], capture_output=True, text=True)
    assert quickcheck.returncode == 0, quickcheck.stderr

    pysam = pytest.importorskip("pysam")
    with pysam.AlignmentFile(str(output), "rb") as bam:
        assert bam.header.to_dict()["HD"]["SO"] == "coordinate"
        assert [sq["SN"] for sq in bam.header.to_dict()["SQ"]] == ["test_chr1", "test_chr2"]
        records = list(bam.fetch(until_eof=True))
        # The index answers region queries: every chr2 record, and nothing else.
        on_chr2 = list(bam.fetch("test_chr2"))
    assert on_chr2 and all(r.reference_name == "test_chr2" for r in on_chr2)
    assert len(on_chr2) == sum(r.reference_name == "test_chr2" for r in records)
    keys = [(r.reference_id, r.reference_start) for r in records]
    assert keys == sorted(keys)
    assert {r.query_name for r in records} == {"example_read_%d" % tag for tag in range(1, 41)}
    primaries = [r for r in records if not r.is_supplementary and not r.is_secondary]
    assert len(primaries) == 40
    assert all(r.has_tag("mv") for r in primaries)
    assert samtools_count(output) == len(records)


def test_external_server_and_config(tmp_path):
    if not os.path.isfile(SERVER):
        pytest.skip("vemla_test_server not built")
    server = subprocess.Popen([SERVER, "--endpoint", "tcp://127.0.0.1:*"], stdout=subprocess.PIPE, text=True)
    try:
        endpoint = server.stdout.readline().strip().split("endpoint: ")[1]
        # The extension picks the format whatever its letter case.
        stdout, output = run_example(tmp_path, "reads.SAM", "--server", endpoint, "--config", "test_dna_modbase")
    finally:
        server.terminate()
        server.wait(timeout=30)
    check_summary(stdout, 40)
    assert "bundled" not in stdout
    assert output.read_bytes().startswith(b"@HD\t")  # text, not BAM

    pysam = pytest.importorskip("pysam")
    with pysam.AlignmentFile(str(output), "r", check_sq=False) as sam:
        records = list(sam.fetch(until_eof=True))  # no reference lines: unaligned reads
    assert len(records) == 40 and all(r.is_unmapped for r in records)
    # Base modifications, under either spelling of the tag names.
    assert all((r.has_tag("Mm") or r.has_tag("MM")) and (r.has_tag("Ml") or r.has_tag("ML")) for r in records)
    assert samtools_count(output) == 40


@pytest.mark.parametrize("args, named", [
    (["--reads", "abc"], "--reads: 'abc'"),
    (["--reads", "99999999999999999999"], "--reads: '99999999999999999999'"),
    (["--reads", "5x"], "--reads: '5x'"),
    (["--reads", "0"], "--reads: '0'"),
    (["--reads", "-3"], "--reads: '-3'"),
    (["--reads"], "--reads needs a value"),
    (["--config", ""], "--config: the value is empty"),
    (["--output", "reads.txt"], "--output: 'reads.txt'"),
    (["--speed", "9"], "unknown option '--speed'"),
])
def test_bad_options_are_refused_by_name(tmp_path, args, named):
    proc = subprocess.run([EXAMPLE, *args], capture_output=True, text=True, timeout=60, cwd=str(tmp_path))
    assert proc.returncode == 2, proc.stdout + proc.stderr
    assert proc.stderr.startswith("vemla_example: " + named), proc.stderr
    assert proc.stdout == "" and not os.listdir(str(tmp_path))  # nothing started, nothing written
