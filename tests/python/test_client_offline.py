"""The VemlaClient class without a server: enumerations, representation,
parameter and read checks, argument errors, and the static queries against
an address where nothing answers."""

import json
import socket
import time

import numpy as np
import pytest

import vemlapy

VemlaClient = vemlapy.VemlaClient


def valid_read(**changes):
    read = {"read_tag": 7, "read_id": "read-7", "daq_offset": 0.0, "daq_scaling": 1.0,
            "raw_data": np.arange(100, dtype=np.int16)}
    read.update(changes)
    return read


def client_state(client):
    return json.loads(client.get_internal_state())["VemlaClient"]


@pytest.fixture
def client():
    return VemlaClient("tcp://127.0.0.1:1", "test_config")


@pytest.fixture(scope="module")
def silent_address():
    """A loopback port where nothing listens (bound, then released)."""
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    return "tcp://127.0.0.1:%d" % port


@pytest.mark.parametrize("enum_name, members", [
    ("status", {"disconnected": 0, "preparing_connection": 1, "loading_config": 2,
                "loading_alignment_index": 3, "loading_bed_file": 4, "connecting": 5,
                "connected": 6, "error_state": 7}),
    ("result", {"success": 0, "no_connection": 1, "already_connected": 2, "not_ready": 3,
                "timed_out": 4, "invalid_response": 5, "basecall_config_unavailable": 6,
                "barcode_kit_unavailable": 7, "align_index_unavailable": 8,
                "bed_file_unavailable": 9, "failed": 12, "bad_request": 13, "bad_reply": 14}),
    ("pass_read_result", {"read_accepted": 0, "not_accepting_reads": 1, "queue_full": 2,
                          "bad_read": 3}),
    ("read_priority", {"high_priority": 0, "medium_priority": 1, "low_priority": 2}),
])
def test_enumerations_nested_in_the_class_with_members_exported(enum_name, members):
    enum = getattr(VemlaClient, enum_name)
    assert {name: int(value) for name, value in enum.__members__.items()} == members
    for name in members:
        assert getattr(VemlaClient, name) is enum.__members__[name]


def test_enumerations_are_not_arithmetic_and_carry_unnamed_values():
    assert int(VemlaClient.failed) == 12
    assert VemlaClient.result(10).value == 10
    with pytest.raises(TypeError):
        VemlaClient.failed + 1


def test_new_client(client):
    assert repr(client) == "VemlaClient(status=disconnected)"
    assert client.get_status() == VemlaClient.disconnected
    assert client.get_error_message() == ""
    assert client.get_basecalling_config() == ({}, VemlaClient.no_connection)
    assert client.get_alignment_sam_header() == ("", VemlaClient.no_connection)
    assert client.get_completed_reads() == []
    assert client.finish() == VemlaClient.no_connection
    assert client.disconnect() == VemlaClient.no_connection
    assert client.pass_read(valid_read()) == VemlaClient.not_accepting_reads


@pytest.mark.parametrize("changes", [
    {"read_tag": 4294967296}, {"read_tag": -1}, {"read_tag": 1.0}, {"read_tag": np.int64(1)},
    {"raw_data": np.arange(10, dtype=np.float32)}, {"raw_data": np.arange(10, dtype=np.int32)},
    {"raw_data": np.zeros((2, 5), dtype=np.int16)}, {"raw_data": np.arange(10, dtype=">i2")},
    {"raw_data": list(range(10))},
    {"daq_offset": 0}, {"daq_scaling": np.float32(1.0)}, {"read_id": ""}, {"read_id": 5},
    {"read_id": b"\xff\xfe"}, {"read_id": "bad\udc80id"},
    {"override_scaling": 1}, {"scaling_med": 3},
], ids=repr)
def test_bad_reads_are_refused_before_the_library(client, changes):
    # A disconnected client answers not_accepting_reads to any read it is
    # handed, so bad_read shows the conversion refused the read first.
    assert client.pass_read(valid_read(**changes), -1) == VemlaClient.bad_read


MANDATORY = ["read_tag", "raw_data", "read_id", "daq_offset", "daq_scaling"]


@pytest.mark.parametrize("missing", MANDATORY)
def test_every_mandatory_field_is_needed(client, missing):
    read = valid_read()
    del read[missing]
    # A field given twice, under a str and a bytes key, still counts once.
    other = MANDATORY[(MANDATORY.index(missing) + 1) % len(MANDATORY)]
    read[other.encode()] = read[other]
    assert client.pass_read(read) == VemlaClient.bad_read


