#include "common/debug_printers.h"

#include <map>
#include <sstream>
#include <typeinfo>
#include <vector>

#include "common/sequence_utils.h"
#include "common/string_utils.h"

namespace common {
namespace {

using bass::data_wrappers::BandMatView;
using bass::data_wrappers::MatView;
using bass::data_wrappers::VecView;

constexpr uint64_t MAX_EVENTS = 200;
constexpr int MAX_PATH_BASES = 100;

// The 4^k k-mer labels, then "[]" for the state after them.
std::vector<std::string> state_labels(int k) {
    std::vector<std::string> labels;
    std::map<std::string, int> index;
    build_labls(labels, index, k);
    labels.emplace_back("[]");
    return labels;
}

template <typename T>
T threshold_for(T first_score) {
    return first_score < T(0) ? T(-2.3) : T(0.1);
}

template <typename T>
void write_state_line(std::ostream& text, uint64_t state, T value, const std::vector<std::string>& labels) {
    text << "\nstate " << state;
    if (state < labels.size()) {
        text << " (" << labels[state] << ")";
    }
    text << ": " << value;
}

std::size_t element_count(const VecView<int>& values) {
    return values.size;
}

std::size_t element_count(const std::vector<int>& values) {
    return values.size();
}

void write_element(std::ostream& text, signed char value) {
    text << static_cast<int>(value);
}

void write_element(std::ostream& text, const std::string& value) {
    text << value;
}

}  // namespace

template <typename T>
std::string debugPrintPosteriors(const MatView<T>& posteriors, int k) {
    const auto labels = state_labels(k);
    const T threshold = posteriors.size1 > 0 && posteriors.size2 > 0 ? threshold_for(posteriors(0, 0)) : T(0);
    std::ostringstream text;
    text << posteriors.size1 << " events, " << posteriors.size2 << " states\n";
    for (uint64_t event = 0; event < posteriors.size1 && event < MAX_EVENTS; ++event) {
        text << "\n>>> Event " << event << "<<<";
        for (uint64_t state = 0; state < posteriors.size2; ++state) {
            const T value = posteriors(event, state);
            if (value > threshold) {
                write_state_line(text, state, value, labels);
            }
        }
    }
    return text.str();
}

template <typename T>
std::string debugPrintPosteriors(const BandMatView<T>& posteriors, int k) {
    const auto labels = state_labels(k);
    const bool has_values = posteriors.rows > 0 && posteriors.columns > 0 && posteriors.band_width > 0;
    const T threshold = has_values ? threshold_for(posteriors.row(0)[0]) : T(0);
    std::ostringstream text;
    text << posteriors.rows << " events, " << posteriors.columns << " states\n";
    for (uint64_t event = 0; event < posteriors.rows && event < MAX_EVENTS; ++event) {
        text << "\n>>> Event " << event << "<<<";
        const auto row = posteriors.row(event);
        const int64_t first_column = posteriors.first_columns.at(event);
        for (uint64_t j = 0; j < row.size; ++j) {
            if (row[j] > threshold) {
                write_state_line(text, static_cast<uint64_t>(first_column + static_cast<int64_t>(j)), row[j], labels);
            }
        }
    }
    return text.str();
}

template <typename States>
std::string debugPrintStates(const States& states, int k, bool print_all, int items_before_ellipsis) {
    const auto labels = state_labels(k);
    std::vector<std::string> texts;
    const std::size_t count = element_count(states);
    for (std::size_t i = 0; i < count; ++i) {
        const int state = states[i];
        if (state >= 0 && static_cast<std::size_t>(state) < labels.size()) {
            texts.push_back(labels[static_cast<std::size_t>(state)]);
        } else {
            texts.push_back("?" + std::to_string(state));
        }
    }
    VecView<std::string> view;
    view.data = texts.data();
    view.size = texts.size();
    return debugPrintVector(view, print_all, items_before_ellipsis, static_cast<int>(texts.capacity()));
}

template <typename Path>
std::string debugPrintPathAsSequence(const Path& path, int k) {
    const auto labels = state_labels(k);
    const std::size_t kmer_count = labels.size() - 1;
    const auto middle = static_cast<std::size_t>(k / 2);
    std::string text;
    int previous = -1;
    for (const int state : path) {
        if (state != previous) {
            const bool has_kmer = state >= 0 && static_cast<std::size_t>(state) < kmer_count;
            text += has_kmer ? labels[static_cast<std::size_t>(state)][middle] : 'N';
            if (static_cast<int>(text.size()) == MAX_PATH_BASES) {
                text += "...";
                break;
            }
        }
        previous = state;
    }
    return text;
}

template <typename T>
std::string debugPrintVector(const VecView<T>& values, bool print_all, int items_before_ellipsis, int capacity) {
    std::ostringstream text;
    if (capacity > 0) {
        text << "[size " << values.size << ", capacity " << capacity << "] {";
    } else {
        text << "[type  " << demangle(typeid(T).name()) << ", size " << values.size << ", stride " << values.stride
             << "] {";
    }
    const auto size = static_cast<int32_t>(values.size);
    for (int32_t i = 0; i < size; ++i) {
        if (!print_all && i == items_before_ellipsis && i < size - 1) {
            text << "...; ";
            write_element(text, values[static_cast<uint64_t>(size - 1)]);
            break;
        }
        write_element(text, values[static_cast<uint64_t>(i)]);
        if (i < size - 1) {
            text << "; ";
        }
    }
    text << "}";
    return text.str();
}

template std::string debugPrintPosteriors<float>(const MatView<float>&, int);
template std::string debugPrintPosteriors<double>(const MatView<double>&, int);
template std::string debugPrintPosteriors<float>(const BandMatView<float>&, int);
template std::string debugPrintPosteriors<double>(const BandMatView<double>&, int);
template std::string debugPrintStates<VecView<int>>(const VecView<int>&, int, bool, int);
template std::string debugPrintStates<std::vector<int>>(const std::vector<int>&, int, bool, int);
template std::string debugPrintPathAsSequence<std::vector<int>>(const std::vector<int>&, int);
template std::string debugPrintVector<signed char>(const VecView<signed char>&, bool, int, int);
template std::string debugPrintVector<std::string>(const VecView<std::string>&, bool, int, int);

}  // namespace common
