// Round trips of one raw block (a whole read of N bytes of samples) and its
// short acknowledgement, measured three ways over tcp loopback and ipc:
//
//   bare    a ZeroMQ REQ socket and a REP socket that answers 32 bytes
//   raw     a ZeroMQ REQ socket handing the same FlatBuffers block to ZeroMQ
//           without copying, to the test server
//   broker  ipc_tools::RequestBroker sending the same block to the test server
//
// broker/raw is what the broker adds on top of the same exchange; broker/bare
// also counts the server reading the block and building its reply.
#include "ipc_tools/ipc_tools.h"
#include "ipc_tools/request_broker.h"
#include "test_server/test_server.h"
#include "bench_support.h"

#include <zmq.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using bench::adopt;
using bench::Clock;
using bench::median;
using bench::smoke;

struct Setting {
    std::vector<size_t> payload_bytes;
    int warmup;
    int min_round_trips;
    std::chrono::milliseconds budget;  // per measurement, after the minimum
};

Setting setting() {
    if (smoke) {
        return {{8 * 1024, 100 * 1024, 1024 * 1024}, 3, 10, std::chrono::milliseconds(0)};
    }
    return {{8 * 1024, 32 * 1024, 100 * 1024, 256 * 1024, 1024 * 1024}, 50, 500, std::chrono::milliseconds(3000)};
}

// A finished raw-block frame carrying bytes / 2 samples.
flatbuffers::FlatBufferBuilder build_block(const std::string& client_id,
                                           const std::vector<int16_t>& samples,
                                           uint32_t tag) {
    flatbuffers::FlatBufferBuilder fbb(2 * samples.size() + 236);
    const auto data = fbb.CreateVector(samples);
    const auto read_id = fbb.CreateString("bench_read");
    vemla_ipc::ReadBlockDataBuilder block(fbb);
    block.add_type(vemla_ipc::ReadBlockType_PASS_FIRST_RAW_BLOCK);
    block.add_read_tag(tag);
    block.add_num_blocks(1);
    block.add_duration(static_cast<uint32_t>(samples.size()));
    block.add_read_id(read_id);
    block.add_raw_data(data);
    const auto content = block.Finish();
    const auto id = fbb.CreateString(client_id);
    vemla_ipc::MessageDataBuilder message(fbb);
    message.add_version(&ipc_tools::current_version());
    message.add_client_id(id);
    message.add_content_type(vemla_ipc::Content_ReadBlockData);
    message.add_content(content.Union());
    fbb.Finish(message.Finish(), vemla_ipc::MessageDataIdentifier());
    return fbb;
}

using RoundTrip = std::function<void()>;

// Runs the round trips in turn (so that a busy moment hits all of them
// alike), in reverse order every other round (so that none always runs in
// the same place), for the setting's minimum count and time budget; the
// median time of one round trip of each, in microseconds.
std::vector<double> measure(const Setting& s, const std::vector<RoundTrip>& round_trips) {
    for (int i = 0; i < s.warmup; ++i) {
        for (const auto& round_trip : round_trips) {
            round_trip();
        }
    }
    std::vector<std::vector<double>> times(round_trips.size());
    const auto start = Clock::now();
    for (size_t round = 0; static_cast<int>(times[0].size()) < s.min_round_trips || Clock::now() - start < s.budget;
         ++round) {
        for (size_t k = 0; k < round_trips.size(); ++k) {
            const size_t i = round % 2 == 0 ? k : round_trips.size() - 1 - k;
            const auto before = Clock::now();
            round_trips[i]();
            times[i].push_back(std::chrono::duration<double, std::micro>(Clock::now() - before).count());
        }
    }
    std::vector<double> medians;
    for (auto& series : times) {
        medians.push_back(median(std::move(series)));
    }
    return medians;
}

// A REP socket on its own thread answering every request with 32 bytes.
class BareReplier {
public:
    BareReplier(zmq::context_t& context, const std::string& address) : m_socket(context, zmq::socket_type::rep) {
        m_socket.set(zmq::sockopt::linger, 0);
        m_socket.bind(address);
        m_endpoint = m_socket.get(zmq::sockopt::last_endpoint);
        m_thread = std::thread([this] { serve(); });
    }
    ~BareReplier() {
        m_stop = true;
        m_thread.join();
    }
    const std::string& endpoint() const { return m_endpoint; }

private:
    void serve() {
        const std::vector<uint8_t> ack(32, 0);
        while (!m_stop) {
            zmq::pollitem_t item{m_socket.handle(), 0, ZMQ_POLLIN, 0};
            zmq::poll(&item, 1, std::chrono::milliseconds(20));
            if (item.revents & ZMQ_POLLIN) {
                zmq::message_t request;
                (void)m_socket.recv(request, zmq::recv_flags::none);
                m_socket.send(zmq::buffer(ack), zmq::send_flags::none);
            }
        }
    }

