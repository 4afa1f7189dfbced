#include "bass/data_wrappers/data_types.h"

#include <array>

namespace bass {
namespace data_wrappers {

namespace {
// The one source of element sizes, indexed by the enumeration value.
constexpr std::array<std::size_t, 10> ELEMENT_SIZES{1, 2, 4, 8, 1, 2, 4, 8, 4, 8};
}  // namespace

std::size_t data_type_size(DataSetType type) {
    const auto index = static_cast<int32_t>(type);
    if (index < 0 || index >= static_cast<int32_t>(ELEMENT_SIZES.size())) {
        return 0;
    }
    return ELEMENT_SIZES[static_cast<std::size_t>(index)];
}

}  // namespace data_wrappers
}  // namespace bass
