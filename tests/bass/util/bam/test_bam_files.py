"""SAM, BAM and BAI files of the handler, checked with samtools and pysam.

A small C++ tool (tests/tools/bam_tool.cpp) drives the handler: it turns SAM
files into sorted, indexed BAM files, BAM files back into SAM, and BAM into
BAM. samtools must accept what it writes and print the records as the
handler holds them; queries through our index must find what samtools' own
index finds and what a brute-force overlap of the records says; and files
samtools writes must read back equal to `samtools view`.
"""

import os
import pathlib
import random
import shutil
import struct
import subprocess

import pysam
import pytest

REFERENCES = [("chr1", 5_000_000), ("chr2", 300_000), ("chr3", 1_000)]
HEADER = "@HD\tVN:1.6\tSO:unsorted\n" + "".join(f"@SQ\tSN:{n}\tLN:{l}\n" for n, l in REFERENCES)
QUERY_OPS = set("MIS=X")
REFERENCE_OPS = set("MDN=X")


def tool(*args, check=True):
    build = os.environ.get("VEMLA_BUILD_DIR")
    if not build:
        pytest.skip("VEMLA_BUILD_DIR not set (run through ctest)")
    path = pathlib.Path(build) / "tests" / "tools" / "bam_tool"
    assert path.exists(), f"tool not built: {path}"
    done = subprocess.run([str(path), *map(str, args)], capture_output=True, text=True, errors="replace")
    if check:
        assert done.returncode == 0, done.stderr
    return done


def samtools(*args):
    return subprocess.run(["samtools", *map(str, args)], capture_output=True, text=True, check=True).stdout


def random_aux(rng):
    fields = [
        f"Xi:i:{rng.choice([0, -1, 127, 128, -129, 40000, -40000, 2**31 - 1, -2**31, 2**32 - 1])}",
        f"Xf:f:{rng.choice(['0.5', '-3', '1e-07', '123456.7', '2.5e-39'])}",
        f"XZ:Z:{rng.choice(['', 'text with spaces', 'x' * 300])}",
        "XA:A:" + rng.choice("az!~"),
        "XH:H:" + rng.choice(["", "0A1B", "FF" * 20]),
    ]
    for sub, low, high in [("c", -128, 127), ("C", 0, 255), ("s", -32768, 32767), ("S", 0, 65535),
                           ("i", -2**31, 2**31 - 1), ("I", 0, 2**32 - 1)]:
        values = [rng.randint(low, high) for _ in range(rng.randint(0, 6))]
        fields.append(f"B{sub}:B:{sub}" + "".join(f",{v}" for v in values))
    fields.append("Bf:B:f" + "".join(f",{v}" for v in rng.sample(["0.25", "-1", "3.5", "1e-05"], 3)))
    rng.shuffle(fields)
    return fields[: rng.randint(0, len(fields))]


def random_record(rng, index, long_read=False):
    """(SAM line, reference index or None, 0-based start, end) of one record."""
    name = f"read_{index:05d}"
    ops = []
    if rng.random() < 0.3:
        ops.append((rng.randint(1, 30), "S"))
    for _ in range(rng.randint(1, 8)):
        op = rng.choice("MMMMIDN=X")
        length = rng.randint(1, 100_000 if op == "N" else 400)
        ops.append((length, op))
    if long_read:
        ops = [(80_000, "M")]
    seq_len = sum(n for n, op in ops if op in QUERY_OPS)
    ref_len = sum(n for n, op in ops if op in REFERENCE_OPS)
    seq = "".join(rng.choice("ACGTN") for _ in range(seq_len))
    qual = "".join(chr(33 + rng.randint(0, 60)) for _ in range(seq_len))
    if seq_len == 0 or rng.random() < 0.1:
        seq, qual = "*", "*"
    elif rng.random() < 0.1:
        qual = "*"
    cigar = "".join(f"{n}{op}" for n, op in ops)
    kind = rng.random()
    if kind < 0.08:  # unplaced
        columns = [name, "4", "*", "0", "0", "*", "*", "0", "0", seq, qual]
        placed = None
    else:
        ref = rng.choice([0, 0, 1])
        ref_name, ref_length = REFERENCES[ref]
        start = rng.randint(0, ref_length - ref_len - 1)
        if kind < 0.15:  # placed beside its mate, but unmapped
            cigar, ref_len = "*", 1
        flag = 4 if cigar == "*" else rng.choice([0, 16, 256, 2048])
        other = "chr2" if ref == 0 else "chr1"
        mate = rng.choice(["*\t0", f"=\t{start + 50}", f"{other}\t{rng.randint(1, 1000)}"])
        columns = [name, str(flag), ref_name, str(start + 1), str(rng.randint(0, 255)), cigar,
                   *mate.split("\t"), str(rng.randint(-500, 500)), seq, qual]
        placed = (ref, start, start + max(ref_len, 1))
    return "\t".join(columns + random_aux(rng)), placed


