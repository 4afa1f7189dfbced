#include "bass/data_wrappers/views.h"

#include <sstream>

namespace bass {
namespace data_wrappers {

namespace {

// Offsets in elements, wide enough that no product of a 64-bit extent and a
// 64-bit stride wraps; the compiler's 128-bit integer stays in this file.
__extension__ typedef __int128 Offset;
__extension__ typedef unsigned __int128 UnsignedOffset;

// Offset arithmetic with overflow noted rather than wrapped.
struct Offsets {
    bool overflow = false;
    Offset mul(Offset a, Offset b) {
        Offset r = 0;
        overflow = overflow || __builtin_mul_overflow(a, b, &r);
        return r;
    }
    Offset add(Offset a, Offset b) {
        Offset r = 0;
        overflow = overflow || __builtin_add_overflow(a, b, &r);
        return r;
    }
};

struct Range {
    Offset low;
    Offset high;
};

// Lowest and highest element a view touches. An empty view touches only its
// start, and an extent of 0 never turns into "extent - 1" wrapping.
Range range_of(Offsets& o, Offset start, uint64_t n1, uint64_t n2, Offset s1, Offset s2) {
    Range r{start, start};
    if (n1 == 0 || n2 == 0) {
        return r;
    }
    const Offset span1 = o.mul(static_cast<Offset>(n1 - 1), s1);
    const Offset span2 = o.mul(static_cast<Offset>(n2 - 1), s2);
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

// The address `offset` elements from `data`, in integer arithmetic only: the
// address may lie outside any object.
const void* address_at(const void* data, std::size_t element_size, Offset offset) {
    const auto base = static_cast<UnsignedOffset>(reinterpret_cast<uintptr_t>(data));
    const auto bytes = static_cast<UnsignedOffset>(offset) * element_size;
    return reinterpret_cast<const void*>(static_cast<uintptr_t>(base + bytes));
}

}  // namespace

SubmatrixPlacement place_submatrix(const void* data,
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
                                   uint64_t cstep) {
    Offsets o;
    const Offset s1 = o.mul(stride1, static_cast<Offset>(rstep));
    const Offset s2 = o.mul(stride2, static_cast<Offset>(cstep));
    if (rstep == 0 || cstep == 0) {
        // MatView::view refuses the zero stride, naming both.
        return {0, static_cast<uint64_t>(s1), static_cast<uint64_t>(s2)};
    }
    const Offset start = o.add(o.mul(static_cast<Offset>(r0), stride1), o.mul(static_cast<Offset>(c0), stride2));
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
             << address_at(data, element_size, parent.low) << ".." << address_at(data, element_size, parent.high)
             << ", sub-range is " << address_at(data, element_size, sub.low) << ".."
             << address_at(data, element_size, sub.high) << ".";
        throw std::out_of_range(text.str());
    }
    return {static_cast<int64_t>(start), static_cast<uint64_t>(static_cast<int64_t>(s1)),
            static_cast<uint64_t>(static_cast<int64_t>(s2))};
}

}  // namespace data_wrappers
}  // namespace bass
