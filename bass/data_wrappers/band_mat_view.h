#pragma once

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "bass/data_wrappers/views.h"

namespace bass {
namespace data_wrappers {

// Non-owning view of a banded matrix: each row stores only `band_width`
// consecutive columns, the first of them at first_columns[row]. The owner
// of the memory must outlive the view.
template <typename T>
struct BandMatView {
    T* data = nullptr;
    uint64_t rows = 0;
    uint64_t band_width = 0;
    int64_t row_stride = 1;
    int64_t element_stride = 1;
    std::vector<int32_t> first_columns;
    uint64_t columns = 0;

    // The stored values of one row; value j belongs to column
    // first_columns[row] + j.
    VecView<T> row(uint64_t index) const {
        if (index >= rows) {
            throw std::out_of_range("row index out of bounds.");
        }
        VecView<T> result;
        result.data = data + static_cast<int64_t>(index) * row_stride;
        result.size = band_width;
        result.stride = element_stride;
        return result;
    }
};

}  // namespace data_wrappers
}  // namespace bass