def fields_equal(ours, theirs):
    """SAM lines equal, float values within what samtools prints (%g)."""
    a, b = ours.split("\t"), theirs.split("\t")
    if len(a) != len(b) or a[:11] != b[:11]:
        return False
    for x, y in zip(a[11:], b[11:]):
        if x == y:
            continue
        if x[:5] != y[:5] or x[3] not in "fB":
            return False
        xs, ys = x[5:].split(","), y[5:].split(",")
        if len(xs) != len(ys) or (x[3] == "B" and (x[5] != "f" or xs[0] != ys[0])):
            return False
        for u, v in zip(xs[x[3] == "B":], ys[x[3] == "B":]):
            if abs(float(u) - float(v)) > 1e-5 * max(abs(float(u)), 1e-30):
                return False
    return True


def assert_same_records(ours, theirs):
    assert len(ours) == len(theirs)
    for x, y in zip(ours, theirs):
        assert fields_equal(x, y), f"\nours:   {x[:300]}\ntheirs: {y[:300]}"


def body(sam_text):
    return [line for line in sam_text.splitlines() if line and not line.startswith("@")]


@pytest.fixture(scope="module")
def written(tmp_path_factory):
    """A SAM file of random records and the sorted, indexed BAM the handler writes of it."""
    rng = random.Random(11)
    directory = tmp_path_factory.mktemp("bam")
    records = [random_record(rng, i) for i in range(400)] + [random_record(rng, 400, long_read=True)]
    rng.shuffle(records)
    sam = directory / "in.sam"
    sam.write_text(HEADER + "".join(line + "\n" for line, _ in records))
    bam = directory / "ours.bam"
    tool("sam2bam", sam, bam, "index")
    return directory, records, bam


def test_files_we_write_pass_samtools_and_hold_the_records_in_coordinate_order(written):
    directory, records, bam = written
    subprocess.run(["samtools", "quickcheck", "-v", str(bam)], check=True)
    header = samtools("view", "-H", bam)
    assert header.startswith("@HD\tVN:1.6\tSO:coordinate\n")
    assert [l for l in header.splitlines() if l.startswith("@SQ")] == HEADER.splitlines()[1:]

    # The handler's sort is stable: placed records by (reference, position),
    # unplaced ones last, ties in input order.
    order = sorted(records, key=lambda r: (r[1] is None, r[1][0] if r[1] else 0, r[1][1] if r[1] else 0))
    expected = [line for line, _ in order]
    ours = directory / "ours.sam"
    tool("bam2sam", bam, ours)
    assert_same_records(body(ours.read_text()), expected)
    assert_same_records(body(samtools("view", bam)), expected)


def test_our_index_answers_queries_as_samtools_own_index_does(written):
    directory, records, bam = written
    theirs = directory / "theirs" / "copy.bam"
    theirs.parent.mkdir()
    shutil.copy(bam, theirs)
    samtools("index", theirs)
    assert samtools("idxstats", bam) == samtools("idxstats", theirs)

    rng = random.Random(5)
    with pysam.AlignmentFile(str(bam)) as ours:
        for _ in range(60):
            ref = rng.choice([0, 0, 1, 2])
            name, length = REFERENCES[ref]
            start = rng.randint(0, length - 1)
            end = min(length, start + rng.choice([1, 100, 20_000, 300_000]))
            region = f"{name}:{start + 1}-{end}"
            assert samtools("view", bam, region) == samtools("view", theirs, region), region
            fetched = sorted(r.query_name for r in ours.fetch(name, start, end))
            # Brute force: placed records whose span meets the region
            # (samtools treats an unmapped placed record as one base long).
            overlapping = sorted(line.split("\t")[0] for line, placed in records
                                 if placed and placed[0] == ref and placed[1] < end and placed[2] > start)
            assert fetched == overlapping, region


def test_rewriting_a_bam_keeps_one_reference_list(written):
    directory, _, bam = written
    again = directory / "again.bam"
    tool("bam2bam", bam, again, "index")
    assert samtools("idxstats", again) == samtools("idxstats", bam)
    assert samtools("view", again) == samtools("view", bam)


def test_files_samtools_writes_read_back_as_samtools_views_them(tmp_path):
    rng = random.Random(23)
    records = [random_record(rng, i) for i in range(300)] + [random_record(rng, 300, long_read=True)]
    sam = tmp_path / "in.sam"
    sam.write_text(HEADER + "".join(line + "\n" for line, _ in records))
    unsorted_bam, sorted_bam = tmp_path / "st.bam", tmp_path / "st.sorted.bam"
    samtools("view", "-b", "-o", unsorted_bam, sam)
    samtools("sort", "-o", sorted_bam, unsorted_bam)
    for bam in (unsorted_bam, sorted_bam):
        # samtools packs small integers into 8- and 16-bit fields and writes
        # many records per block; both must read back unchanged.
        out = tmp_path / (bam.name + ".sam")
        tool("bam2sam", bam, out)
        assert_same_records(body(out.read_text()), body(samtools("view", bam)))


