"""An independent peer of the test server: a Python client built on pyzmq and
the FlatBuffers code that flatc generates for Python from the same schema.
It drives the server executable through the connect sequence, one multi-block
read and its called blocks, the one-shot queries and a few fault switches, and
checks every called value against its own computation from the samples."""

import json
import os
import random
import subprocess
import sys
import tempfile

import pytest

zmq = pytest.importorskip("zmq")
flatbuffers = pytest.importorskip("flatbuffers")

BUILD_DIR = os.environ.get("VEMLA_BUILD_DIR", "")
GENERATED = os.environ.get("VEMLA_GENERATED_PYTHON_DIR", os.path.join(BUILD_DIR, "generated", "python"))
SERVER = os.path.join(BUILD_DIR, "test_server", "vemla_test_server")
if not os.path.isfile(SERVER):
    pytest.skip("vemla_test_server not built", allow_module_level=True)
sys.path.insert(0, GENERATED)

from vemla_ipc import (  # noqa: E402
    ConfigListData,
    MessageData,
    MoveTraceData,
    ReadBlockData,
    ServerStats,
    SimpleReplyData,
    SimpleRequestData,
)
from vemla_ipc import ProtocolVersion  # noqa: E402

# Wire values, written out from the protocol tables rather than imported.
REQ = {name: i for i, name in enumerate(
    "CONNECT DISCONNECT TERMINATE GET_STATISTICS LOAD_CONFIG GET_CONFIGS GET_FIRST_CALLED_BLOCK "
    "GET_NEXT_CALLED_BLOCK LOAD_INDEX GET_INDICES LOAD_BED GET_BARCODE_KITS GET_LAMP_KITS "
    "HEARTBEAT_PING QUERY".split())}
REPLY = {i: name for i, name in enumerate(
    "CONNECTED DISCONNECTED SHUTTING_DOWN INVALID_CONFIG INVALID_BARCODE_KIT CLIENT_NOT_RECOGNISED "
    "RAW_BLOCK_ACCEPTED NOT_READY NONE_PENDING BAD_REQUEST INVALID_INDEX INVALID_BED INDEX_NO_SEQ "
    "HEARTBEAT_ECHO RESPONSE LOADING SUCCESS REQUEST_FAILED".split())}
CONTENT_REQUEST, CONTENT_REPLY, CONTENT_BLOCK, CONTENT_CONFIGS, CONTENT_STATS = 1, 2, 3, 4, 5
PASS_FIRST, PASS_NEXT, RETURN_FIRST, RETURN_NEXT = 0, 1, 2, 3
STATE_SIZE = 4
TIMEOUT_MS = 10000


# --------------------------------------------------------------------------
# The server process

def start_server(endpoint, *extra):
    # Diagnostics go to a file: a full pipe must never block the server.
    log = tempfile.TemporaryFile(mode="w+")
    proc = subprocess.Popen([SERVER, "--endpoint", endpoint, *extra],
                            stdout=subprocess.PIPE, stderr=log, text=True)
    proc.log = log
    line = proc.stdout.readline()
    if not line.startswith("endpoint: "):
        proc.kill()
        proc.wait()
        log.seek(0)
        raise RuntimeError("server did not start: %r %r" % (line, log.read()))
    return proc, line[len("endpoint: "):].strip()


def stop_server(proc):
    proc.terminate()
    try:
        code = proc.wait(timeout=20)
        proc.log.seek(0)
        assert code == 0, "server ended with %s: %s" % (code, proc.log.read())
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        proc.log.close()


@pytest.fixture(params=["tcp", "ipc"])
def server(request, tmp_path):
    bind = "tcp://127.0.0.1:*" if request.param == "tcp" else "ipc://" + str(tmp_path / "server.ipc")
    proc, endpoint = start_server(bind, "--called-block-positions", "64")
    yield endpoint
    stop_server(proc)


# --------------------------------------------------------------------------
# Messages

def finish(builder, content_type, content, client_id=""):
    cid = builder.CreateString(client_id) if client_id else None
    MessageData.Start(builder)
    MessageData.AddVersion(builder, ProtocolVersion.CreateProtocolVersion(builder, 11, 0, 0))
    if cid is not None:
        MessageData.AddClientId(builder, cid)
    MessageData.AddContentType(builder, content_type)
    MessageData.AddContent(builder, content)
    builder.Finish(MessageData.End(builder), file_identifier=b"0011")
    return bytes(builder.Output())


