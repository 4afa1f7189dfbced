#include "bass/data_wrappers/views.h"

#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <vector>

using bass::data_wrappers::MatView;
using bass::data_wrappers::VecView;

namespace {

MatView<float> row_major(std::vector<float>& values, uint64_t rows, uint64_t columns) {
    MatView<float> m;
    m.view(values.data(), rows, columns, columns, 1);
    return m;
}

// Flat index of element (i, j) of a view relative to `base`, by hand.
int64_t flat_index(const MatView<float>& view, const float* base, uint64_t i, uint64_t j) {
    return (view.data - base) + static_cast<int64_t>(i) * view.stride1 + static_cast<int64_t>(j) * view.stride2;
}

}  // namespace

TEST(VecView, ChecksStrideBeforeNull) {
    VecView<uint8_t> v;
    EXPECT_NO_THROW(v.view(nullptr, 0, 1));
    try {
        v.view(nullptr, 3, 1);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Cannot view nullptr with size > 0");
    }
    const uint8_t byte = 1;
    try {
        v.view(nullptr, 3, 0);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Stride cannot be zero.");
    }
    v.view(&byte, 1, -1);
    EXPECT_EQ(v[0], 1);
}

TEST(MatView, ZeroStridesAreRefusedWithBothInTheText) {
    MatView<uint8_t> m;
    try {
        m.view(nullptr, 2, 2, 0, 1);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Strides (0,1) cannot be zero.");
    }
    EXPECT_EQ(m.data, nullptr);
    EXPECT_EQ(m.size1, 0u);
}

TEST(MatView, SubmatrixTestsMemoryRangesNotIndices) {
    std::vector<float> values(20);
    std::iota(values.begin(), values.end(), 0.0f);
    const auto parent = row_major(values, 4, 5);
    const auto inner = parent.submatrix(1, 1, 2, 3, 1, 1);
    EXPECT_EQ(inner.data, values.data() + 6);
    EXPECT_EQ(inner.size1, 2u);
    EXPECT_EQ(inner.size2, 3u);
    EXPECT_EQ(inner.stride1, 5);
    EXPECT_EQ(inner.stride2, 1);
    try {
        parent.submatrix(3, 0, 2, 5, 1, 1);
        FAIL();
    } catch (const std::out_of_range& e) {
        EXPECT_EQ(std::string(e.what()).rfind(
                          "MatView submatrix cannot access wider memory than parent matrix: full range is ", 0),
                  0u);
    }
    // Columns past the fifth, but memory 3..11 lies inside 0..19.
    EXPECT_NO_THROW(parent.submatrix(0, 3, 2, 4, 1, 1));
    EXPECT_THROW(parent.submatrix(0, 0, 2, 2, 0, 1), std::runtime_error);
}

TEST(MatView, EmptyExtentsNeverWrap) {
    std::vector<float> values(20);
    const auto parent = row_major(values, 4, 5);
    // An empty part at the very end (a cut after the last row) is fine.
    const auto after_end = parent.submatrix(4, 0, 0, 5, 1, 1);
    EXPECT_EQ(after_end.size1, 0u);
    EXPECT_NO_THROW(parent.submatrix(0, 0, 4, 0, 1, 1));
    // An empty part far outside is not.
    EXPECT_THROW(parent.submatrix(100, 0, 0, 5, 1, 1), std::out_of_range);
    // A huge start does not overflow into an accepted range.
    EXPECT_THROW(parent.submatrix(UINT64_MAX, UINT64_MAX, 1, 1, 1, 1), std::out_of_range);
    EXPECT_THROW(parent.submatrix(0, 0, UINT64_MAX, 1, UINT64_MAX, 1), std::out_of_range);

    MatView<float> empty_parent;
    empty_parent.view(nullptr, 0, 3, 3, 1);
    EXPECT_THROW(empty_parent.submatrix(0, 0, 1, 1, 1, 1), std::out_of_range);
    EXPECT_NO_THROW(empty_parent.submatrix(0, 0, 0, 3, 1, 1));
    MatView<float> empty_target;
    empty_target.view(nullptr, 0, 3, 3, 1);
    EXPECT_NO_THROW(empty_parent.copy_to(empty_target));
}

TEST(MatView, CopyToChecksShapesAndTransposesIntoColumnMajor) {
    std::vector<float> source(6);
    std::iota(source.begin(), source.end(), 1.0f);
    const auto from = row_major(source, 2, 3);
    std::vector<float> target(6);
    MatView<float> wrong_shape;
    wrong_shape.view(target.data(), 3, 2, 2, 1);
    try {
        from.copy_to(wrong_shape);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "MatView sizes don't match.");
    }
    MatView<float> column_major;
    column_major.view(target.data(), 2, 3, 1, 2);
    from.copy_to(column_major);
    EXPECT_EQ(target, (std::vector<float>{1, 4, 2, 5, 3, 6}));
}

