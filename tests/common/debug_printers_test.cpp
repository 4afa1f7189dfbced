#include "common/debug_printers.h"

#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "count_occurrences.h"

namespace {

using bass::data_wrappers::BandMatView;
using bass::data_wrappers::MatView;
using bass::data_wrappers::VecView;
using common::debugPrintPathAsSequence;
using common::debugPrintPosteriors;
using common::debugPrintStates;
using common::debugPrintVector;
using vemla_test::count_occurrences;

template <typename T>
MatView<T> row_major(std::vector<T>& values, uint64_t rows, uint64_t columns) {
    MatView<T> view;
    view.view(values.data(), rows, columns, columns, 1);
    return view;
}

template <typename T>
VecView<T> view_of(std::vector<T>& values, int64_t stride = 1) {
    VecView<T> view;
    view.view(values.data(), values.size() / static_cast<std::size_t>(stride), stride);
    return view;
}

TEST(DebugPrinters, DenseLogScoresUseTheLowThresholdAndLabelKnownStates) {
    // k = 1: labels A, C, G, T, then "[]"; state 5 has none.
    std::vector<float> scores{-1.0f, -3.0f, -1.0f, -2.0f, -0.5f, -1.0f, -2.5f, -2.3f, -2.25f, -9, -9, -9};
    EXPECT_EQ(debugPrintPosteriors(row_major(scores, 2, 6), 1),
              "2 events, 6 states\n"
              "\n>>> Event 0<<<\nstate 0 (A): -1\nstate 2 (G): -1\nstate 3 (T): -2\nstate 4 ([]): -0.5\nstate 5: -1"
              "\n>>> Event 1<<<\nstate 2 (G): -2.25");
}

TEST(DebugPrinters, DenseProbabilitiesUseThresholdPointOneAndStopAt200Events) {
    std::vector<double> scores(500 * 2, 0.0);
    scores[1] = 0.1;
    scores[3] = 0.1000001;
    const auto text = debugPrintPosteriors(row_major(scores, 500, 2), 3);
    EXPECT_EQ(text.rfind("500 events, 2 states\n\n>>> Event 0<<<\n>>> Event 1<<<\nstate 1 (AAC): 0.1\n", 0), 0u)
            << text.substr(0, 80);
    EXPECT_EQ(count_occurrences(text, ">>> Event"), 200u);
    EXPECT_EQ(count_occurrences(text, "state "), 1u);
    EXPECT_EQ(text.substr(text.size() - 16), ">>> Event 199<<<");
}

TEST(DebugPrinters, BandedRowsPrintTheirColumns) {
    std::vector<float> band{0.5f, 0.05f, 0.2f, 0.9f};
    BandMatView<float> view;
    view.data = band.data();
    view.rows = 2;
    view.band_width = 2;
    view.row_stride = 2;
    view.first_columns = {0, 3};
    view.columns = 5;
    EXPECT_EQ(debugPrintPosteriors(view, 1),
              "2 events, 5 states\n\n>>> Event 0<<<\nstate 0 (A): 0.5\n>>> Event 1<<<\nstate 3 (T): 0.2\n"
              "state 4 ([]): 0.9");
    EXPECT_THROW(view.row(2), std::out_of_range);
    view.first_columns = {0};  // fewer than rows: refused, never read past
    EXPECT_THROW(debugPrintPosteriors(view, 1), std::out_of_range);
}

TEST(DebugPrinters, StatesPrintAsLabelsWithoutReadingPastThem) {
    std::vector<int> states{0, 4, 5, -1};
    const auto text = debugPrintStates(states, 1, true, 0);
    EXPECT_EQ(text.substr(0, 18), "[size 4, capacity ");
    EXPECT_EQ(text.substr(text.find(']')), "] {A; []; ?5; ?-1}");

    std::vector<int> strided{0, 9, 1, 9, 2, 9};
    EXPECT_NE(debugPrintStates(view_of(strided, 2), 1, true, 0).find("] {A; C; G}"), std::string::npos);

    const auto empty = debugPrintStates(std::vector<int>{}, 1, false, 2);
    EXPECT_EQ(empty.substr(0, 7), "[type  ");
    EXPECT_EQ(empty.substr(empty.size() - 4), "] {}");
}

TEST(DebugPrinters, PathPrintsTheMiddleBaseOfEachChangeUpTo100) {
    // k = 3: 5 is ACC, 8 is AGA, 63 is TTT; 64 is past the k-mers.
    EXPECT_EQ(debugPrintPathAsSequence(std::vector<int>{5, 5, 5, 8, 5}, 3), "CGC");
    EXPECT_EQ(debugPrintPathAsSequence(std::vector<int>{64, -3, 63}, 3), "NNT");
    EXPECT_EQ(debugPrintPathAsSequence(std::vector<int>{}, 3), "");
    std::vector<int> alternating;
    for (int i = 0; i < 150; ++i) {
        alternating.push_back(i % 2 == 0 ? 5 : 8);
    }
    alternating.resize(100);
    EXPECT_EQ(debugPrintPathAsSequence(alternating, 3).size(), 103u);
    alternating.resize(99);
    EXPECT_EQ(debugPrintPathAsSequence(alternating, 3).size(), 99u);
}

TEST(DebugPrinters, VectorEllipsisAndHeaders) {
    std::vector<signed char> values{1, 2, 3, 4, 5};
    const auto view = view_of(values);
    EXPECT_EQ(debugPrintVector(view, false, 2, 8), "[size 5, capacity 8] {1; 2; ...; 5}");
    EXPECT_EQ(debugPrintVector(view, true, 2, 8), "[size 5, capacity 8] {1; 2; 3; 4; 5}");
    EXPECT_EQ(debugPrintVector(view, false, 0, 8), "[size 5, capacity 8] {...; 5}");
    EXPECT_EQ(debugPrintVector(view, false, 3, 8), "[size 5, capacity 8] {1; 2; 3; ...; 5}");
    EXPECT_EQ(debugPrintVector(view, false, 4, 8), "[size 5, capacity 8] {1; 2; 3; 4; 5}");
    EXPECT_EQ(debugPrintVector(view, false, -1, 0), "[type  signed char, size 5, stride 1] {1; 2; 3; 4; 5}");
}

}  // namespace