def simple_request(kind, value=0, text="", client_id=""):
    b = flatbuffers.Builder(256)
    t = b.CreateString(text) if text else None
    SimpleRequestData.Start(b)
    SimpleRequestData.AddType(b, REQ[kind])
    SimpleRequestData.AddValue(b, value)
    if t is not None:
        SimpleRequestData.AddText(b, t)
    return finish(b, CONTENT_REQUEST, SimpleRequestData.End(b), client_id)


def raw_block(client_id, tag, index, count, duration, samples, read_id, strand_id):
    b = flatbuffers.Builder(2 * len(samples) + 256)
    rid = b.CreateString(read_id)
    sid = b.CreateString(strand_id)
    ReadBlockData.StartRawDataVector(b, len(samples))
    for s in reversed(samples):
        b.PrependInt16(s)
    data = b.EndVector()
    ReadBlockData.Start(b)
    ReadBlockData.AddType(b, PASS_FIRST if index == 0 else PASS_NEXT)
    ReadBlockData.AddReadTag(b, tag)
    ReadBlockData.AddBlockIndex(b, index)
    ReadBlockData.AddNumBlocks(b, count)
    ReadBlockData.AddDuration(b, duration)
    ReadBlockData.AddDaqOffset(b, 4.0)
    ReadBlockData.AddDaqScaling(b, 0.5)
    ReadBlockData.AddReadId(b, rid)
    ReadBlockData.AddRawData(b, data)
    ReadBlockData.AddStrandId(b, sid)
    ReadBlockData.AddStartTime(b, 1234)
    return finish(b, CONTENT_BLOCK, ReadBlockData.End(b), client_id)


class Peer:
    """One REQ socket, lock-step, with a bounded wait for every reply."""

    def __init__(self, context, endpoint):
        self.socket = context.socket(zmq.REQ)
        self.socket.setsockopt(zmq.LINGER, 0)
        self.socket.connect(endpoint)

    def exchange_raw(self, frame):
        self.socket.send(frame)
        assert self.socket.poll(TIMEOUT_MS) == zmq.POLLIN, "no reply from the server"
        return self.socket.recv()

    def exchange(self, frame):
        data = self.exchange_raw(frame)
        assert data[4:8] == b"0011"
        message = MessageData.MessageData.GetRootAs(data, 0)
        version = message.Version()
        assert (version.Major(), version.Minor(), version.Patch()) == (11, 0, 0)
        return message

    def simple(self, kind, value=0, text="", client_id=""):
        """Sends a simple request; returns (reply name, value, text)."""
        return self.reply_of(simple_request(kind, value, text, client_id))

    def reply_of(self, frame):
        """Sends a frame that must be answered by a simple reply."""
        message = self.exchange(frame)
        assert message.ContentType() == CONTENT_REPLY
        reply = SimpleReplyData.SimpleReplyData()
        reply.Init(message.Content().Bytes, message.Content().Pos)
        text = reply.Text()
        return REPLY[reply.Type()], reply.Value(), text.decode() if text is not None else ""

    def table(self, frame, content_type, cls):
        message = self.exchange(frame)
        assert message.ContentType() == content_type
        table = cls()
        table.Init(message.Content().Bytes, message.Content().Pos)
        return table

    def close(self):
        self.socket.close()


@pytest.fixture
def context():
    ctx = zmq.Context()
    yield ctx
    ctx.term()


# --------------------------------------------------------------------------
# The expected basecall, computed here from the samples

def expected_call(samples, stride, trace=True):
    positions = len(samples) // stride
    moves, seq, qual, rows, state, probs = [], [], [], [], [], []
    for p in range(positions):
        window = samples[p * stride:(p + 1) * stride]
        w = sum(window)
        rows.append([(w + 37 * j) % 256 for j in range(8)])
        state.extend((window[j % stride] + 4.0) * 0.5 for j in range(STATE_SIZE))
        move = 1 if p == 0 or w % 3 != 0 else 0
        moves.append(move)
        if move:
            seq.append("ACGT"[w % 4])
            qual.append(chr(33 + 5 + w % 31))
    return {
        "positions": positions,
        "trimmed": len(samples) - positions * stride,
        "moves": moves,
        "sequence": "".join(seq),
        "qstring": "".join(qual),
        "trace": rows,
        "state": state,
    }


def fnv1a(samples):
    h = 14695981039346656037
    for s in samples:
        for byte in (s & 0xffff).to_bytes(2, "little"):
            h ^= byte
            h = (h * 1099511628211) & 0xffffffffffffffff
    return "%016x" % h