@pytest.mark.parametrize("changes", [
    {"read_tag": 4294967295}, {"read_tag": True}, {"read_id": b"bytes-id"},
    {"raw_data": np.arange(10, dtype=np.int16)[::-1]}, {"raw_data": np.zeros(0, dtype=np.int16)},
    {"override_scaling": False, "scaling_med": 1.0, "scaling_mad": 2.0, "unknown": object()},
], ids=repr)
def test_valid_reads_reach_the_library(client, changes):
    assert client.pass_read(valid_read(**changes)) == VemlaClient.not_accepting_reads


def test_argument_errors(client):
    assert client.pass_read({}, -1) == VemlaClient.bad_read
    with pytest.raises(ValueError, match="^wait_duration_ms. Must be greater than or equal to zero.$"):
        client.pass_read(valid_read(), -1)
    with pytest.raises(RuntimeError, match="^Negative timeout specified for finish\\(\\) method.$"):
        client.finish(-1)
    with pytest.raises(RuntimeError):
        client.pass_read({1: 2})
    with pytest.raises(RuntimeError):
        client.pass_read(valid_read(read_tag=2 ** 64))
    for bad_call in (lambda: client.pass_read([]), lambda: client.pass_read(valid_read(), 2 ** 40),
                     lambda: client.finish(1.5), lambda: client.set_params("x"),
                     lambda: VemlaClient("a")):
        with pytest.raises(TypeError):
            bad_call()


def test_set_params_stores_converted_values(client):
    assert client.set_params({}) == VemlaClient.success
    assert client.set_params({
        "barcode_kits": ["A", "B"], "align_ref": "index.fa", "query_timeout": np.uint16(750),
        "max_reads_queued": 5, "move_and_trace_enabled": 1, "priority": VemlaClient.low_priority,
        "min_score_lamp": 70, "client_name": b"me"}) == VemlaClient.success
    state = client_state(client)
    assert (state["m_barcode_kits"], state["m_align_index_file"]) == ("A,B", "index.fa")
    assert (state["m_timeout"], state["m_max_reads_queued"]) == (750, 5)
    assert state["m_disable_events"] is False
    assert state["priority"] == 2
    assert client.set_params({"align_ref": None}) == VemlaClient.success
    assert client_state(client)["m_align_index_file"] == ""


@pytest.mark.parametrize("params", [
    {"barcode_kits": ["A", 1]}, {"max_reads_queued": -1}, {"min_score_lamp": "high"},
    {"query_timeout": 1.5}, {"query_timeout": 2 ** 32}, {"post_out": "yes"},
    {"priority": 1}, {"priority": None}, {"no_such_key": 1},
    {"priority": VemlaClient.high_priority, "max_reads_queued": 99, "no_such_key": 1},
    {"priority": VemlaClient.high_priority, "max_reads_queued": 99, "max_message_size": 0},
], ids=repr)
def test_set_params_refuses_without_storing(client, params):
    assert client.set_params(params) == VemlaClient.failed
    state = client_state(client)
    assert (state["priority"], state["m_max_reads_queued"]) == (1, 20)


def test_versions():
    assert VemlaClient.get_software_version() == (6, 2, 11)
    assert VemlaClient.get_protocol_version() == (11, 0, 0)
    assert VemlaClient.get_software_version.__doc__.splitlines()[2] == (
        "Get the Vemla software version that the library was compiled from.")


@pytest.mark.parametrize("query", ["get_barcode_kits", "get_lamp_kits", "get_server_stats",
                                   "get_server_internal_state"])
def test_static_queries_time_out_where_nothing_answers(silent_address, query):
    assert getattr(VemlaClient, query)(silent_address, 200) == (None, VemlaClient.timed_out)


def test_server_information_where_nothing_answers(silent_address):
    assert VemlaClient.get_server_information(silent_address, 200) == (
        "No information available", VemlaClient.timed_out)


def test_static_queries_take_positional_arguments_only(silent_address):
    with pytest.raises(TypeError):
        VemlaClient.get_barcode_kits(address=silent_address, timeout=200)
    with pytest.raises(TypeError):
        VemlaClient.get_barcode_kits(silent_address, -1)


@pytest.mark.parametrize("blocking_call", ["query", "connect"])
def test_blocking_calls_let_other_python_threads_run(silent_address, blocking_call):
    import threading

    def call():
        if blocking_call == "query":
            VemlaClient.get_barcode_kits(silent_address, 600)
        else:
            client = VemlaClient(silent_address, "test_config")
            client.set_params({"query_timeout": 200, "connection_timeout": 200, "reconnect_timeout": 1})
            client.connect()
            del client

    worker = threading.Thread(target=call)
    worker.start()
    spins = 0
    while worker.is_alive():
        spins += 1
        time.sleep(0.001)
    worker.join()
    # Holding the interpreter lock through the call would have stopped this
    # thread for the whole wait (at least 0.6 s).
    assert spins > 100