    zmq::socket_t m_socket;
    std::string m_endpoint;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

std::string register_client(ipc_tools::RequestBroker& broker) {
    ipc_tools::Message reply;
    ipc_tools::Message load(ipc_tools::MessageType::LOAD_CONFIG, "", 0, "test_dna_fast");
    broker.send_request(load, reply);
    ipc_tools::Message connect(ipc_tools::MessageType::CONNECT, "", 0, "test_dna_fast:>client_name=bench");
    broker.send_request(connect, reply);
    if (reply.type != ipc_tools::MessageType::CONNECTED) {
        throw std::runtime_error("bench could not register with the test server");
    }
    return reply.get_message_data()->content_as_SimpleReplyData()->text()->str();
}

void run_transport(const Setting& s, const std::string& transport) {
    const std::string suffix = std::to_string(::getpid());
    const auto address = [&](const char* role) {
        return transport == "tcp" ? std::string("tcp://127.0.0.1:*")
                                  : "ipc:///tmp/vemla_bench_" + suffix + "_" + role + ".ipc";
    };

    zmq::context_t context(1);
    BareReplier bare(context, address("bare"));
    test_server::ServerSettings settings = test_server::ServerSettings::defaults();
    settings.discard_reads = true;  // count the reads, keep nothing
    test_server::TestServer server(settings);
    const std::string server_endpoint = server.start(address("server"));

    ipc_tools::RequestBroker broker;
    broker.prepare_connection(server_endpoint, 10000);
    const std::string client_id = register_client(broker);

    zmq::socket_t bare_req(context, zmq::socket_type::req);
    bare_req.set(zmq::sockopt::linger, 0);
    bare_req.connect(bare.endpoint());
    zmq::socket_t raw_req(context, zmq::socket_type::req);
    raw_req.set(zmq::sockopt::linger, 0);
    raw_req.connect(server_endpoint);

    for (const size_t bytes : s.payload_bytes) {
        const std::vector<int16_t> samples(bytes / 2, 321);
        const std::vector<uint8_t> payload(bytes, 7);
        uint32_t tag = 0;

        const RoundTrip bare_round_trip = [&] {
            bare_req.send(zmq::buffer(payload), zmq::send_flags::none);
            zmq::message_t reply;
            (void)bare_req.recv(reply, zmq::recv_flags::none);
        };
        const RoundTrip raw_round_trip = [&] {
            auto fbb = build_block(client_id, samples, ++tag);
            zmq::message_t frame = adopt(fbb);
            raw_req.send(frame, zmq::send_flags::none);
            zmq::message_t reply;
            (void)raw_req.recv(reply, zmq::recv_flags::none);
        };
        const RoundTrip broker_round_trip = [&] {
            auto fbb = build_block(client_id, samples, ++tag);
            ipc_tools::Message request(fbb);
            ipc_tools::Message reply;
            broker.send_request(request, reply);
            if (reply.type != ipc_tools::MessageType::RAW_BLOCK_ACCEPTED) {
                throw std::runtime_error("block refused: " + ipc_tools::message_type_as_string(reply.type));
            }
        };
        const auto medians = measure(s, {bare_round_trip, raw_round_trip, broker_round_trip});
        const double bare_us = medians[0], raw_us = medians[1], broker_us = medians[2];
        std::printf("%-4s %9zu %11.1f %11.1f %11.1f %12.3f %12.3f\n", transport.c_str(), bytes, bare_us, raw_us,
                    broker_us, broker_us / raw_us, broker_us / bare_us);
    }
    server.stop();
}

}  // namespace

int main() {
    try {
        const Setting s = setting();
        std::printf("transport round trips%s: median microseconds per request and reply\n",
                    smoke ? " (smoke setting, figures indicative only)" : "");
        std::printf("%-4s %9s %11s %11s %11s %12s %12s\n", "via", "bytes", "bare us", "raw us", "broker us",
                    "broker/raw", "broker/bare");
        for (const char* transport : {"tcp", "ipc"}) {
            run_transport(s, transport);
        }
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench failed: %s\n", error.what());
        return 1;
    }
}