def connect_sequence(peer, client_name):
    assert peer.simple("LOAD_CONFIG", text="test_dna_fast")[0] == "SUCCESS"
    configs = peer.table(simple_request("GET_CONFIGS"), CONTENT_CONFIGS, ConfigListData.ConfigListData)
    names = {configs.Configs(i).Name().decode(): configs.Configs(i) for i in range(configs.ConfigsLength())}
    assert "test_dna_fast" in names
    assert names["test_dna_fast"].ModelStride() == 5
    assert peer.simple("LOAD_INDEX", text="test_ref.mmi")[0] == "SUCCESS"
    indices = peer.table(simple_request("GET_INDICES"), CONTENT_CONFIGS, ConfigListData.ConfigListData)
    assert indices.IndicesLength() == 1
    assert indices.Indices(0).Name() == b"test_ref.mmi"
    assert indices.Indices(0).Header().startswith(b"@SQ\tSN:test_chr1")
    assert peer.simple("LOAD_BED", text="test_targets.bed")[0] == "SUCCESS"
    connection_string = ("test_dna_fast:>timeout_interval=15000>client_name=%s>move_and_trace_enabled=1"
                         ">align_ref=/data/refs/test_ref.mmi>bed_file=/data/test_targets.bed" % client_name)
    kind, _, client_id = peer.simple("CONNECT", value=0, text=connection_string)
    assert kind == "CONNECTED"
    assert client_id
    return client_id, connection_string


def pull_read(peer, client_id, flags):
    """GET_FIRST_CALLED_BLOCK then every GET_NEXT_CALLED_BLOCK; the blocks."""
    message = peer.exchange(simple_request("GET_FIRST_CALLED_BLOCK", value=flags, client_id=client_id))
    if message.ContentType() == CONTENT_REPLY:
        reply = SimpleReplyData.SimpleReplyData()
        reply.Init(message.Content().Bytes, message.Content().Pos)
        return REPLY[reply.Type()], reply.Value()
    assert message.ContentType() == CONTENT_BLOCK
    first = ReadBlockData.ReadBlockData()
    first.Init(message.Content().Bytes, message.Content().Pos)
    assert first.Type() == RETURN_FIRST
    blocks = [first]
    for index in range(1, first.NumBlocks()):
        block = peer.table(simple_request("GET_NEXT_CALLED_BLOCK", value=first.ReadTag(),
                                          text=first.StrandId().decode(), client_id=client_id),
                           CONTENT_BLOCK, ReadBlockData.ReadBlockData)
        assert block.Type() == RETURN_NEXT
        assert block.BlockIndex() == index
        blocks.append(block)
    return "BLOCKS", blocks


# --------------------------------------------------------------------------
# Tests

