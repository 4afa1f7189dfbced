#pragma once

#include "bass/data_wrappers/views.h"
#include "bass/util/bam/base_mod_context.h"

#include <boost/any.hpp>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace bass {
namespace util {
namespace bam {

// Reader and writer of SAM/BAM data: one header, the reference list derived
// from it and a list of alignment records, turned into and out of SAM text,
// BAM files (BGZF blocks) and BAI indexes.
//
// Operations that can fail return false and leave the reason in
// error_message(). Conversion errors of numeric SAM fields, failed value
// casts of optional fields and the two buffer overruns ("Hit end of BAM
// buffer while writing data" / "... extracting data") are thrown instead. A
// handler is used by one thread at a time (its const operations included:
// they set the error text and the current file name).
//
// The static members below build the SAM text of one basecalled read
// (mandatory columns of an unmapped read and the base-modification and
// move-table tags); they keep no state and may run on any thread. Each
// returns false and fills `error` on bad input, leaving `out` unchanged
// unless stated otherwise.
class BAMFileHandler {
public:
    // The value of a B optional field: `count` elements of the subtype's
    // width (c, C: 1; s, S: 2; i, I, f: 4 bytes), little-endian, in `data`.
    struct AuxNumericalArray {
        char subtype = 0;
        uint32_t count = 0;
        std::vector<char> data;
    };

    // One optional field. `value` holds, by `type`: A char, c signed char,
    // C unsigned char, s short, S unsigned short, i int, I unsigned int,
    // f float, Z and H std::string, B AuxNumericalArray.
    struct AuxData {
        std::string tag;
        char type = 0;
        boost::any value;
    };

    // One alignment, laid out as the BAM record. `sam_line` is the SAM text
    // of the record: the parsed line, or the text rebuilt by update_sam_line.
    // The handler's records keep it empty when it is the text the record
    // rebuilds to (always for records read from a BAM file, and for most
    // added SAM lines); that text is built when get_alignment_sam or
    // write_to_sam_file asks for it.
    struct BamRecord {
        int32_t ref_id = 0;
        int32_t pos = 0;
        std::string read_name;
        uint8_t mapq = 0;
        uint16_t bin = 0;
        uint16_t flag = 0;
        int32_t l_seq = 0;
        int32_t next_ref_id = 0;
        int32_t next_pos = 0;
        int32_t tlen = 0;
        std::vector<uint32_t> cigar;  // length << 4 | operation code
        uint64_t ref_length = 0;      // reference bases covered (1 for CIGAR "*")
        std::vector<uint8_t> seq;     // two 4-bit base codes per byte
        std::vector<uint8_t> qual;    // phred values, 0xFF each for QUAL "*"
        std::vector<AuxData> aux;
        std::string sam_line;
    };

    struct RefSeq {
        std::string name;
        int32_t length = 0;
    };

    // Read cursor over decompressed BAM bytes (not owned). Every read checks
    // that its bytes remain and throws std::runtime_error "Hit end of BAM
    // buffer while extracting data" otherwise.
    struct BamBuffer {
        const char* data = nullptr;
        uint64_t size = 0;
        uint64_t position = 0;

        uint64_t remaining() const { return position < size ? size - position : 0; }
        const char* take(uint64_t count);
        template <typename T>
        T read() {
            T value;
            std::memcpy(&value, take(sizeof(T)), sizeof(T));
            return value;
        }
    };

    // BAI index under construction (virtual offsets are BGZF ones).
    struct ChunkIndex {
        uint64_t begin = 0;
        uint64_t end = 0;
    };
    struct BinIndex {
        std::vector<ChunkIndex> chunks;
    };
    struct ReferenceIndex {
        uint64_t mapped_count = 0;
        uint64_t unmapped_count = 0;
        uint64_t begin_offset = ~uint64_t(0);
        uint64_t end_offset = 0;
        std::map<unsigned int, BinIndex> bins;
        std::vector<uint64_t> window_offsets;  // may hold more room than is filled
        int32_t filled_windows = 0;
    };
    struct FileIndex {
        int32_t n_ref = 0;
        std::map<int, ReferenceIndex> references;
        uint64_t n_no_coor = 0;
    };

    BAMFileHandler();

    const std::string& error_message() const { return m_error_message; }

    // --- SAM tags of basecalled reads -------------------------------------

