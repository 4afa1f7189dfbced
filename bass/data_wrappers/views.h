#pragma once

#include "common/export.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace bass {
namespace data_wrappers {

// Non-owning strided vector: element i lives at data + i * stride (in
// elements). The owner of the memory must outlive the view.
template <typename T>
struct VecView {
    T* data = nullptr;
    uint64_t size = 0;
    int64_t stride = 1;

    void view(const T* new_data, uint64_t new_size, int64_t new_stride) {
        if (new_stride == 0) {
            throw std::runtime_error("Stride cannot be zero.");
        }
        if (new_data == nullptr && new_size > 0) {
            throw std::runtime_error("Cannot view nullptr with size > 0");
        }
        data = const_cast<T*>(new_data);
        size = new_size;
        stride = new_stride;
    }

    T& operator[](uint64_t i) const { return data[static_cast<int64_t>(i) * stride]; }
    bool empty() const { return size == 0; }
};

// Non-owning strided matrix: element (i, j) lives at
// data + i * stride1 + j * stride2 (in elements).
template <typename T>
struct MatView {
    T* data = nullptr;
    uint64_t size1 = 0;
    uint64_t size2 = 0;
    int64_t stride1 = 1;
    int64_t stride2 = 1;

    // Strides come in as unsigned words; negative strides are their two's
    // complement.
    void view(const T* new_data, uint64_t new_size1, uint64_t new_size2, uint64_t new_stride1, uint64_t new_stride2) {
        if (new_stride1 == 0 || new_stride2 == 0) {
            throw std::runtime_error("Strides (" + std::to_string(new_stride1) + "," + std::to_string(new_stride2) +
                                     ") cannot be zero.");
        }
        data = const_cast<T*>(new_data);
        size1 = new_size1;
        size2 = new_size2;
        stride1 = static_cast<int64_t>(new_stride1);
        stride2 = static_cast<int64_t>(new_stride2);
    }

    T& operator()(uint64_t i, uint64_t j) const {
        return data[static_cast<int64_t>(i) * stride1 + static_cast<int64_t>(j) * stride2];
    }
    bool empty() const { return size1 == 0 || size2 == 0; }

    // A part of this view: rows from r0 on, every rstep-th, columns likewise.
    // The result must stay inside this view's memory range; the range test is
    // done in integer offsets so no pointer outside the parent is ever formed.
    MatView submatrix(uint64_t r0, uint64_t c0, uint64_t rows, uint64_t cols, uint64_t rstep, uint64_t cstep) const;

    // Copies element (i, j) of this view to element (i, j) of dest.
    void copy_to(MatView dest) const;
};

// Where a part of a strided matrix lies: its data pointer's offset from the
// parent's (in elements) and its two strides, as MatView::view takes them.
struct SubmatrixPlacement {
    int64_t start = 0;
    uint64_t stride1 = 0;
    uint64_t stride2 = 0;
};

// The placement of the part of a parent view (`data`, extents, strides;
// elements of `element_size` bytes) that MatView::submatrix cuts. A zero step
// gives its zero stride back for MatView::view to refuse. Throws
// std::out_of_range when the part would reach outside the parent's memory
// range; the range test runs on integer offsets wider than any pointer, so
// no address outside the parent is ever formed.
VEMLA_DATA_EXPORT SubmatrixPlacement place_submatrix(const void* data,
                                                     std::size_t element_size,
                                                     uint64_t size1,
                                                     uint64_t size2,
                                                     int64_t stride1,
                                                     int64_t stride2,
                                                     uint64_t r0,
                                                     uint64_t c0,
                                                     uint64_t rows,
                                                     uint64_t cols,
                                                     uint64_t rstep,
                                                     uint64_t cstep);

template <typename T>
MatView<T> MatView<T>::submatrix(uint64_t r0, uint64_t c0, uint64_t rows, uint64_t cols, uint64_t rstep, uint64_t cstep)
        const {
    const SubmatrixPlacement placement =
            place_submatrix(data, sizeof(T), size1, size2, stride1, stride2, r0, c0, rows, cols, rstep, cstep);
    MatView result;
    result.view(data + placement.start, rows, cols, placement.stride1, placement.stride2);
    return result;
}

template <typename T>
void MatView<T>::copy_to(MatView dest) const {
    if (dest.size1 != size1 || dest.size2 != size2) {
        throw std::runtime_error("MatView sizes don't match.");
    }
    if (dest.stride1 == 1) {
        // Column by column, so that writes into a column-major target are contiguous.
        for (uint64_t j = 0; j < size2; ++j) {
            for (uint64_t i = 0; i < size1; ++i) {
                dest(i, j) = (*this)(i, j);
            }
        }
    } else {
        for (uint64_t i = 0; i < size1; ++i) {
            for (uint64_t j = 0; j < size2; ++j) {
                dest(i, j) = (*this)(i, j);
            }
        }
    }
}

}  // namespace data_wrappers
}  // namespace bass
