#include "vemla/read_validation.h"

namespace vemla {

namespace {

using bass::data_wrappers::DataSetType;
using bass::data_wrappers::DataView;

// Raw signal the engine can cut into blocks: contiguous 16-bit samples in
// one dimension.
bool is_raw_signal(const DataView& view) {
    const auto& info = view.info;
    return info.type == DataSetType::int16 && info.element_size == sizeof(int16_t) && info.size1 == 0 &&
           info.size2 == 0 && (info.count == 0 || view.data != nullptr);
}

// Appends the fault of one metadata entry: absent, or not of type T.
template <typename T>
void check_entry(const bass::data_wrappers::Metadata& metadata,
                 const std::string& key,
                 const char* missing,
                 const char* mistyped,
                 std::string& faults) {
    T* value = nullptr;
    if (!metadata.exists(key)) {
        faults += missing;
    } else if (!metadata.extract(key, value)) {
        faults += mistyped;
    }
}

}  // namespace

bool validate_read_impl(const interfaces::ReadHolder& read, std::string& error) {
    std::string faults;
    const auto raw = read.m_datasets.find(dataset::raw_data);
    if (raw == read.m_datasets.end()) {
        faults += " raw_data dataset not found.";
    } else if (!is_raw_signal(raw->second)) {
        faults += " raw_data dataset is not a one-dimensional int16 array.";
    }
    const auto& metadata = read.m_metadata;
    check_entry<std::string>(metadata, "read_id", " read_id metadata field not found.",
                             " read_id metadata field is not a string.", faults);
    check_entry<float>(metadata, "daq_offset", " daq_offset field not found.", " daq_offset field is not a float.",
                       faults);
    check_entry<float>(metadata, "daq_scaling", " daq_scaling metadata field not found.",
                       " daq_scaling metadata field is not a float.", faults);
    if (faults.empty()) {
        return true;
    }
    error = "Missing data in ReadHolder object:" + faults;
    return false;
}

}  // namespace vemla
