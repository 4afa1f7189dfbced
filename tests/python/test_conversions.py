"""The module's conversions on data NumPy makes independently: random int16
slices of every stride into a read and back, and the alignment record type
against the library's table layout."""

import numpy as np
import pytest

import vemlapy  # noqa: F401  registers the enumerations and the record type first
import vemlapy_probe

RNG = np.random.default_rng(20261208)

ALIGN_FIELDS = [
    ("genome", "S254", 0), ("direction", "S2", 254), ("genome_start", "<i4", 256),
    ("genome_end", "<i4", 260), ("strand_start", "<i4", 264), ("strand_end", "<i4", 268),
    ("num_events", "<i4", 272), ("num_insertions", "<i4", 276), ("num_deletions", "<i4", 280),
    ("num_aligned", "<i4", 284), ("num_correct", "<i4", 288), ("coverage", "<f4", 292),
    ("identity", "<f4", 296), ("accuracy", "<f4", 300), ("score", "<i4", 304),
    ("bed_hits", "<i4", 308), ("mapping_quality", "<i4", 312),
    ("secondary_alignment", "u1", 316), ("supplementary_alignment", "u1", 317)]


def read_with(samples):
    return {"read_tag": 1, "read_id": "r", "daq_offset": 0.5, "daq_scaling": 2.0,
            "raw_data": samples}


def random_slices():
    base = RNG.integers(-32768, 32768, size=5000, dtype=np.int16)
    for _ in range(20):
        start, stop = sorted(RNG.integers(0, base.size, size=2))
        step = int(RNG.choice([1, 2, 3, 7, -1, -2, -5]))
        yield base[start:stop:step] if step > 0 else base[stop:start:step]
    # Views whose elements are not 2-byte aligned in memory.
    raw = RNG.integers(0, 256, size=2001, dtype=np.uint8)
    yield np.frombuffer(raw.tobytes()[1:], dtype=np.int16)
    yield np.ndarray(shape=(300,), dtype=np.int16, buffer=raw.tobytes(), offset=1, strides=(6,))
    yield base[::-1][::3]
    yield base[:0]


@pytest.mark.parametrize("samples", list(random_slices()), ids=lambda a: "%d@%d" % (a.size, a.strides[0]))
def test_int16_slices_arrive_element_for_element(samples):
    result = vemlapy_probe.read_round_trip(read_with(samples))
    raw = result["datasets"]["raw_data"]
    assert raw.dtype == np.int16 and raw.flags.c_contiguous
    np.testing.assert_array_equal(raw, samples)
    assert result["metadata"] == {"daq_offset": 0.5, "daq_scaling": 2.0, "read_id": "r"}


def test_read_conversion_stops_at_the_first_bad_value():
    assert vemlapy_probe.read_round_trip(read_with(np.zeros(4, dtype=np.uint16))) is None


def test_alignment_record_type_matches_numpy_layout():
    expected = np.dtype({"names": [f[0] for f in ALIGN_FIELDS], "formats": [f[1] for f in ALIGN_FIELDS],
                         "offsets": [f[2] for f in ALIGN_FIELDS], "itemsize": 320})
    rows = vemlapy_probe.alignment_results(3)
    assert rows.shape == (3,)
    assert rows.dtype.itemsize == 320
    assert rows.dtype == expected
    assert {name: rows.dtype.fields[name][1] for name, _, _ in ALIGN_FIELDS} == {
        name: offset for name, _, offset in ALIGN_FIELDS}


def test_alignment_records_read_the_library_table_cells():
    # The probe sets every int32 and float cell to 1000 * row + column, the
    # uint8 cells to (row + column) % 2, so a field read at a wrong offset
    # shows up as a wrong number.
    rows = vemlapy_probe.alignment_results(4)
    for row in range(4):
        record = rows[row]
        assert record["genome"] == b"genome_%d" % row
        assert record["direction"][:1] == (b"+" if row % 2 == 0 else b"-")
        for column, (name, fmt, _) in enumerate(ALIGN_FIELDS[2:17], start=2):
            assert record[name] == 1000 * row + column, name
        assert record["secondary_alignment"] == (row + 17) % 2
        assert record["supplementary_alignment"] == (row + 18) % 2


def test_dataset_with_a_foreign_element_size_is_refused():
    with pytest.raises(RuntimeError, match=r"^Python data type size \(4\) for DataType 8 does not "
                                           r"match input data size \(8\)$"):
        vemlapy_probe.mislabelled_dataset(10, 8)
    assert vemlapy_probe.mislabelled_dataset(10, 4).dtype == np.float32


def test_large_arrays_reuse_storage_without_sharing_it():
    # Arrays above a few tens of KiB get storage that is handed on once
    # Python frees them: an array must keep its own values while it lives
    # and a new one must show only its own, whatever sizes come and go.
    kept = []
    for size in RNG.integers(16 * 1024, 600 * 1024, size=40):
        samples = RNG.integers(-32768, 32768, size=int(size), dtype=np.int16)
        raw = vemlapy_probe.read_round_trip(read_with(samples))["datasets"]["raw_data"]
        assert raw.flags.c_contiguous and raw.flags.writeable
        np.testing.assert_array_equal(raw, samples)
        if len(kept) < 5 or RNG.random() < 0.2:
            kept.append((raw, samples))
        elif kept:
            kept.pop(int(RNG.integers(len(kept))))
    for raw, samples in kept:
        np.testing.assert_array_equal(raw, samples)