def test_connect_stream_one_read_and_pull_its_called_blocks(server, context):
    peer = Peer(context, server)
    client_id, connection_string = connect_sequence(peer, "pypeer")
    assert peer.simple("HEARTBEAT_PING", client_id=client_id)[0] == "HEARTBEAT_ECHO"

    rng = random.Random(7)
    samples = [rng.randint(-2000, 2000) for _ in range(2003)]
    block = 500
    count = (len(samples) + block - 1) // block
    for index in range(count):
        part = samples[index * block:(index + 1) * block]
        frame = raw_block(client_id, 41, index, count, len(samples), part, "read-41", "strand-41")
        assert peer.reply_of(frame)[0] == "RAW_BLOCK_ACCEPTED"

    kind, blocks = pull_read(peer, client_id, flags=2)  # events and state data
    assert kind == "BLOCKS"
    expected = expected_call(samples, 5)
    assert len(blocks) == (expected["positions"] + 63) // 64

    first = blocks[0].CalledData()
    assert first.TotalPositions() == expected["positions"]
    assert first.SequenceLength() == len(expected["sequence"])
    assert first.TrimmedSamples() == expected["trimmed"]
    assert first.ModelStride() == 5
    assert first.StateSize() == STATE_SIZE
    assert blocks[0].Duration() == len(samples)
    assert blocks[0].StrandId() == b"strand-41"
    assert blocks[0].StartTime() == 1234

    sequence, qstring, moves, trace, state = "", "", [], [], []
    for b in blocks:
        called = b.CalledData()
        n = called.BlockPositions()
        sequence += called.Sequence().decode()
        qstring += called.Qstring().decode()
        assert called.EventDataType() == 1
        events = MoveTraceData.MoveTraceData()
        events.Init(called.EventData().Bytes, called.EventData().Pos)
        assert events.MovesLength() == n
        assert events.TraceLength() == n
        assert called.StateDataLength() == n * STATE_SIZE
        moves += [events.Moves(i) for i in range(n)]
        for i in range(n):
            row = events.Trace(i)
            trace.append([row.V0(), row.V1(), row.V2(), row.V3(), row.V4(), row.V5(), row.V6(), row.V7()])
        state += [called.StateData(i) for i in range(called.StateDataLength())]
        assert len(called.Sequence()) == len(called.Qstring())
    assert sum(b.CalledData().BlockPositions() for b in blocks) == expected["positions"]
    assert sequence == expected["sequence"]
    assert qstring == expected["qstring"]
    assert moves == expected["moves"]
    assert trace == expected["trace"]
    assert state == pytest.approx(expected["state"])

    rows = first.AlignmentsLength()
    assert rows == 1 + 41 % 2
    sam = first.Alignments(0).SamRecord().decode().split("\t")
    assert sam[0] == "read-41" and sam[9] == expected["sequence"] and sam[10] == expected["qstring"]
    assert first.Alignments(0).BedHits() == 1
    for b in blocks[1:]:
        assert b.CalledData().AlignmentsLength() == 0

    assert pull_read(peer, client_id, flags=0) == ("NONE_PENDING", 0)

    kind, _, text = peer.simple("QUERY", value=1)
    assert kind == "RESPONSE"
    state_json = json.loads(text)
    assert state_json["ServerInformation"]["name"] == "vemla_test_server"
    received = state_json["received"]
    assert connection_string in received["connection_strings"]
    read = [r for r in received["reads"] if r["read_id"] == "read-41"][0]
    assert read["num_blocks"] == count and read["duration"] == len(samples)
    assert read["signal_digest"] == fnv1a(samples)
    client = [c for c in state_json["clients"] if c["id"] == client_id][0]
    assert client["client_name"] == "pypeer"
    assert client["options"]["move_and_trace_enabled"] == "1"
    assert client["reads_in"] == 1 and client["reads_out"] == 1

    assert peer.simple("DISCONNECT", client_id=client_id)[0] == "DISCONNECTED"
    assert peer.simple("HEARTBEAT_PING", client_id=client_id)[0] == "CLIENT_NOT_RECOGNISED"
    peer.close()


def test_one_shot_queries_each_on_a_fresh_socket(server, context):
    peer = Peer(context, server)
    kits = peer.table(simple_request("GET_BARCODE_KITS"), CONTENT_CONFIGS, ConfigListData.ConfigListData)
    peer.close()
    names = [kits.BarcodeKits(i).KitName().decode() for i in range(kits.BarcodeKitsLength())]
    assert "TEST-BC12" in names
    bc12 = kits.BarcodeKits(names.index("TEST-BC12"))
    assert (bc12.FirstIndex(), bc12.LastIndex(), bc12.AddAToBarcode12(), bc12.IsDual()) == (1, 12, True, False)
    assert bc12.BarcodeNameFormat() == b"barcode%02i"

    peer = Peer(context, server)
    lamp = peer.table(simple_request("GET_LAMP_KITS"), CONTENT_CONFIGS, ConfigListData.ConfigListData)
    peer.close()
    assert lamp.LampKitsLength() == 1
    kit = lamp.LampKits(0)
    assert kit.KitName() == b"TEST-LAMP"
    assert [kit.Targets(i) for i in range(kit.TargetsLength())] == [b"target_a", b"target_b"]

    peer = Peer(context, server)
    stats = peer.table(simple_request("GET_STATISTICS"), CONTENT_STATS, ServerStats.ServerStats)
    peer.close()
    assert stats.LifetimeReadsIn() == 0 and stats.ClientsLength() == 0

    peer = Peer(context, server)
    kind, _, text = peer.simple("QUERY", value=1)
    peer.close()
    assert kind == "RESPONSE"
    counts = json.loads(text)["received"]["requests"]
    assert counts["GET_BARCODE_KITS"] == 1 and counts["GET_LAMP_KITS"] == 1 and counts["GET_STATISTICS"] == 1


