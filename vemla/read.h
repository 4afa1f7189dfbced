#pragma once

// vemla::Read: one read of the exported API. The caller fills it with raw
// signal and metadata and hands it to VemlaClient::pass_read; finished reads
// come back as Read objects from VemlaClient::get_completed_reads.

#include "common/export.h"

#include "bass/data_wrappers/metadata.h"
#include "interfaces/read_holder.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vemla {

// A move-only owner of one interfaces::ReadHolder. A moved-from Read owns
// nothing: only destruction and assignment are valid on it.
class VEMLA_EXPORT Read {
public:
    // The number is what a read holder's priority field holds.
    enum Priority : int32_t {
        HIGH_PRIORITY = 0,
        MEDIUM_PRIORITY = 1,
        LOW_PRIORITY = 2,
    };

    // One SAM record line and the BED lines that belong to it.
    struct AlignmentSamLine {
        std::string sam_line;
        std::vector<std::string> bed_lines;
    };

    // An empty read: tag 0, sub tag 0, MEDIUM_PRIORITY, no data.
    Read();
    Read(Read&& other) noexcept;
    Read& operator=(Read&& other) noexcept;
    Read(const Read&) = delete;
    Read& operator=(const Read&) = delete;
    ~Read();

    uint64_t get_read_tag() const;
    void set_read_tag(uint64_t read_tag);
    // The sub-read number of a read the server split; 0 otherwise.
    uint64_t get_sub_tag() const;

    // The holder's priority when it is 0, 1 or 2; otherwise -1.
    Priority get_priority() const;
    // Stores the three priorities as given and -1 as MEDIUM_PRIORITY; any
    // other value leaves the priority unchanged. The client overwrites it
    // with its own priority when the read is passed.
    void set_priority(Priority priority);

    bass::data_wrappers::Metadata& get_metadata();
    const bass::data_wrappers::Metadata& get_metadata() const;
    interfaces::DatasetMap& get_datasets();
    const interfaces::DatasetMap& get_datasets() const;

    // Takes over the contents of `holder` (which is left empty) and drops
    // the holder owned so far.
    void set_readholder(interfaces::ReadHolder& holder);
    interfaces::ReadHolder& get_readholder();
    const interfaces::ReadHolder& get_readholder() const;

    void clear();
    // A metadata value as text; empty when absent.
    std::string get_by_name(const std::string& name) const;
    bool has_alignment_data() const;

    // The read's SAM lines with their BED lines: the server's alignment
    // records, or one unmapped line. Base-modification calls whose
    // probability reaches `percentage` (0 to 100) are written on the first
    // line, and the move table when the read has one. Percentages outside
    // [0, 100) are clamped to that range.
    std::vector<AlignmentSamLine> extract_sam_and_bed_lines(float percentage) const;

private:
    std::unique_ptr<interfaces::ReadHolder> m_holder;
};

// "HIGH_PRIORITY", "MEDIUM_PRIORITY" or "LOW_PRIORITY"; any other value gives
// "invalid_priority_value".
VEMLA_EXPORT std::string to_string(Read::Priority priority);

}  // namespace vemla