GOOD_RECORD = b"r\t0\tchr1\t5\t60\t2H1S2M1I3D1P2=1X2H\tchr2\t9\t0\tACGTACG\tIIIIIII\tXA:A:q\tXH:H:1AE3\tXB:B:f,1"
EDGE_CASES = [  # (header lines after the standard header, record line)
    (b"", GOOD_RECORD),
    (b"", b"r\t0\tchr1\t5\t60\t3M\t*\t0\t0\tACGT\t*"),
    (b"", b"r\t4\tchr1\t5\t60\t3M\t*\t0\t0\tACGT\t*"),
    (b"", b"@r\t4\t*\t0\t0\t*\t*\t0\t0\tACG\t*"),
    (b"", b"r\t4\t*\t0\t0\t*\t*\t0\t0\t*\tIIII"),
    (b"", b"r\t4\t*\t0\t0\t*\t*\t0\t0\tACG\tI\x01I"),
    (b"", b"r\t4\t*\t0\t0\t*\t*\t0\t0\tAC\t\xc3\xa9"),
    (b"", b"r 4 * 0 0 * * 0 0 ACG *"),
    (b"", b"r\t4\t*\t0\t0\t*\t\t*\t0\t0\tACG\t*"),
    (b"", b"r\t4\t*\t0\t0\t*\t*\t0\t0\tACG\t*\tXA:A:"),
    (b"", b"r\t4\t*\t0\t0\t*\t*\t0\t0\tACG\t*\tXA:A:\xc3"),
    (b"", b"r\t4\t*\t0\t0\t*\t*\t0\t0\tACG\t*\tXH:H:1AE"),
    (b"", b"r\t4\t*\t0\t0\t*\t*\t0\t0\tACG\t*\tXB:B:x"),
    (b"@RG\tID:a\tDS:two words\n@PG\tID:p\n@CO\tfree text\n", GOOD_RECORD),
    (b"@RG\tSM:x\n", GOOD_RECORD),
    (b"@PG\tPN:x\n", GOOD_RECORD),
    (b"@RG\tID:a\tX:1\n", GOOD_RECORD),
    (b"@RG ID:a\n", GOOD_RECORD),
    (b"@CO free text\n", GOOD_RECORD),
    (b"@SQ\tSN:chr9\tLN:10\t\n", GOOD_RECORD),
]


def test_what_we_accept_makes_files_samtools_reads_and_the_rest_is_refused(tmp_path):
    """Every file written from an accepted header and line opens completely in
    samtools and pysam: the BAM, the SAM rebuilt from it and the SAM written
    back as given. What would break one of them is refused with a message."""
    sam, bam = tmp_path / "in.sam", tmp_path / "out.bam"
    rebuilt, as_given = tmp_path / "rebuilt.sam", tmp_path / "as_given.sam"
    accepted = 0
    for extra_header, line in EDGE_CASES:
        sam.write_bytes(HEADER.encode() + extra_header + line + b"\n")
        done = tool("sam2bam", sam, bam, check=False)
        if done.returncode != 0:
            assert done.returncode == 1 and done.stderr.strip(), (line, done.stderr)
            continue
        accepted += 1
        tool("bam2sam", bam, rebuilt)
        tool("sam2sam", sam, as_given)
        for path in (bam, rebuilt, as_given):
            viewed = subprocess.run(["samtools", "view", str(path)], capture_output=True)
            assert viewed.returncode == 0 and viewed.stdout.count(b"\n") == 1, (extra_header, line, path.name,
                                                                                viewed.stderr)
        with pysam.AlignmentFile(str(bam)) as ours:
            assert len(list(ours)) == 1
    assert accepted == 2


def test_broken_files_are_refused_with_a_message(tmp_path):
    sam = tmp_path / "one.sam"
    sam.write_text(HEADER + "r\t0\tchr1\t5\t60\t4M\t*\t0\t0\tACGT\t!!!!\n")
    bam = tmp_path / "one.bam"
    tool("sam2bam", sam, bam)
    data = bam.read_bytes()
    cut = tmp_path / "cut.bam"
    cut.write_bytes(data[:-28])
    done = tool("bam2sam", cut, tmp_path / "cut.sam", check=False)
    assert done.returncode == 1
    assert "Final BGZF block was not the EOF sequence as expected" in done.stderr

    flipped = bytearray(data)
    first_block = struct.unpack_from("<H", data, 16)[0] + 1
    flipped[first_block - 8] ^= 0x01  # the stored CRC-32 of the header block
    bad = tmp_path / "crc.bam"
    bad.write_bytes(bytes(flipped))
    done = tool("bam2sam", bad, tmp_path / "crc.sam", check=False)
    assert done.returncode == 1
    assert done.stderr.strip() == "CRC mismatch after decompressing BGZF block!"
