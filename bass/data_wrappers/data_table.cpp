#include "bass/data_wrappers/data_table.h"

namespace bass {
namespace data_wrappers {

namespace {
constexpr uint64_t STRING_FIELD_ALIGNMENT = 4;

uint64_t round_up(uint64_t value, uint64_t multiple) {
    return (value + multiple - 1) / multiple * multiple;
}
}  // namespace

void DataTable::add_field(const std::string& name, DataSetType type, uint64_t size) {
    const auto type_value = static_cast<int32_t>(type);
    if (type_value < 0 || type_value > static_cast<int32_t>(DataSetType::fixed_string)) {
        throw std::runtime_error("Invalid data type for data table field.");
    }
    const bool is_string = type == DataSetType::fixed_string;
    const uint64_t type_size = data_type_size(type);
    uint64_t field_size = size;
    if (size == 0) {
        if (type_size == 0) {
            throw std::runtime_error("Must specify a size for string fields.");
        }
        field_size = type_size;
    } else if (type_size != 0 && size != type_size) {
        throw std::runtime_error("Specified type size does not match actual type size.");
    }
    const uint64_t alignment = is_string ? STRING_FIELD_ALIGNMENT : field_size;
    const uint64_t offset = round_up(row_size, alignment);

    // Build every new member value first so a throwing allocation leaves the
    // table as it was.
    fields.push_back(Field{name, type, field_size, offset});
    try {
        field_index[name] = fields.size() - 1;
    } catch (...) {
        fields.pop_back();
        throw;
    }
    row_size = offset + field_size + (is_string ? 1 : 0);
}

const Field& DataTable::field_by_name(const std::string& name) const {
    const auto found = field_index.find(name);
    if (found == field_index.end()) {
        // Spelled out: standard libraries word this differently.
        throw std::out_of_range("map::at:  key not found");
    }
    return fields.at(found->second);
}

void DataTable::check_row_multiple(uint64_t element_size) const {
    if (element_size == 0 || row_size % element_size != 0) {
        throw std::runtime_error("Table row size is not a multiple of the field size.");
    }
}

uint64_t DataTable::field_offset(const std::string& name) const {
    return field_by_name(name).offset;
}

uint64_t DataTable::field_stride(const std::string& name) const {
    const Field& field = field_by_name(name);
    if (field.type == DataSetType::fixed_string) {
        return row_size;
    }
    check_row_multiple(field.size);
    return row_size / field.size;
}

template <typename T>
VecView<T> DataTable::view_field(std::size_t position) const {
    const Field& field = fields.at(position);
    if (field.size != sizeof(T)) {
        throw std::runtime_error("VecView type not compatible with field type.");
    }
    check_row_multiple(sizeof(T));
    VecView<T> column;
    if (num_rows == 0) {
        column.view(nullptr, 0, static_cast<int64_t>(row_size / sizeof(T)));
        return column;
    }
    // The last row's value must lie inside the bytes the table holds.
    if (num_rows > data.size() / row_size || field.offset + sizeof(T) > row_size) {
        throw std::out_of_range("Table data is smaller than its rows.");
    }
    auto* first = const_cast<uint8_t*>(data.data()) + field.offset;
    column.view(reinterpret_cast<const T*>(first), num_rows, static_cast<int64_t>(row_size / sizeof(T)));
    return column;
}

template VecView<int32_t> DataTable::view_field<int32_t>(std::size_t) const;
template VecView<int8_t> DataTable::view_field<int8_t>(std::size_t) const;
template VecView<float> DataTable::view_field<float>(std::size_t) const;
template VecView<uint8_t> DataTable::view_field<uint8_t>(std::size_t) const;

}  // namespace data_wrappers
}  // namespace bass
