"""vemlapy against the bundled test server: the one-shot queries, and reads
streamed in and back with every result, the SAM lines checked by pysam."""

import json
import time

import numpy as np
import pytest

import vemlapy

VemlaClient = vemlapy.VemlaClient
TIMEOUT_MS = 5000


def test_barcode_and_lamp_kits(server_factory):
    endpoint = server_factory()
    kits, result = VemlaClient.get_barcode_kits(endpoint, TIMEOUT_MS)
    assert result == VemlaClient.success
    assert [list(kit.items()) for kit in kits] == [
        [("kit_name", "TEST-BC12"), ("first_index", 1), ("last_index", 12), ("first_inner_index", 0),
         ("last_inner_index", 0), ("is_both_ends", False), ("is_dual", False)],
        [("kit_name", "TEST-DUAL"), ("first_index", 1), ("last_index", 8), ("first_inner_index", 1),
         ("last_inner_index", 24), ("is_both_ends", True), ("is_dual", True)]]
    assert VemlaClient.get_lamp_kits(endpoint, TIMEOUT_MS) == (
        [{"kit_name": "TEST-LAMP", "first_index": 1, "last_index": 8, "targets": ["target_a", "target_b"]}],
        VemlaClient.success)


def test_statistics_information_and_state(server_factory):
    endpoint = server_factory()
    stats, result = VemlaClient.get_server_stats(endpoint, TIMEOUT_MS)
    assert result == VemlaClient.success
    assert list(stats) == ["lifetime_reads_in", "lifetime_reads_out", "period_reads_in",
                           "period_reads_out", "client_statistics"]
    assert stats["client_statistics"] == []
    state, result = VemlaClient.get_server_internal_state(endpoint, TIMEOUT_MS)
    assert result == VemlaClient.success
    information, result = VemlaClient.get_server_information(endpoint, TIMEOUT_MS)
    assert result == VemlaClient.success
    assert json.loads(information) == json.loads(state)["ServerInformation"]
    assert " " not in information and "\n" not in information


def signal(tag, length):
    return np.random.default_rng(tag).integers(-500, 500, size=length, dtype=np.int16)


def collect_all(client, expected, seconds=30):
    reads = []
    deadline = time.monotonic() + seconds
    while sum(len(group) for group in reads) < expected and time.monotonic() < deadline:
        reads.extend(client.get_completed_reads())
        time.sleep(0.01)
    return reads


@pytest.fixture
def aligned_client(server_factory):
    client = VemlaClient(server_factory(), "test_dna_fast")
    assert client.set_params({"client_name": "pytest", "align_ref": "/refs/test_ref.mmi",
                              "bed_file": "/refs/test_targets.bed", "move_and_trace_enabled": True,
                              "post_out": True}) == VemlaClient.success
    assert client.connect() == VemlaClient.success, client.get_error_message()
    yield client
    client.disconnect()


def test_reads_come_back_once_each_with_their_results(aligned_client, tmp_path):
    pysam = pytest.importorskip("pysam")
    client = aligned_client
    assert client.get_status() == VemlaClient.connected
    assert repr(client) == "VemlaClient(status=connected)"
    # Refused on the status alone, before the dictionary is looked at.
    assert client.set_params({"no_such_key": 1}) == VemlaClient.already_connected
    config, result = client.get_basecalling_config()
    assert result == VemlaClient.success
    assert (config["config_name"], config["model_stride"]) == ("test_dna_fast", 5)

    tags = list(range(1, 9))
    inputs = {tag: signal(tag, 2000 + 100 * tag) for tag in tags}
    for tag in tags:
        # Every other read hands its signal over as a reversed view.
        samples = inputs[tag] if tag % 2 else inputs[tag][::-1].copy()[::-1]
        read = {"read_tag": tag, "read_id": "read_%d" % tag, "daq_offset": 4.0, "daq_scaling": 0.5,
                "raw_data": samples}
        assert client.pass_read(read, 1000) == VemlaClient.read_accepted
    assert client.finish(30) == VemlaClient.success
    groups = collect_all(client, len(tags))
    assert sorted(group[0]["read_tag"] for group in groups) == tags
    assert all(len(group) == 1 for group in groups)

    header, result = client.get_alignment_sam_header()
    assert result == VemlaClient.success and header.startswith("@SQ")
    sam_lines = []
    for [read] in groups:
        assert list(read) == ["read_tag", "sub_tag", "priority", "metadata", "datasets"]
        metadata, datasets = read["metadata"], read["datasets"]
        assert metadata["read_id"] == "read_%d" % read["read_tag"]
        np.testing.assert_array_equal(datasets["raw_data"], inputs[read["read_tag"]])
        assert isinstance(datasets["sequence"], str) and isinstance(datasets["qstring"], str)
        assert len(datasets["qstring"]) == len(datasets["sequence"])
        assert datasets["movement"].dtype == np.uint8
        assert datasets["state_data"].ndim == 2
        rows = datasets["align_results"]
        assert rows.dtype.itemsize == 320 and rows.shape == (1 + read["read_tag"] % 2,)
        assert rows[0]["genome"] == metadata["alignment_genome"].encode()
        assert rows[0]["genome_start"] == metadata["alignment_genome_start"]
        sam_lines.extend(line for line in metadata["alignment_sam_record"].split("\n") if line)

    sam_path = tmp_path / "reads.sam"
    sam_path.write_text(header + "".join(line + "\n" for line in sam_lines))
    by_name = {}
    with pysam.AlignmentFile(str(sam_path), "r") as sam:
        for record in sam:
            by_name.setdefault(record.query_name, []).append(record)
    for [read] in groups:
        records = by_name["read_%d" % read["read_tag"]]
        rows = read["datasets"]["align_results"]
        assert len(records) == len(rows)
        for record, row in zip(records, rows):
            assert record.reference_name == row["genome"].decode()
            assert record.reference_start == row["genome_start"]
            assert record.mapping_quality == row["mapping_quality"]
            assert record.is_supplementary == bool(row["supplementary_alignment"])
        assert records[0].query_sequence == read["datasets"]["sequence"]


def test_refused_connection_leaves_an_error_in_the_representation(server_factory):
    client = VemlaClient(server_factory(), "no_such_config")
    assert client.connect() == VemlaClient.basecall_config_unavailable
    assert client.get_status() == VemlaClient.error_state
    message = client.get_error_message()
    assert message
    assert repr(client) == "VemlaClient(status=error, %s)" % message
