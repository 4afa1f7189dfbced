// Uses libvemla_client through its installed headers only: builds reads with
// the data model, checks them, asks for versions and kit names.
#include "vemla/read.h"
#include "vemla/server_query.h"
#include "vemla/vemla_client.h"

#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

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
    std::cout << "libvemla_client " << version.text << ", protocol "
              << vemla::VemlaClient::get_protocol_version().text << "\n";
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

}  // namespace

int main(int argc, char** argv) {
    offline_checks();
    (void)argc;
    (void)argv;
    if (failures == 0) {
        std::cout << "vemla_consumer: all checks passed\n";
    }
    return failures == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}
