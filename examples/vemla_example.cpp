// vemla example: a whole exchange with a basecall server through the
// client's messaging layer.
//
//   1. start the bundled test server in this process (or use --server
//      HOST:PORT, a bare port or an ipc:// path)
//   2. connect: load the config, read its details, register with the
//      connection string and receive a connection id
//   3. stream a few generated reads to the server in raw blocks
//   4. pull each read's called blocks back and print what was called
//   5. ask the server one-shot questions (barcode and LAMP kits)
//   6. disconnect
#include "ipc_tools/broker_errors.h"
#include "ipc_tools/connection_info.h"
#include "ipc_tools/ipc_tools.h"
#include "ipc_tools/request_broker.h"
#include "test_server/test_server.h"

#include <chrono>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using ipc_tools::Message;
using ipc_tools::MessageType;

namespace {

constexpr uint32_t reply_timeout_ms = 2000;
constexpr uint32_t block_size_in_strides = 1000;  // a small block size, so reads travel in several blocks
const char* const config_name = "test_dna_fast";

struct GeneratedRead {
    uint32_t read_tag;
    std::string read_id;
    std::vector<int16_t> signal;
};

struct CalledResult {
    std::string read_id;
    size_t samples = 0;
    size_t raw_blocks = 0;
    uint32_t called_blocks = 0;
    std::string sequence;
    std::string qstring;
    float mean_qscore = 0.0f;
};

Message exchange(ipc_tools::RequestBroker& broker, Message request) {
    Message reply;
    broker.send_request(request, reply);
    return reply;
}

void expect(const Message& reply, MessageType wanted, const std::string& step) {
    if (reply.type != wanted) {
        throw std::runtime_error(step + ": unexpected reply " + ipc_tools::message_type_as_string(reply.type));
    }
}

std::string reply_text(const Message& reply) {
    const auto* content = reply.get_message_data()->content_as_SimpleReplyData();
    return content && content->text() ? content->text()->str() : std::string();
}

// --- 2. connect ---------------------------------------------------------------

// LOAD_CONFIG, asked again every 500 ms while the server is still loading.
void load_config(ipc_tools::RequestBroker& broker, const std::string& config) {
    for (;;) {
        Message reply = exchange(broker, Message(MessageType::LOAD_CONFIG, "", 0, config));
        if (reply.type == MessageType::SUCCESS) {
            return;
        }
        if (reply.type != MessageType::LOADING) {
            throw std::runtime_error("config " + config + " could not be loaded: " + reply_text(reply));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
}

uint32_t model_stride_of(ipc_tools::RequestBroker& broker, const std::string& config) {
    Message reply = exchange(broker, Message(MessageType::GET_CONFIGS, "", 0, ""));
    expect(reply, MessageType::RETURN_CONFIGS, "GET_CONFIGS");
    const auto* list = reply.get_message_data()->content_as_ConfigListData();
    if (list && list->configs()) {
        for (const auto* entry : *list->configs()) {
            if (entry->name() && entry->name()->str() == config) {
                return entry->model_stride();
            }
        }
    }
    throw std::runtime_error("server did not list config " + config);
}

std::string register_client(ipc_tools::RequestBroker& broker, ipc_tools::ConnectionInfo info) {
    // Priority 2 (the default) travels as 0.
    const uint32_t priority_code = info.priority < 3 ? 2 - info.priority : info.priority;
    Message reply = exchange(broker, Message(MessageType::CONNECT, "", priority_code, info.build_connection_string()));
    expect(reply, MessageType::CONNECTED, "CONNECT");
    return reply_text(reply);
}

// --- 3. stream reads ----------------------------------------------------------

std::vector<GeneratedRead> generate_reads(size_t count) {
    std::mt19937 rng(2024);
    std::uniform_int_distribution<int> level(-400, 400);
    std::uniform_int_distribution<size_t> length(4000, 16000);
    std::vector<GeneratedRead> reads;
    for (size_t i = 0; i < count; ++i) {
        GeneratedRead read{static_cast<uint32_t>(i + 1), "example_read_" + std::to_string(i + 1), {}};
        read.signal.resize(length(rng));
        for (auto& sample : read.signal) {
            sample = static_cast<int16_t>(500 + level(rng));
        }
        reads.push_back(std::move(read));
    }
    return reads;
}

Message raw_block_message(const std::string& client_id, const GeneratedRead& read, uint32_t index, uint32_t count,
                          size_t begin, size_t end) {
    flatbuffers::FlatBufferBuilder fbb(2 * (end - begin) + 236);
    const auto samples = fbb.CreateVector(read.signal.data() + begin, end - begin);
    const auto read_id = fbb.CreateString(read.read_id);
    const auto strand_id = fbb.CreateString(read.read_id);
    vemla_ipc::ReadBlockDataBuilder block(fbb);
    block.add_type(index == 0 ? vemla_ipc::ReadBlockType_PASS_FIRST_RAW_BLOCK
                              : vemla_ipc::ReadBlockType_PASS_NEXT_RAW_BLOCK);
    block.add_read_tag(read.read_tag);
    block.add_block_index(index);
    block.add_num_blocks(count);
    block.add_duration(static_cast<uint32_t>(read.signal.size()));
    block.add_daq_offset(10.0f);
    block.add_daq_scaling(0.2f);
    block.add_read_id(read_id);
    block.add_raw_data(samples);
    block.add_strand_id(strand_id);
    const auto content = block.Finish();
    const auto id = fbb.CreateString(client_id);
    vemla_ipc::MessageDataBuilder message(fbb);
    message.add_version(&ipc_tools::current_version());
    message.add_client_id(id);
    message.add_content_type(vemla_ipc::Content_ReadBlockData);
    message.add_content(content.Union());
    fbb.Finish(message.Finish(), vemla_ipc::MessageDataIdentifier());
    return Message(fbb);  // takes the buffer over without copying
}

// Sends every block of the read; returns how many blocks it took.
size_t push_read(ipc_tools::RequestBroker& broker, const std::string& client_id, const GeneratedRead& read,
                 uint32_t model_stride) {
    const size_t block_samples = static_cast<size_t>(block_size_in_strides) * model_stride;
    const auto count = static_cast<uint32_t>((read.signal.size() + block_samples - 1) / block_samples);
    for (uint32_t k = 0; k < count;) {
        const size_t begin = k * block_samples;
        const size_t end = std::min(read.signal.size(), begin + block_samples);
        Message reply = exchange(broker, raw_block_message(client_id, read, k, count, begin, end));
        if (reply.type == MessageType::NOT_READY && k == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;  // a first block may be offered again
        }
        expect(reply, MessageType::RAW_BLOCK_ACCEPTED, "raw block of " + read.read_id);
        ++k;
    }
    return count;
}

// --- 4. pull called blocks ----------------------------------------------------

// One read's called blocks, or false when nothing is pending yet.
bool pull_read(ipc_tools::RequestBroker& broker, const std::string& client_id,
               std::map<uint32_t, CalledResult>& results) {
    Message first = exchange(broker, Message(MessageType::GET_FIRST_CALLED_BLOCK, client_id, 0, ""));
    if (first.type == MessageType::NONE_PENDING) {
        return false;
    }
    expect(first, MessageType::RETURN_FIRST_CALLED_BLOCK, "GET_FIRST_CALLED_BLOCK");
    const auto* block = first.get_message_data()->content_as_ReadBlockData();
    const auto found = results.find(block->read_tag());
    if (found == results.end()) {
        throw std::runtime_error("server returned a read that was not sent: " + std::to_string(block->read_tag()));
    }
    CalledResult& result = found->second;
    const auto* called = block->called_data();
    result.called_blocks = block->num_blocks();
    result.mean_qscore = called->mean_qscore();
    result.sequence = called->sequence()->str();
    result.qstring = called->qstring()->str();
    const std::string strand_id = block->strand_id()->str();
    for (uint32_t k = 1; k < block->num_blocks(); ++k) {
        Message next = exchange(broker, Message(MessageType::GET_NEXT_CALLED_BLOCK, client_id, block->read_tag(),
                                                strand_id));
        expect(next, MessageType::RETURN_NEXT_CALLED_BLOCK, "GET_NEXT_CALLED_BLOCK");
        const auto* later = next.get_message_data()->content_as_ReadBlockData()->called_data();
        result.sequence += later->sequence()->str();
        result.qstring += later->qstring()->str();
    }
    return true;
}

// --- 5. one-shot questions ----------------------------------------------------

// Each question opens its own broker, as a client does without a connection.
Message ask(const std::string& address, MessageType question) {
    ipc_tools::RequestBroker broker;
    broker.prepare_connection(address, reply_timeout_ms);
    Message reply = exchange(broker, Message(question, "", 0, ""));
    expect(reply, MessageType::RETURN_CONFIGS, ipc_tools::message_type_as_string(question));
    return reply;
}

void print_kits(const std::string& address) {
    const Message barcodes = ask(address, MessageType::GET_BARCODE_KITS);
    std::cout << "barcode kits:";
    if (const auto* kits = barcodes.get_message_data()->content_as_ConfigListData()->barcode_kits()) {
        for (const auto* kit : *kits) {
            std::cout << " " << kit->kit_name()->str() << " [" << kit->first_index() << ".." << kit->last_index()
                      << (kit->is_dual() ? ", dual" : "") << "]";
        }
    }
    const Message lamps = ask(address, MessageType::GET_LAMP_KITS);
    std::cout << "\nLAMP kits:";
    if (const auto* kits = lamps.get_message_data()->content_as_ConfigListData()->lamp_kits()) {
        for (const auto* kit : *kits) {
            std::cout << " " << kit->kit_name()->str() << " (targets:";
            for (const auto* target : *kit->targets()) {
                std::cout << " " << target->str();
            }
            std::cout << ")";
        }
    }
    std::cout << "\n";
}

int run(const std::string& external_server) {
    // 1. The server.
    std::unique_ptr<test_server::TestServer> server;
    std::string address = external_server;
    if (address.empty()) {
        auto settings = test_server::ServerSettings::defaults();
        settings.called_block_positions = 600;  // called blocks are cut apart from the raw ones
        server = std::make_unique<test_server::TestServer>(settings);
        address = server->start("tcp://127.0.0.1:*");
        std::cout << "started the bundled test server at " << address << "\n";
    }

    // 2. Connect.
    ipc_tools::RequestBroker broker;
    broker.prepare_connection(address, reply_timeout_ms);
    load_config(broker, config_name);
    const uint32_t model_stride = model_stride_of(broker, config_name);
    ipc_tools::ConnectionInfo info;
    info.config = config_name;
    info.client_name = "vemla_example";
    info.timeout_interval = reply_timeout_ms;
    info.params.insert("move_and_trace_enabled", true);
    const std::string client_id = register_client(broker, info);
    std::cout << "connected as '" << info.client_name << "', connection id " << client_id << " (config "
              << config_name << ", model stride " << model_stride << ")\n";

    // 3. Stream the reads.
    const auto reads = generate_reads(5);
    std::map<uint32_t, CalledResult> results;
    for (const auto& read : reads) {
        CalledResult& result = results[read.read_tag];
        result.read_id = read.read_id;
        result.samples = read.signal.size();
        result.raw_blocks = push_read(broker, client_id, read, model_stride);
    }

    // 4. Pull every read back.
    size_t returned = 0;
    while (returned < reads.size()) {
        if (pull_read(broker, client_id, results)) {
            ++returned;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    std::printf("%-16s %8s %10s %13s %8s %7s  %s\n", "read_id", "samples", "raw blocks", "called blocks",
                "bases", "mean q", "first bases");
    for (const auto& [tag, result] : results) {
        std::printf("%-16s %8zu %10zu %13u %8zu %7.2f  %s...\n", result.read_id.c_str(), result.samples,
                    result.raw_blocks, result.called_blocks, result.sequence.size(), result.mean_qscore,
                    result.sequence.substr(0, 24).c_str());
    }

    // 5. One-shot questions.
    print_kits(address);

    // 6. Disconnect.
    Message reply = exchange(broker, Message(MessageType::DISCONNECT, client_id, 0, ""));
    expect(reply, MessageType::DISCONNECTED, "DISCONNECT");
    std::cout << "disconnected\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string external_server;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--server" && i + 1 < argc) {
            external_server = argv[++i];
        } else {
            std::cerr << "usage: vemla_example [--server ADDRESS]\n";
            return 2;
        }
    }
    try {
        return run(external_server);
    } catch (const std::exception& error) {
        std::cerr << "vemla example failed: " << error.what() << "\n";
        return 1;
    }
}
