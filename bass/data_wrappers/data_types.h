#pragma once

#include "common/export.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace bass {
namespace data_wrappers {

// Element type of a dataset or a table field. The values are part of what the
// Python module and the wire code exchange, so they never change.
enum class DataSetType : int32_t {
    int8 = 0,
    int16 = 1,
    int32 = 2,
    int64 = 3,
    uint8 = 4,
    uint16 = 5,
    uint32 = 6,
    uint64 = 7,
    float32 = 8,
    float64 = 9,
    fixed_string = 10,
    string = 11,
    table = 12,
    none = 13,
};

// Bytes per element of the numeric types 0..9; 0 for every other value
// (fixed-width strings, texts, tables, empty datasets have no size of their own).
VEMLA_DATA_EXPORT std::size_t data_type_size(DataSetType type);

// The DataSetType of a C++ element type, for the types datasets are made of.
template <typename T>
struct data_type_of;

#define VEMLA_DATA_TYPE_OF(cpp_type, enumerator)                      \
    template <>                                                       \
    struct data_type_of<cpp_type> {                                   \
        static constexpr DataSetType value = DataSetType::enumerator; \
    };
VEMLA_DATA_TYPE_OF(int8_t, int8)
VEMLA_DATA_TYPE_OF(int16_t, int16)
VEMLA_DATA_TYPE_OF(int32_t, int32)
VEMLA_DATA_TYPE_OF(int64_t, int64)
VEMLA_DATA_TYPE_OF(uint8_t, uint8)
VEMLA_DATA_TYPE_OF(uint16_t, uint16)
VEMLA_DATA_TYPE_OF(uint32_t, uint32)
VEMLA_DATA_TYPE_OF(uint64_t, uint64)
VEMLA_DATA_TYPE_OF(float, float32)
VEMLA_DATA_TYPE_OF(double, float64)
// Plain char data (signed on every supported platform) is stored as int8.
VEMLA_DATA_TYPE_OF(char, int8)
#undef VEMLA_DATA_TYPE_OF

}  // namespace data_wrappers
}  // namespace bass
