#pragma once

#include "common/export.h"

#include "bass/data_wrappers/data_view.h"
#include "bass/data_wrappers/metadata.h"
#include "common/timestamps.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>

// Ids of a read's datasets; map order is id order. The names are also the
// keys under which datasets are presented to Python.
enum dataset : int32_t {
    raw_data = 0,
    sequence = 3,
    qstring = 4,
    movement = 5,
    flipflop_trace = 6,
    state_data = 7,
    rle_base = 8,
    rle_shape = 9,
    rle_scale = 10,
    rle_weight = 11,
    rle_index = 12,
    rle_runlength = 13,
    base_mod_probs = 14,
    align_results = 15,
};

namespace interfaces {

// Model type and version id when the server does not name them.
const std::string UNKNOWN_MODEL_TYPE = "unknown";
const std::string UNKNOWN_MODEL_VERSION_ID = "unknown";

// Read priority in the client API's numbering: 0 high, 1 medium, 2 low.
using ReadPriority = uint32_t;

using DatasetMap = std::map<dataset, bass::data_wrappers::DataView>;

// Registry of the sub tags of one read family, shared by a read and all its
// sub-reads, which may live on different threads.
class VEMLA_DATA_EXPORT ReadCoordinator {
public:
    void register_sub_tag(uint64_t sub_tag);
    // Snapshot of the registered tags.
    std::unordered_set<uint64_t> registered_sub_tags() const;

private:
    mutable std::mutex m_mutex;
    std::unordered_set<uint64_t> m_sub_tags;
};

// One read in flight: a plain data carrier whose fields the engine and the
// client API fill directly.
class VEMLA_DATA_EXPORT ReadHolder {
public:
    uint64_t m_read_tag = 0;
    ReadPriority m_priority = 1;
    bass::data_wrappers::Metadata m_metadata;
    DatasetMap m_datasets;
    std::shared_ptr<ReadCoordinator> m_coordinator;
    uint64_t m_sub_tag = 0;
    std::shared_ptr<std::atomic<uint64_t>> m_sub_tag_counter;
    std::shared_ptr<void> m_attachment;  // opaque; travels with the read and its sub-reads
    mutable common::diagnostics::timings::Timestamps m_timestamps;

    ReadHolder();
    ReadHolder(const ReadHolder&) = delete;
    ReadHolder& operator=(const ReadHolder&) = delete;
    // The source ends as after clear(), and without attachment or timestamps.
    ReadHolder(ReadHolder&& other) noexcept;
    ReadHolder& operator=(ReadHolder&& other) noexcept;
    virtual ~ReadHolder();

    // Back to a new read's values, keeping the attachment and timestamps.
    void clear();

    // The metadata value under `name` as display text; empty when absent.
    std::string get_by_name(const std::string& name) const;

    void create_timestamp() const;

    // A deep copy of this read as a new sub-read with a derived strand id.
    ReadHolder clone() const;
    // Cuts the read before base `position`: this holder keeps the head, the
    // returned one is the tail. Everything is checked before anything is cut,
    // so a failure leaves this read unchanged.
    ReadHolder split_at(uint64_t position);
    // Recomputes "mean_qscore" from the quality string.
    void recalculate_mean_qscore();
};

}  // namespace interfaces
