#pragma once

#include "common/export.h"

#include "bass/data_wrappers/data_types.h"
#include "bass/data_wrappers/views.h"

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace bass {
namespace data_wrappers {

// One column of a DataTable row.
struct Field {
    std::string name;
    DataSetType type = DataSetType::none;
    uint64_t size = 0;    // bytes; for fixed_string the capacity without its NUL
    uint64_t offset = 0;  // byte offset within a row
};

// Rows of named, typed fields in one byte buffer. All fields are added first;
// the table's builder then sizes `data` and sets `num_rows` (and may round
// `row_size` up).
class VEMLA_DATA_EXPORT DataTable {
public:
    std::vector<uint8_t> data;
    std::vector<Field> fields;
    std::map<std::string, std::size_t> field_index;
    uint64_t row_size = 0;
    uint64_t num_rows = 0;

    DataTable() = default;
    DataTable(const DataTable&) = default;
    DataTable(DataTable&&) noexcept = default;
    DataTable& operator=(const DataTable&) = default;
    DataTable& operator=(DataTable&&) noexcept = default;

    // size 0 means the type's own size; fixed_string fields need a size.
    void add_field(const std::string& name, DataSetType type, uint64_t size = 0);

    uint64_t field_offset(const std::string& name) const;
    // Distance between one field's values in consecutive rows, in elements of
    // the field's own type (bytes for fixed_string).
    uint64_t field_stride(const std::string& name) const;

    // Strided view of one column; instantiated for int32_t, int8_t, float and
    // uint8_t. The view writes straight into the table's bytes.
    template <typename T>
    VecView<T> view_field(std::size_t position) const;

private:
    const Field& field_by_name(const std::string& name) const;
    // Rows must be a whole number of elements of the field, or a strided view
    // would drift across columns.
    void check_row_multiple(uint64_t element_size) const;
};

extern template VecView<int32_t> DataTable::view_field<int32_t>(std::size_t) const;
extern template VecView<int8_t> DataTable::view_field<int8_t>(std::size_t) const;
extern template VecView<float> DataTable::view_field<float>(std::size_t) const;
extern template VecView<uint8_t> DataTable::view_field<uint8_t>(std::size_t) const;

}  // namespace data_wrappers
}  // namespace bass
