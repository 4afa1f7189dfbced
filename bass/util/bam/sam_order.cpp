#include "bass/util/bam/sam_order.h"

#include <cctype>
#include <set>

namespace bass {
namespace util {
namespace bam {

namespace {

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Natural order of read names: runs of digits compare by their numeric value.
int natural_compare(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (is_digit(a[i]) && is_digit(b[j])) {
            while (i < a.size() && a[i] == '0') {
                ++i;
            }
            while (j < b.size() && b[j] == '0') {
                ++j;
            }
            size_t ei = i, ej = j;
            while (ei < a.size() && is_digit(a[ei])) {
                ++ei;
            }
            while (ej < b.size() && is_digit(b[ej])) {
                ++ej;
            }
            if (ei - i != ej - j) {
                return ei - i < ej - j ? -1 : 1;
            }
            const int digits = a.compare(i, ei - i, b, j, ej - j);
            if (digits != 0) {
                return digits;
            }
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j]) {
                return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
            }
            ++i;
            ++j;
        }
    }
    return (i < a.size()) - (j < b.size());
}

template <typename Before>
bool pairwise(const std::vector<BAMFileHandler::BamRecord>& records, Before in_order) {
    for (size_t k = 1; k < records.size(); ++k) {
        if (!in_order(records[k - 1], records[k])) {
            return false;
        }
    }
    return true;
}

// Records with equal keys stand together.
template <typename Key, typename KeyOf>
bool grouped(const std::vector<BAMFileHandler::BamRecord>& records, KeyOf key_of) {
    std::set<Key> finished;
    for (size_t k = 1; k < records.size(); ++k) {
        const Key previous = key_of(records[k - 1]);
        if (key_of(records[k]) != previous) {
            finished.insert(previous);
            if (finished.count(key_of(records[k])) != 0) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

bool order_claims_nothing(const std::string& order_text) {
    return order_text.empty() || order_text == "\tSO:unknown" || order_text == "\tSO:unsorted" ||
           order_text == "\tGO:none";
}

bool records_follow_order(const std::vector<BAMFileHandler::BamRecord>& records, const std::string& order_text) {
    using Record = BAMFileHandler::BamRecord;
    if (order_text == "\tSO:coordinate") {
        return pairwise(records, [](const Record& a, const Record& b) { return !coordinate_less(b, a); });
    }
    if (order_text == "\tSO:queryname") {
        return pairwise(records, [](const Record& a, const Record& b) { return a.read_name <= b.read_name; }) ||
               pairwise(records, [](const Record& a, const Record& b) {
                   return natural_compare(a.read_name, b.read_name) <= 0;
               });
    }
    if (order_text == "\tGO:query") {
        return grouped<std::string>(records, [](const Record& r) { return r.read_name; });
    }
    if (order_text == "\tGO:reference") {
        return grouped<int32_t>(records, [](const Record& r) { return r.ref_id; });
    }
    return false;
}

}  // namespace bam
}  // namespace util
}  // namespace bass