    // The eleven mandatory columns, tab-joined, without a line end. The
    // ninth column carries the sequence length. Names, sequences and quality
    // strings holding a tab or line break are refused.
    static bool make_unmapped_sam_line(std::string& out,
                                       const std::string& read_name,
                                       const std::string& sequence,
                                       const std::string& qstring,
                                       std::string& error);

    // One-letter code of a modification long name ("5mC" -> "m"); a name of
    // digits only (a ChEBI number) or an empty one is its own code.
    static bool get_modbase_channel_name(std::string& out, const std::string& long_name, std::string& error);

    // The "Mm" and "Ml" tags, tab-separated, in `out`. `probs` holds one row
    // per base and one column per alphabet character. Throws
    // std::runtime_error for an undecodable context and std::out_of_range for
    // a non-ACGT base in `sequence` or a channel before any canonical base.
    // On a failure after the size check `out` holds the text built so far.
    static bool generate_modbase_string(std::string& out,
                                        const std::string& sequence,
                                        const std::string& modbase_alphabet,
                                        const std::string& modbase_long_names,
                                        const std::string& context,
                                        const bass::data_wrappers::VecView<uint8_t>& probs,
                                        uint8_t threshold,
                                        std::string& error);
    static bool generate_modbase_string(std::string& out,
                                        const std::string& sequence,
                                        const std::string& modbase_alphabet,
                                        const std::string& modbase_long_names,
                                        const bass::data_wrappers::VecView<uint8_t>& probs,
                                        uint8_t threshold,
                                        std::string& error);

    // The "mv" tag: the stride, then each move split into signed-byte steps
    // (a value above 126 becomes runs of 127 followed by the remainder).
    static bool generate_move_table_string(std::string& out,
                                           const bass::data_wrappers::VecView<uint8_t>& moves,
                                           int8_t stride,
                                           std::string& error);

    // --- Record and SAM text line (sam_line.cpp, bam_record.cpp) ---------

    // Fills `record` from one SAM alignment line. On failure the record may
    // be partly filled and must be discarded.
    bool parse_sam_line_to_bam_record(const std::string& line, BamRecord& record);
    // Rebuilds `record.sam_line` from the record's fields.
    bool update_sam_line(BamRecord& record) const;

    bool pack_cigar_string(const std::string& cigar_text,
                           BamRecord& record,
                           size_t& ref_length,
                           size_t seq_text_length);
    static bool unpack_cigar_string(const uint32_t* operations,
                                    size_t count,
                                    std::string& text,
                                    size_t l_seq,
                                    bool& placeholder);
    static size_t get_cigar_ref_length(const std::vector<uint32_t>& operations);
    bool pack_seq_string(const std::string& seq_text, BamRecord& record);
    static bool unpack_seq_string(const BamRecord& record, std::string& text);
    static bool pack_phred_string(const std::string& qual_text, BamRecord& record);
    static bool unpack_phred_string(const BamRecord& record, std::string& text);

    // --- Header rules and SAM files (sam_header.cpp, sam_file.cpp) ---------

    bool reset();
    bool add_header_lines(std::string header_text);
    bool add_alignment_sam(std::string sam_line);
    bool read_from_sam_file(const std::string& path);
    bool write_to_sam_file(const std::string& path) const;
    bool get_header(std::string& header) const;
    bool get_num_alignments(size_t& count) const;
    bool get_alignment_sam(size_t index, std::string& sam_line) const;

    // --- BAM files (bam_writer.cpp, bam_reader.cpp, bgzf.cpp) --------------

    // Coordinate order: reference id as unsigned (unplaced last), then
    // position.
    bool sort();
    // With an index wanted, sorts first unless the records are already in
    // coordinate order.
    bool write_to_bam_file(const std::string& path, bool write_index);
    // Writes path (and path + ".bai" when asked; the records must then be in
    // coordinate order).
    bool write_to_bam_file(const std::string& path, bool write_index) const;
    bool get_updated_header(std::string& header) const;
    bool serialise_bam_record_to_buffer(const BamRecord& record, std::vector<char>& buffer) const;
    bool read_from_bam_file(const std::string& path);
    bool extract_alignment_from_buffer(BamBuffer& buffer);

