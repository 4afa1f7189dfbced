#include "run_statistics.h"

#include <cstdio>

namespace example {

RunStatistics::RunStatistics() : m_start(std::chrono::steady_clock::now()) {}

void RunStatistics::read_returned(const vemla::Read& read) {
    // The sub-reads of a read the server split come back beside it (sub tag
    // 1 and up): they add bases, but neither a read nor samples.
    if (read.get_sub_tag() == 0) {
        ++m_returned;
        uint64_t* duration = nullptr;
        if (read.get_metadata().extract("duration", duration)) {
            m_samples += *duration;
        }
    }
    const auto& datasets = read.get_datasets();
    const auto qualities = datasets.find(dataset::qstring);
    if (qualities != datasets.end() && qualities->second.string) {
        for (const char symbol : *qualities->second.string) {
            m_quality_sum += symbol - 33;
        }
        m_bases += qualities->second.string->size();
    }
}

double RunStatistics::seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
}

void RunStatistics::print_progress(std::ostream& out, uint64_t total, bool in_place) const {
    char line[160];
    std::snprintf(line, sizeof line, "sent %llu/%llu, back %llu, %.1f s", static_cast<unsigned long long>(m_sent),
                  static_cast<unsigned long long>(total), static_cast<unsigned long long>(m_returned), seconds());
    if (in_place) {
        out << "\r" << line << std::flush;
    } else {
        out << line << "\n";
    }
}

void RunStatistics::print_summary(std::ostream& out, uint64_t missing) const {
    const double elapsed = seconds();
    const double mean_quality = m_bases ? m_quality_sum / static_cast<double>(m_bases) : 0.0;
    char text[512];
    std::snprintf(text, sizeof text,
                  "reads:        %llu sent, %llu back\n"
                  "bases:        %llu\n"
                  "mean quality: %.2f\n"
                  "throughput:   %.1f reads/s, %.0f samples/s (%.2f s)\n"
                  "failures:     %llu refused, %llu missing\n",
                  static_cast<unsigned long long>(m_sent), static_cast<unsigned long long>(m_returned),
                  static_cast<unsigned long long>(m_bases), mean_quality,
                  elapsed > 0 ? static_cast<double>(m_returned) / elapsed : 0.0,
                  elapsed > 0 ? static_cast<double>(m_samples) / elapsed : 0.0, elapsed,
                  static_cast<unsigned long long>(m_refused), static_cast<unsigned long long>(missing));
    out << text;
}

}  // namespace example