TEST(MatView, RandomSubmatricesAgreeWithBruteForce) {
    std::mt19937 rng(1234);
    auto pick = [&](uint64_t n) { return n == 0 ? 0 : rng() % n; };
    int accepted = 0;
    int refused = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        const uint64_t rows = pick(6);
        const uint64_t columns = pick(6);
        std::vector<float> buffer(rows * columns);
        std::iota(buffer.begin(), buffer.end(), 0.0f);
        // Parents with every sign combination of strides over one buffer.
        const bool flip_rows = rng() % 2 == 1;
        const bool flip_columns = rng() % 2 == 1;
        const bool transposed = rng() % 2 == 1;
        int64_t s1 = transposed ? 1 : static_cast<int64_t>(columns);
        int64_t s2 = transposed ? static_cast<int64_t>(rows) : 1;
        if (s1 == 0) s1 = 1;
        if (s2 == 0) s2 = 1;
        int64_t start = 0;
        if (rows > 0 && columns > 0) {
            if (flip_rows) start += static_cast<int64_t>(rows - 1) * s1;
            if (flip_columns) start += static_cast<int64_t>(columns - 1) * s2;
        }
        if (flip_rows) s1 = -s1;
        if (flip_columns) s2 = -s2;
        MatView<float> parent;
        parent.view(buffer.data() + start, rows, columns, static_cast<uint64_t>(s1), static_cast<uint64_t>(s2));

        const uint64_t r0 = pick(rows + 2), c0 = pick(columns + 2);
        const uint64_t n1 = pick(4), n2 = pick(4), step1 = 1 + pick(3), step2 = 1 + pick(3);

        // Brute force: the part is allowed when it touches only buffer
        // elements inside the parent's memory range (or nothing at all
        // beyond one past its end).
        int64_t low = 0, high = -1;
        if (rows > 0 && columns > 0) {
            low = INT64_MAX;
            high = INT64_MIN;
            for (uint64_t i = 0; i < rows; ++i)
                for (uint64_t j = 0; j < columns; ++j) {
                    const int64_t f = flat_index(parent, buffer.data(), i, j);
                    low = std::min(low, f);
                    high = std::max(high, f);
                }
        }
        const int64_t sub_start = start + static_cast<int64_t>(r0) * s1 + static_cast<int64_t>(c0) * s2;
        bool allowed;
        if (n1 == 0 || n2 == 0) {
            const int64_t parent_low = rows > 0 && columns > 0 ? low : start;
            const int64_t parent_end = rows > 0 && columns > 0 ? high + 1 : start;
            allowed = sub_start >= parent_low && sub_start <= parent_end;
        } else {
            allowed = rows > 0 && columns > 0;
            for (uint64_t i = 0; allowed && i < n1; ++i)
                for (uint64_t j = 0; allowed && j < n2; ++j) {
                    const int64_t f = sub_start + static_cast<int64_t>(i * step1) * s1 +
                                      static_cast<int64_t>(j * step2) * s2;
                    allowed = f >= low && f <= high;
                }
        }
        SCOPED_TRACE(testing::Message() << rows << "x" << columns << " strides " << s1 << "," << s2 << " part " << r0
                                        << "," << c0 << " " << n1 << "x" << n2 << " steps " << step1 << "," << step2);
        if (!allowed) {
            EXPECT_THROW(parent.submatrix(r0, c0, n1, n2, step1, step2), std::out_of_range);
            ++refused;
            continue;
        }
        const auto part = parent.submatrix(r0, c0, n1, n2, step1, step2);
        ++accepted;
        ASSERT_EQ(part.size1, n1);
        ASSERT_EQ(part.size2, n2);
        std::vector<float> copied(n1 * n2, -1.0f);
        MatView<float> destination;
        const bool into_column_major = rng() % 2 == 1;
        if (into_column_major) {
            destination.view(copied.data(), n1, n2, 1, std::max<uint64_t>(n1, 1));
        } else {
            destination.view(copied.data(), n1, n2, std::max<uint64_t>(n2, 1), 1);
        }
        part.copy_to(destination);
        for (uint64_t i = 0; i < n1; ++i)
            for (uint64_t j = 0; j < n2; ++j) {
                const int64_t f = sub_start + static_cast<int64_t>(i * step1) * s1 +
                                  static_cast<int64_t>(j * step2) * s2;
                const uint64_t at = into_column_major ? j * n1 + i : i * n2 + j;
                ASSERT_EQ(copied[at], buffer[static_cast<std::size_t>(f)]);
            }
    }
    EXPECT_GT(accepted, 500);
    EXPECT_GT(refused, 500);
}
