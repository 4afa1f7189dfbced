#pragma once

// Optional fields (AuxData) in their two forms: SAM text ("XY:i:5") and BAM
// bytes (tag, type letter, value).

#include "bass/util/bam/bam_file.h"

#include <string>

namespace bass {
namespace util {
namespace bam {

using AuxData = BAMFileHandler::AuxData;

// One tab-free optional field of a SAM line, [begin, end). False with
// `error` for a piece of the wrong shape or type letter, or a value no
// reader takes (an A that is not a printable character, an H of odd
// length); numeric values that do not convert throw std::invalid_argument
// or std::out_of_range.
bool parse_aux_text(const char* begin,
                    const char* end,
                    AuxData& field,
                    std::string& error,
                    const std::string& file_name);

// Appends the field's SAM text. False with `error` for an unknown type
// letter; throws boost::bad_any_cast for a value of the wrong held type and
// std::runtime_error when a B array holds fewer bytes than its count needs.
bool append_aux_text(std::string& out, const AuxData& field, std::string& error);

// Bytes of the field in a BAM record; false with `error` when the field
// cannot be written as it stands (tag not two characters, unknown type
// letter, B array of unknown subtype or whose bytes do not match its count).
// Throws boost::bad_any_cast for a value of the wrong held type.
bool aux_binary_size(const AuxData& field, size_t& size, std::string& error);

// Writes a field whose size aux_binary_size gave.
void write_aux_binary(char*& out, const AuxData& field);

// Reads one field at the cursor; false for an unknown type letter. Reads
// past the end throw (BamBuffer).
bool read_aux_binary(BAMFileHandler::BamBuffer& buffer, AuxData& field);

// The CG field that holds the real CIGAR when the record's own is a
// placeholder (first operation a soft clip of the whole sequence); null
// otherwise.
const AuxData* placeholder_cigar_field(const BAMFileHandler::BamRecord& record);

// Whether the query bases of the record's CIGAR (of the real one in the CG
// field, for a placeholder) add up to its sequence length, as every reader
// demands; a record without CIGAR or without sequence passes. False with the
// reason in `error` otherwise.
bool cigar_fits_sequence(const BAMFileHandler::BamRecord& record, std::string& error);

}  // namespace bam
}  // namespace util
}  // namespace bass
