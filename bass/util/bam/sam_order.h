#pragma once

// The record orders an @HD line can declare, and checks that records really
// follow one.

#include "bass/util/bam/bam_file.h"

#include <string>
#include <vector>

namespace bass {
namespace util {
namespace bam {

// Coordinate order: reference id as unsigned (so unplaced records, id -1,
// come last), then position.
inline bool coordinate_less(const BAMFileHandler::BamRecord& a, const BAMFileHandler::BamRecord& b) {
    if (a.ref_id != b.ref_id) {
        return uint32_t(a.ref_id) < uint32_t(b.ref_id);
    }
    return a.pos < b.pos;
}

// True for ordering fields that promise no order ("", SO:unknown,
// SO:unsorted, GO:none).
bool order_claims_nothing(const std::string& order_text);

// Whether `records` follow the ordering field `order_text` ("\tSO:coordinate",
// "\tSO:queryname" by byte or natural name order, "\tGO:query",
// "\tGO:reference"); false for orders that cannot be checked.
bool records_follow_order(const std::vector<BAMFileHandler::BamRecord>& records, const std::string& order_text);

}  // namespace bam
}  // namespace util
}  // namespace bass
