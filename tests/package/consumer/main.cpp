// Uses libvemla_client through its installed headers only: builds reads with
// the data model, checks them, asks for versions and kit names, and, given a
// server address, streams the reads through a VemlaClient and prints their
// SAM lines.
//   vemla_consumer [ADDRESS]
#include "vemla/read.h"
#include "vemla/server_query.h"
#include "vemla/vemla_client.h"

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

static_assert(__cplusplus >= 201703L, "vemla::vemla_client states C++17 as its consumers' language level");

namespace {

int failures = 0;

void check(bool condition, const std::string& what) {
    if (!condition) {
        std::cerr << "vemla_consumer: FAILED: " << what << "\n";
        ++failures;
    }
}

vemla::Read make_read(uint64_t tag, size_t samples) {
    vemla::Read read;
    read.set_read_tag(tag);
    auto& metadata = read.get_metadata();
    metadata.insert("read_id", "consumer_read_" + std::to_string(tag));
    metadata.insert("daq_offset", 12.0f);
    metadata.insert("daq_scaling", 0.25f);
    std::vector<int16_t> signal(samples);
    for (size_t i = 0; i < samples; ++i) {
        signal[i] = static_cast<int16_t>(400 + (i * 37) % 200);
    }
    read.get_datasets().emplace(dataset::raw_data, bass::data_wrappers::DataView(std::move(signal)));
    return read;
}

void offline_checks() {
    const auto version = vemla::VemlaClient::get_software_version();
    std::cout << "libvemla_client " << version.text << ", protocol " << vemla::VemlaClient::get_protocol_version().text
              << "\n";
    check(version.major == 6, "software version");
    check(vemla::to_string(vemla::Result::timed_out) == "timed_out", "result text");

    vemla::Read read = make_read(1, 1000);
    check(read.get_metadata().get<read_data::read_id>() == "consumer_read_1", "metadata lookup");
    check(read.get_datasets().at(dataset::raw_data).vec_view<int16_t>()[1] == 437, "dataset view");
    vemla::Read moved = std::move(read);
    check(moved.get_read_tag() == 1 && moved.get_priority() == vemla::Read::MEDIUM_PRIORITY, "moved read");

    const vemla::server_query::BarcodeKitDefinition kit("KIT", 1, 12, 0, 0, false, false, true, "barcode%02i");
    check(kit.generate_barcode_name(12, 0) == "barcode12a", "barcode name");
}

void round_trip(const std::string& address) {
    vemla::VemlaClient client(address, "test_dna_fast");
    bass::data_wrappers::Metadata params;
    params.insert("client_name", std::string("vemla_consumer"));
    params.insert("max_message_size", uint64_t(400));  // several blocks per read
    check(client.set_params(params) == vemla::Result::success, "set_params");

    vemla::Read invalid;
    std::string error;
    check(!client.validate_read(invalid, error) && !error.empty(), "validate_read refuses an empty read");

    const vemla::Result connected = client.connect();
    check(connected == vemla::Result::success,
          "connect: " + vemla::to_string(connected) + " " + client.get_error_message());
    if (connected != vemla::Result::success) {
        return;
    }
    const size_t count = 5;
    for (uint64_t tag = 1; tag <= count; ++tag) {
        vemla::Read read = make_read(tag, 8000 + 1000 * tag);
        check(client.pass_read(read, 5000) == vemla::PassReadResult::success, "pass_read");
    }
    check(client.finish(60) == vemla::Result::success, "finish");
    std::list<std::list<vemla::Read>> groups;
    client.get_completed_reads(groups);
    size_t reads = 0;
    for (const auto& group : groups) {
        for (const auto& read : group) {
            ++reads;
            for (const auto& line : read.extract_sam_and_bed_lines(50.0f)) {
                std::cout << line.sam_line << "\n";
            }
        }
    }
    check(reads == count, "every read came back (" + std::to_string(reads) + " of " + std::to_string(count) + ")");
    std::vector<vemla::server_query::BarcodeKitDefinition> kits;
    check(vemla::server_query::get_barcode_kits(address, kits, 2000) == vemla::Result::success && !kits.empty(),
          "barcode kits");
    check(client.get_status() == vemla::ConnectionStatus::disconnected, "finish ends the connection");
}

}  // namespace

int main(int argc, char** argv) {
    offline_checks();
    if (argc > 1) {
        round_trip(argv[1]);
    }
    if (failures == 0) {
        std::cout << "vemla_consumer: all checks passed\n";
    }
    return failures == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}
