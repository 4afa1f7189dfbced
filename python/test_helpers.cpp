#include "python/test_helpers.h"

#include "python/data_conversions.h"
#include "python/parameter_conversions.h"
#include "python/read_conversions.h"

#include <cstdint>
#include <numeric>
#include <string>
#include <vector>

namespace vemla {

using bass::data_wrappers::DataView;
using bass::data_wrappers::MatView;
using bass::data_wrappers::Metadata;

namespace {

void fill_test_metadata(Metadata& metadata) {
    metadata.emplace("read_id", std::string("Test read-id"));
    metadata.emplace("channel", int32_t{4});
    metadata.emplace("daq_scaling", 2.7f);
    metadata.emplace("duration", uint64_t{12000450138});
}

void fill_test_datasets(interfaces::DatasetMap& datasets) {
    std::vector<int16_t> samples(1000);
    std::iota(samples.begin(), samples.end(), int16_t{0});
    datasets.emplace(dataset::raw_data, DataView(std::move(samples)));

    const uint64_t rows = 100;
    const uint64_t columns = 40;
    std::vector<uint8_t> states(rows * columns, 128);
    MatView<uint8_t> matrix;
    matrix.view(states.data(), rows, columns, columns, 1);
    datasets.emplace(dataset::state_data, DataView(matrix, std::move(states)));

    datasets.emplace(dataset::sequence, DataView(std::string("ACGTCGTGTT")));
}

py::dict test_metadata_to_dict() {
    Metadata metadata;
    fill_test_metadata(metadata);
    return config_details_to_dict(metadata);
}

py::dict test_datasets_to_dict() {
    interfaces::DatasetMap datasets;
    fill_test_datasets(datasets);
    return datasets_to_dict(datasets);
}

py::dict test_dict_to_readholder() {
    py::array_t<int16_t> samples(100);
    std::iota(samples.mutable_data(), samples.mutable_data() + samples.size(), int16_t{0});
    py::dict dict;
    dict["read_tag"] = (uint64_t{1} << 32) - 10;
    dict["read_id"] = "test_read";
    dict["daq_offset"] = 1.5;
    dict["daq_scaling"] = 2.5;
    dict["override_scaling"] = true;
    dict["scaling_med"] = 3.5;
    dict["scaling_mad"] = 4.5;
    dict["raw_data"] = samples;
    Read read;
    if (!dict_to_readholder(dict, read)) {
        return py::dict();
    }
    return readholder_to_dict(read);
}

py::dict test_readholder_to_dict() {
    Read read;
    read.set_read_tag((uint64_t{1} << 32) - 10);
    read.set_priority(Read::Priority::MEDIUM_PRIORITY);
    fill_test_metadata(read.get_metadata());
    read.get_metadata().emplace("daq_offset", 1.8f);
    fill_test_datasets(read.get_datasets());
    return readholder_to_dict(read);
}

py::str test_str_list_concat() {
    py::list tokens;
    tokens.append("token1");
    tokens.append("token2");
    tokens.append("token3");
    std::string joined;
    str_list_to_std_string(tokens, joined);
    return py::str(joined);
}

py::dict test_config_details_to_dict() {
    Metadata config;
    config.emplace("config_name", std::string("test_config_filename.cfg"));
    config.emplace("model_type", std::string("test_model_type"));
    config.emplace("model_version_id", std::string("test_model_version_id"));
    config.emplace("model_stride", uint64_t{1});
    config.emplace("label_length", uint64_t{1});
    config.emplace("temp_weight", 0.0f);
    config.emplace("temp_bias", 0.0f);
    config.emplace("qscore_scale", 1.0f);
    config.emplace("qscore_offset", 0.0f);
    return config_details_to_dict(config);
}

}  // namespace

void add_test_helpers(py::module_& module) {
    module.def("test_metadata_to_dict", &test_metadata_to_dict,
               "Helper function for use in testing conversion of Metadata objects to a Python dicts");
    module.def("test_datasets_to_dict", &test_datasets_to_dict,
               "Helper function for use in testing conversion of DatasetMap objects to Python dicts.");
    module.def("test_dict_to_readholder", &test_dict_to_readholder,
               "Helper function for use in testing conversion of python dict to ReadHolder object.");
    module.def("test_readholder_to_dict", &test_readholder_to_dict,
               "Helper function for use in testing conversion of a ReadHolder object to a python dict.");
    module.def("test_str_list_concat", &test_str_list_concat,
               "Helper function for use in testing the str_list_to_std_string() function.");
    module.def("test_config_details_to_dict", &test_config_details_to_dict,
               "Helper function for use in testing the config_details_to_dict() function.");
}

}  // namespace vemla