    // Compresses `bytes` into BGZF blocks of at most 65536 uncompressed bytes
    // and reports the virtual offsets of the first block and of the end.
    bool write_BGZF_blocks_to_BAM(std::ofstream& out,
                                  const std::vector<char>& bytes,
                                  uint64_t& start_offset,
                                  uint64_t& end_offset) const;
    bool read_BGZF_block_from_BAM(std::ifstream& in, std::vector<char>& buffer);
    // Raw deflate of at most 65536 bytes. Empty on failure; 65536 zero bytes
    // when the output does not fit 65536 bytes (the caller takes a smaller
    // chunk).
    std::vector<char> compress_data(const char* bytes, unsigned int count) const;
    // Raw inflate of one block body into exactly `expected` bytes; empty on
    // failure.
    std::vector<char> decompress_data(const char* bytes, unsigned int count, unsigned int expected);

    // --- BAI index (bai_index.cpp) -----------------------------------------

    bool write_index_to_file(std::string path, FileIndex& index) const;
    static int reg_to_bin(int begin, int end);
    static void reg_to_bins(int begin, int end, std::vector<uint16_t>& bins);
    bool print_index_from_file(std::string path) const;

private:
    // The chunk being collected while a BAM file is written.
    struct OpenChunk {
        bool open = false;
        int32_t ref_id = 0;
        uint16_t bin = 0;
        uint64_t begin = 0;
        uint64_t end = 0;
    };
    static void add_record_to_index(FileIndex& index,
                                    OpenChunk& chunk,
                                    const BamRecord& record,
                                    uint64_t start_offset,
                                    uint64_t end_offset);
    static void close_index_chunk(FileIndex& index, OpenChunk& chunk);

    // Index of the reference named `name`; -1 when there is none.
    int32_t reference_id(const std::string& name) const;
    // Replaces the reference list and the name index with it.
    void set_references(std::vector<RefSeq> references);

    // parse_sam_line_to_bam_record without filling `sam_line`.
    bool parse_sam_fields(const std::string& line, BamRecord& record);

    bool check_indexable() const;
    // What update_sam_line would refuse: CIGAR codes without a letter,
    // reference ids outside the list, a CG field that cannot hold the real
    // CIGAR of a placeholder, a CIGAR whose query length is not the
    // sequence's.
    bool check_sam_line_fields(const BamRecord& record) const;
    // The record's SAM text into `line`.
    bool build_sam_line(const BamRecord& record, std::string& line) const;
    bool fill_header_buffer(std::vector<char>& buffer) const;
    // How far the BAM reader has decoded the bytes inflated so far.
    struct DecodeState {
        size_t consumed = 0;       // bytes decoded
        bool header_done = false;  // header and reference list decoded
        // A record reads past its own end, and past the bytes inflated so
        // far: whether that is a length mismatch or a read past the end of
        // the file is known only once the whole file is in.
        bool wait_for_end = false;
        // How far the header has been walked while its blocks came in (each
        // byte of it is walked once): the offset reached, and the references
        // still to pass (-1 until their count is in).
        uint64_t header_walked = 0;
        int64_t references_left = -1;
    };
    // Decodes what `bytes` holds from `state.consumed` on: the header first,
    // then every complete record (at the end of the file, everything left).
    bool decode_bam_stream(const std::vector<char>& bytes, DecodeState& state, const std::string& path, bool at_end);
    bool decode_bam_header(BamBuffer& buffer, const std::string& path);
    // Whether the records are in the order m_sort_order declares.
    bool declared_order_holds() const;
    // m_header with its @HD line brought in line with the records.
    void sam_header_to_write(std::string& header) const;

    mutable std::string m_error_message;
    mutable std::string m_file_name;
    mutable uint64_t m_bgzf_offset = 0;
    std::string m_header;
    bool m_is_sorted = false;
    std::string m_sort_order;
    std::string m_header_lines;
    std::vector<RefSeq> m_references;
    // Index in m_references of each name (its first entry, should a BAM
    // file's list name one twice), kept in step with the list so that
    // records find their references in constant time.
    std::unordered_map<std::string, int32_t> m_reference_ids;
    std::vector<BamRecord> m_records;
    // Code of every character value (indexed as unsigned char); -1 for none.
    std::array<int8_t, 256> m_cigar_op_codes;
    std::array<int8_t, 256> m_seq_codes;
};

}  // namespace bam
}  // namespace util
}  // namespace bass
