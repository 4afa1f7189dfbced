#pragma once

// Text renderings of diagnostic data for a developer: state scores per
// event (dense or banded) with k-mer labels, states as labels, a state path
// as bases, and strided vectors. The state labels for k are the 4^k k-mer
// labels of build_labls followed by "[]". Output is bounded: at most 200
// events and 100 bases, and vectors can be shortened with an ellipsis.
// Built for the element types listed at the end of debug_printers.cpp.

#include <string>

#include "bass/data_wrappers/band_mat_view.h"
#include "bass/data_wrappers/views.h"

namespace common {

// Header "<rows> events, <columns> states", then for each event a block
// ">>> Event <e><<<" with one line "state <s> (<label>): <value>" per state
// scoring above the threshold: -2.3 when the first score is negative (log
// scores), else 0.1. States without a label are printed without one.
template <typename T>
std::string debugPrintPosteriors(const bass::data_wrappers::MatView<T>& posteriors, int k);
template <typename T>
std::string debugPrintPosteriors(const bass::data_wrappers::BandMatView<T>& posteriors, int k);

// The labels of the states, as debugPrintVector prints them. A state with no
// label (outside 0 to 4^k) is shown as '?' and its number.
template <typename States>
std::string debugPrintStates(const States& states, int k, bool print_all, int items_before_ellipsis);

// The middle base of each state's k-mer, once per change of state, at most
// 100 bases and then "...". A state with no k-mer (outside 0 to 4^k - 1)
// gives 'N'.
template <typename Path>
std::string debugPrintPathAsSequence(const Path& path, int k);

// "[size <n>, capacity <c>] {" when `capacity` is above 0, else
// "[type  <element type>, size <n>, stride <s>] {", then the elements
// separated by "; " and "}". Unless `print_all`, the elements from position
// `items_before_ellipsis` up to the last are replaced by "..." when at least
// two would be left out. signed char elements print as numbers.
template <typename T>
std::string debugPrintVector(const bass::data_wrappers::VecView<T>& values,
                             bool print_all,
                             int items_before_ellipsis,
                             int capacity);

}  // namespace common
