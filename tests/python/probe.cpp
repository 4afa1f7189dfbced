// Test-only companion of vemlapy (see CMakeLists.txt).

#include "python/align_results.h"
#include "python/data_conversions.h"
#include "python/read_conversions.h"

#include "interfaces/read_alignment.h"

#include <pybind11/pybind11.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace py = pybind11;
using bass::data_wrappers::DataSetType;
using bass::data_wrappers::DataTable;
using bass::data_wrappers::DataView;

namespace {

// dict_to_readholder then readholder_to_dict; None when the read is refused.
py::object read_round_trip(const py::dict& dict) {
    vemla::Read read;
    if (!vemla::dict_to_readholder(dict, read)) {
        return py::none();
    }
    return vemla::readholder_to_dict(read);
}

// An alignment table whose every cell is set from its row and column:
// Genome "genome_<row>", Direction '+' or '-', int32 and float columns
// 1000 * row + column, uint8 columns (row + column) % 2.
py::array alignment_results(std::size_t rows) {
    DataTable table = interfaces::ReadAlignmentHelper::create_alignment_table(rows);
    for (std::size_t column = 0; column < table.fields.size(); ++column) {
        const auto& field = table.fields[column];
        for (std::size_t row = 0; row < rows; ++row) {
            uint8_t* cell = table.data.data() + row * table.row_size + field.offset;
            const int32_t number = static_cast<int32_t>(1000 * row + column);
            switch (field.type) {
                case DataSetType::fixed_string: {
                    const std::string name = "genome_" + std::to_string(row);
                    std::memcpy(cell, name.data(), name.size());
                    break;
                }
                case DataSetType::int8: *cell = row % 2 == 0 ? '+' : '-'; break;
                case DataSetType::int32: std::memcpy(cell, &number, sizeof(number)); break;
                case DataSetType::float32: {
                    const float value = static_cast<float>(number);
                    std::memcpy(cell, &value, sizeof(value));
                    break;
                }
                case DataSetType::uint8: *cell = static_cast<uint8_t>((row + column) % 2); break;
                default: throw std::runtime_error("unexpected alignment column type");
            }
        }
    }
    return vemla::dataview_to_array(DataView(std::move(table)));
}

// A float32 vector of `count` elements whose recorded element size is
// `element_size`.
py::array mislabelled_dataset(std::size_t count, uint64_t element_size) {
    DataView view(std::vector<float>(count, 1.0f));
    view.info.element_size = element_size;
    return vemla::dataview_to_array(view);
}

}  // namespace

PYBIND11_MODULE(vemlapy_probe, module) {
    module.def("read_round_trip", &read_round_trip);
    module.def("alignment_results", &alignment_results);
    module.def("mislabelled_dataset", &mislabelled_dataset);
}