def test_refusals_of_registration_and_of_misordered_blocks(server, context):
    peer = Peer(context, server)
    assert peer.simple("LOAD_CONFIG", text="no_such_config")[0] == "REQUEST_FAILED"
    assert peer.simple("CONNECT", text="no_such_config:>client_name=x")[0] == "INVALID_CONFIG"
    assert peer.simple("CONNECT", text="test_dna_fast:>barcode_kits=NOPE")[0] == "INVALID_BARCODE_KIT"
    assert peer.simple("CONNECT", text="test_dna_fast:>align_ref=test_ref.mmi")[0] == "INVALID_INDEX"
    assert peer.simple("CONNECT", text="test_dna_fast:>bed_file=test_targets.bed")[0] == "INVALID_BED"
    assert peer.simple("LOAD_INDEX", text="test_ref_noseq.mmi")[0] == "SUCCESS"
    assert peer.simple("CONNECT", text="test_dna_fast:>align_ref=test_ref_noseq.mmi>align_type=full")[0] == \
        "INDEX_NO_SEQ"
    assert peer.simple("CONNECT", text="test_dna_fast:>=1")[0] == "BAD_REQUEST"

    kind, _, client_id = peer.simple("CONNECT", text="test_dna_fast:>client_name=order")
    assert kind == "CONNECTED"
    samples = list(range(300))
    kind, _, reason = peer.reply_of(raw_block(client_id, 9, 1, 3, 300, samples[100:200], "read-9", "s"))
    assert kind == "BAD_REQUEST" and "without a first block" in reason
    assert peer.reply_of(raw_block(client_id, 9, 0, 3, 300, samples[:100], "read-9", "s"))[0] == "RAW_BLOCK_ACCEPTED"
    kind, _, reason = peer.reply_of(raw_block(client_id, 9, 2, 3, 300, samples[200:], "read-9", "s"))
    assert kind == "BAD_REQUEST" and "expected block index 1" in reason
    peer.close()


def test_fault_switches_given_on_the_command_line(tmp_path, context):
    proc, endpoint = start_server("ipc://" + str(tmp_path / "faults.ipc"),
                                  "--fault", "not_ready:PASS_FIRST_RAW_BLOCK:1",
                                  "--fault", "short_frame:QUERY:1",
                                  "--fault", "foreign_identifier:GET_STATISTICS:1",
                                  "--loading", "2")
    try:
        peer = Peer(context, endpoint)
        assert [peer.simple("LOAD_CONFIG", text="test_dna_fast")[0] for _ in range(3)] == \
            ["LOADING", "LOADING", "SUCCESS"]
        kind, _, client_id = peer.simple("CONNECT", text="test_dna_fast:>client_name=faults")
        assert kind == "CONNECTED"
        samples = [(i * 7919) % 601 - 300 for i in range(400)]
        frame = raw_block(client_id, 3, 0, 1, 400, samples, "read-3", "s3")
        replies = [peer.reply_of(frame)[0] for _ in range(2)]
        assert replies == ["NOT_READY", "RAW_BLOCK_ACCEPTED"]
        assert len(peer.exchange_raw(simple_request("QUERY", value=1))) == 7
        data = peer.exchange_raw(simple_request("GET_STATISTICS"))
        assert len(data) >= 8 and data[4:8] == b"XXXX"
        kind, blocks = pull_read(peer, client_id, flags=0)
        assert kind == "BLOCKS"
        assert "".join(b.CalledData().Sequence().decode() for b in blocks) == expected_call(samples, 5)["sequence"]
        peer.close()
    finally:
        stop_server(proc)


def test_command_line_accepts_its_own_configs_and_refuses_bad_options(tmp_path, context):
    for bad in (["--fault", "explode"], ["--config", "x:0"], ["--latency-ms", "soon"], ["--no-such-option", "1"]):
        done = subprocess.run([SERVER, *bad], capture_output=True, text=True, timeout=30)
        assert done.returncode == 2, bad
        assert "usage:" in done.stderr

    proc, endpoint = start_server("ipc://" + str(tmp_path / "configs.ipc"),
                                  "--config", "custom_rle:7:rle", "--index", "genome.mmi")
    try:
        peer = Peer(context, endpoint)
        assert peer.simple("LOAD_CONFIG", text="test_dna_fast")[0] == "REQUEST_FAILED"
        assert peer.simple("LOAD_CONFIG", text="custom_rle")[0] == "SUCCESS"
        configs = peer.table(simple_request("GET_CONFIGS"), CONTENT_CONFIGS, ConfigListData.ConfigListData)
        assert configs.ConfigsLength() == 1
        assert configs.Configs(0).Name() == b"custom_rle" and configs.Configs(0).ModelStride() == 7
        assert peer.simple("LOAD_INDEX", text="/elsewhere/genome.mmi")[0] == "SUCCESS"
        assert peer.simple("LOAD_INDEX", text="test_ref.mmi")[0] == "REQUEST_FAILED"
        peer.close()
    finally:
        stop_server(proc)
