#pragma once

#include <cstdint>
#include <sstream>
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
    void view(const T* new_data, uint64_t new_size1, uint64_t new_size2, uint64_t new_stride1,
              uint64_t new_stride2) {
        if (new_stride1 == 0 || new_stride2 == 0) {
            throw std::runtime_error("Strides (" + std::to_string(new_stride1) + "," +
                                     std::to_string(new_stride2) + ") cannot be zero.");
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
    MatView submatrix(uint64_t r0, uint64_t c0, uint64_t rows, uint64_t cols, uint64_t rstep,
                      uint64_t cstep) const;

    // Copies element (i, j) of this view to element (i, j) of dest.
    void copy_to(MatView dest) const;

private:
    // Offsets are element counts relative to this view's data pointer, in
    // 128-bit integers with overflow noted rather than wrapped.
    struct Offsets {
        bool overflow = false;
        __int128 mul(__int128 a, __int128 b) {
            __int128 r = 0;
            overflow = overflow || __builtin_mul_overflow(a, b, &r);
            return r;
        }
        __int128 add(__int128 a, __int128 b) {
            __int128 r = 0;
            overflow = overflow || __builtin_add_overflow(a, b, &r);
            return r;
        }
    };
    struct Range {
        __int128 low;
        __int128 high;
    };
    // Lowest and highest element a view touches. An empty view touches only
    // its start, and an extent of 0 never turns into "extent - 1" wrapping.
    static Range range_of(Offsets& o, __int128 start, uint64_t n1, uint64_t n2, __int128 s1,
                          __int128 s2) {
        Range r{start, start};
        if (n1 == 0 || n2 == 0) {
            return r;
        }
        const __int128 span1 = o.mul(static_cast<__int128>(n1 - 1), s1);
        const __int128 span2 = o.mul(static_cast<__int128>(n2 - 1), s2);
        if (s1 > 0) {
            r.high = o.add(r.high, span1);
        } else {
            r.low = o.add(r.low, span1);
        }
        if (s2 > 0) {
            r.high = o.add(r.high, span2);
        } else {
            r.low = o.add(r.low, span2);
        }
        return r;
    }
    const void* address_at(__int128 offset) const {
        // Integer arithmetic only: the address may lie outside any object.
        const auto base = static_cast<unsigned __int128>(reinterpret_cast<uintptr_t>(data));
        const auto bytes = static_cast<unsigned __int128>(offset) * sizeof(T);
        return reinterpret_cast<const void*>(static_cast<uintptr_t>(base + bytes));
    }
};

template <typename T>
MatView<T> MatView<T>::submatrix(uint64_t r0, uint64_t c0, uint64_t rows, uint64_t cols,
                                 uint64_t rstep, uint64_t cstep) const {
    Offsets o;
    const __int128 s1 = o.mul(stride1, static_cast<__int128>(rstep));
    const __int128 s2 = o.mul(stride2, static_cast<__int128>(cstep));
    if (rstep == 0 || cstep == 0) {
        MatView rejected;  // throws the zero-stride error
        rejected.view(data, rows, cols, static_cast<uint64_t>(s1), static_cast<uint64_t>(s2));
    }
    const __int128 start = o.add(o.mul(static_cast<__int128>(r0), stride1),
                                 o.mul(static_cast<__int128>(c0), stride2));
    const Range parent = range_of(o, 0, size1, size2, stride1, stride2);
    const Range sub = range_of(o, start, rows, cols, s1, s2);
    const bool parent_empty = size1 == 0 || size2 == 0;
    const bool sub_empty = rows == 0 || cols == 0;
    bool inside;
    if (sub_empty) {
        // Touches nothing; its start may sit one past the parent's last
        // element (a cut at the very end).
        inside = start >= parent.low && start <= (parent_empty ? parent.low : o.add(parent.high, 1));
    } else {
        inside = !parent_empty && sub.low >= parent.low && sub.high <= parent.high;
    }
    const bool strides_fit = s1 >= INT64_MIN && s1 <= INT64_MAX && s2 >= INT64_MIN && s2 <= INT64_MAX;
    if (o.overflow || !inside || !strides_fit) {
        std::ostringstream text;
        text << "MatView submatrix cannot access wider memory than parent matrix: full range is "
             << address_at(parent.low) << ".." << address_at(parent.high) << ", sub-range is "
             << address_at(sub.low) << ".." << address_at(sub.high) << ".";
        throw std::out_of_range(text.str());
    }
    MatView result;
    result.view(data + static_cast<int64_t>(start), rows, cols,
                static_cast<uint64_t>(static_cast<int64_t>(s1)),
                static_cast<uint64_t>(static_cast<int64_t>(s2)));
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
