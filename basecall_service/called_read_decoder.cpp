#include "basecall_service/called_read_decoder.h"

#include "common/logger.h"
#include "interfaces/read_alignment.h"
#include "ipc_tools/wire_access.h"

#include <algorithm>

namespace basecall_service {

namespace {

using bass::data_wrappers::DataView;
using bass::data_wrappers::MatView;
using ipc_tools::wire::as_string;
using ipc_tools::wire::as_view;
using ipc_tools::wire::or_empty;
using ipc_tools::wire::size_of;

constexpr uint8_t EVENTS_MOVE_TRACE = vemla_ipc::EventData_MoveTraceData;
constexpr uint8_t EVENTS_RUN_LENGTH = vemla_ipc::EventData_RunLengthData;
constexpr uint64_t TRACE_WIDTH = sizeof(vemla_ipc::TraceRow);

// Up-front room for a buffer whose final size the server claims: the whole
// claim when it is modest next to the read, else a bound, after which the
// buffer grows only with data that really arrives.
template <typename T>
void reserve_for_claim(std::vector<T>& buffer, uint64_t claimed, uint64_t sample_limit) {
    constexpr uint64_t elements_per_sample = 8;
    buffer.reserve(std::min(claimed, sample_limit * elements_per_sample));
}

// Scalars are stored little-endian on the wire, as on every host we build
// for, so a vector's elements are copied as they lie.
static_assert(FLATBUFFERS_LITTLEENDIAN, "called data is copied as it lies on the wire");

template <typename T, typename Wire>
void append(std::vector<T>& buffer, const flatbuffers::Vector<Wire>& values) {
    static_assert(sizeof(T) == sizeof(Wire), "element sizes differ");
    const auto* first = reinterpret_cast<const T*>(values.data());
    buffer.insert(buffer.end(), first, first + values.size());
}

uint64_t product(uint64_t a, uint64_t b) {
    uint64_t result = 0;
    if (__builtin_mul_overflow(a, b, &result)) {
        throw BadCalledData("Called data sizes overflow: " + std::to_string(a) + " x " + std::to_string(b));
    }
    return result;
}

const vemla_ipc::CalledBlockData& called_data_of(const vemla_ipc::ReadBlockData& block) {
    const auto* called = block.called_data();
    if (called == nullptr) {
        throw BadCalledData("Called block of read " + std::to_string(block.read_tag()) + " carries no called data.");
    }
    return *called;
}

}  // namespace

CalledReadDecoder::CalledReadDecoder(CalledReadOptions options, uint64_t sample_limit)
    : m_options(options), m_sample_limit(sample_limit) {}

void CalledReadDecoder::refuse(const std::string& what) const {
    throw BadCalledData("Inconsistent called data for read " + std::to_string(m_read_tag) + ": " + what);
}

void CalledReadDecoder::add_first_block(const vemla_ipc::ReadBlockData& block, uint64_t frame_bytes) {
    m_read_tag = block.read_tag();
    m_num_blocks = std::max<uint32_t>(1, block.num_blocks());
    m_strand_id = as_string(block.strand_id());
    if (block.duration() == 0) {
        throw CalledReadWithoutDuration("Duration metadata missing for submitted read: " + std::to_string(m_read_tag));
    }
    // Each called block stands for some of the read's signal, so a read
    // cannot come back in more blocks than it has samples.
    if (m_num_blocks > std::max<uint64_t>(1, m_sample_limit)) {
        refuse(std::to_string(m_num_blocks) + " blocks from " + std::to_string(m_sample_limit) + " samples");
    }
    const auto& called = called_data_of(block);
    take_first_block_metadata(block, called, frame_bytes);
    prepare_buffers(called);
    add_block_data(called, true);
}

void CalledReadDecoder::add_next_block(const vemla_ipc::ReadBlockData& block) {
    add_block_data(called_data_of(block), false);
}

void CalledReadDecoder::take_first_block_metadata(const vemla_ipc::ReadBlockData& block,
                                                  const vemla_ipc::CalledBlockData& called,
                                                  uint64_t frame_bytes) {
    const uint64_t duration = block.duration();
    const uint64_t stride = called.model_stride();
    const uint64_t trimmed = called.trimmed_samples();
    if (stride == 0) {
        refuse("model stride 0");
    }
    if (trimmed > duration) {
        refuse(std::to_string(trimmed) + " trimmed samples of " + std::to_string(duration));
    }
    m_sequence_length = called.sequence_length();
    if (m_sequence_length > m_sample_limit) {
        refuse(std::to_string(m_sequence_length) + " bases from " + std::to_string(m_sample_limit) + " samples");
    }

    auto& metadata = m_metadata;
    metadata.insert("strand_id", m_strand_id);
    metadata.insert("duration", duration);
    metadata.insert("start_time", block.start_time());
    metadata.insert("basecall_type", as_string(called.basecall_type()));
    metadata.insert("model_version_id", as_string(called.model_version_id()));
    metadata.insert("mean_qscore", called.mean_qscore());
    metadata.insert("call_score", called.call_score());
    metadata.insert("stay_prob", called.stay_prob());
    metadata.insert("step_prob", called.step_prob());
    metadata.insert("skip_prob", called.skip_prob());
    metadata.insert("label_length", uint64_t(called.label_length()));
    metadata.insert("model_stride", stride);
    metadata.insert("state_size", uint64_t(called.state_size()));
    metadata.insert("median", called.median());
    metadata.insert("med_abs_dev", called.med_abs_dev());
    metadata.insert("trimmed_samples", trimmed);
    metadata.insert("trimmed_duration", duration - trimmed);
    metadata.insert("num_events", duration / stride);
    metadata.insert("trimmed_events", (duration - trimmed) / stride);
    metadata.insert("sequence_length", m_sequence_length);

    if (const auto* scaling = called.scaling()) {
        add_scaling_metadata(metadata, *scaling);
    }
    if (const auto* barcoding = called.barcoding()) {
        add_barcoding_metadata(metadata, *barcoding);
    }
    if (size_of(called.alignments()) > 0) {
        m_alignments = decode_alignments(*called.alignments(), frame_bytes);
    }
}

void CalledReadDecoder::prepare_buffers(const vemla_ipc::CalledBlockData& called) {
    m_total_positions = called.total_positions();
    if (m_total_positions > m_sample_limit) {
        refuse(std::to_string(m_total_positions) + " positions from " + std::to_string(m_sample_limit) + " samples");
    }
    if (m_options.events) {
        m_event_type = static_cast<uint8_t>(called.event_data_type());
        if (m_event_type == EVENTS_MOVE_TRACE) {
            const auto* events = called.event_data_as_MoveTraceData();
            m_has_moves = events && events->moves() && m_total_positions != 0;
            m_has_trace = events && events->trace() && m_total_positions != 0;
            if (m_has_moves) {
                m_moves.reserve(m_total_positions);
            }
            if (m_has_trace) {
                m_trace.reserve(m_total_positions * TRACE_WIDTH);
            }
        } else if (m_event_type == EVENTS_RUN_LENGTH) {
            const auto* runs = called.event_data_as_RunLengthData();
            m_rle_count = runs ? runs->rle_count() : 0;
            if (m_rle_count > m_sample_limit) {
                refuse(std::to_string(m_rle_count) + " runs from " + std::to_string(m_sample_limit) + " samples");
            }
            for (auto* buffer : {&m_rle_scale, &m_rle_shape, &m_rle_weight}) {
                buffer->reserve(m_rle_count);
            }
            m_rle_base.reserve(m_rle_count);
            m_rle_index.reserve(m_rle_count);
            m_rle_runlength.reserve(m_rle_count);
        }
        if (const auto* base_mods = called.base_mods()) {
            m_has_base_mods = true;
            const std::string alphabet = as_string(base_mods->base_mod_alphabet());
            m_alphabet_size = alphabet.size();
            m_metadata.insert("base_mod_alphabet", alphabet);
            m_metadata.insert("base_mod_long_names", as_string(base_mods->base_mod_long_names()));
            m_metadata.insert("base_mod_context", as_string(base_mods->base_mod_context()));
            reserve_for_claim(m_base_mod_probs, product(m_alphabet_size, m_sequence_length), m_sample_limit);
        } else {
            m_metadata.insert("base_mod_alphabet", std::string());
            m_metadata.insert("base_mod_long_names", std::string());
        }
    }
    m_metadata.insert("rle_count", m_rle_count);

    if (m_options.state_data && called.state_data()) {
        m_has_state = true;
        m_state_size = called.state_size();
        reserve_for_claim(m_state, product(m_total_positions, m_state_size), m_sample_limit);
    }
}

void CalledReadDecoder::add_block_data(const vemla_ipc::CalledBlockData& called, bool first) {
    // Appended straight from the frame, without a copy of each block's text.
    const std::string_view sequence = as_view(called.sequence());
    const std::string_view qstring = as_view(called.qstring());
    if (m_sequence.size() + sequence.size() > m_sequence_length) {
        refuse("more bases than its sequence length of " + std::to_string(m_sequence_length));
    }
    if (m_qstring.size() + qstring.size() > m_sequence_length) {
        refuse("more quality values than its sequence length of " + std::to_string(m_sequence_length));
    }
    m_sequence += sequence;
    m_qstring += qstring;

    const uint64_t positions = called.block_positions();
    if (m_options.events) {
        if (!first && static_cast<uint8_t>(called.event_data_type()) != m_event_type) {
            refuse("a later block carries event data of another kind");
        }
        if (m_event_type == EVENTS_MOVE_TRACE) {
            add_moves_and_trace(called, positions);
        } else if (m_event_type == EVENTS_RUN_LENGTH) {
            add_runs(called);
        }
        const auto* base_mods = called.base_mods();
        const auto* probs = base_mods ? base_mods->base_mod_probs() : nullptr;
        if (keep_optional(m_has_base_mods, probs != nullptr, sequence.size(), "base modification probabilities",
                          m_base_mod_probs)) {
            if (m_base_mod_probs.size() + probs->size() > product(m_alphabet_size, m_sequence_length)) {
                refuse("more base modification probabilities than alphabet x sequence length");
            }
            append(m_base_mod_probs, *probs);
        }
    }
    add_state(called, positions);
    ++m_blocks_added;
}

template <typename Buffer>
bool CalledReadDecoder::keep_optional(bool& kept, bool present, uint64_t items, const char* what, Buffer& buffer) {
    if (!kept || present) {
        return kept;
    }
    if (items > 0) {
        VEMLA_LOG_WARNING << "Called block " << m_blocks_added << " of read " << m_read_tag << " carries " << items
                          << " positions or bases but no " << what << "; the read comes back without them.";
        kept = false;
        Buffer().swap(buffer);
    }
    return false;
}

void CalledReadDecoder::add_moves_and_trace(const vemla_ipc::CalledBlockData& called, uint64_t positions) {
    const auto* events = called.event_data_as_MoveTraceData();
    const auto* moves = events ? events->moves() : nullptr;
    const auto* trace = events ? events->trace() : nullptr;
    if (keep_optional(m_has_moves, moves != nullptr, positions, "moves", m_moves)) {
        if (moves->size() != positions || m_moves.size() + positions > m_total_positions) {
            refuse(std::to_string(moves->size()) + " moves for " + std::to_string(positions) +
                   " positions of a block, " + std::to_string(m_total_positions) + " in total");
        }
        append(m_moves, *moves);
    }
    if (keep_optional(m_has_trace, trace != nullptr, positions, "trace", m_trace)) {
        if (trace->size() != positions || m_trace.size() / TRACE_WIDTH + positions > m_total_positions) {
            refuse(std::to_string(trace->size()) + " trace rows for " + std::to_string(positions) +
                   " positions of a block, " + std::to_string(m_total_positions) + " in total");
        }
        const auto* bytes = reinterpret_cast<const uint8_t*>(trace->data());
        m_trace.insert(m_trace.end(), bytes, bytes + positions * TRACE_WIDTH);
    }
}

void CalledReadDecoder::add_runs(const vemla_ipc::CalledBlockData& called) {
    const auto* runs = called.event_data_as_RunLengthData();
    if (runs == nullptr) {
        return;
    }
    const auto& base = or_empty(runs->rle_base());
    const uint64_t n = base.size();
    if (n == 0) {
        return;
    }
    const auto& scale = or_empty(runs->rle_scale());
    const auto& shape = or_empty(runs->rle_shape());
    const auto& weight = or_empty(runs->rle_weight());
    const auto& index = or_empty(runs->rle_index());
    const auto& runlength = or_empty(runs->rle_runlength());
    if (scale.size() != n || shape.size() != n || weight.size() != n || index.size() != n || runlength.size() != n) {
        refuse("run vectors of unequal lengths");
    }
    if (m_rle_base.size() + n > m_rle_count) {
        refuse("more runs than its run count of " + std::to_string(m_rle_count));
    }
    append(m_rle_base, base);
    append(m_rle_scale, scale);
    append(m_rle_shape, shape);
    append(m_rle_weight, weight);
    append(m_rle_index, index);
    append(m_rle_runlength, runlength);
}

void CalledReadDecoder::add_state(const vemla_ipc::CalledBlockData& called, uint64_t positions) {
    const auto* state = called.state_data();
    if (!keep_optional(m_has_state, state != nullptr, positions, "state data", m_state)) {
        return;
    }
    const uint64_t rows_so_far = m_state_size == 0 ? 0 : m_state.size() / m_state_size;
    if (state->size() != product(positions, m_state_size) || rows_so_far + positions > m_total_positions) {
        refuse(std::to_string(state->size()) + " state values for " + std::to_string(positions) + " positions of " +
               std::to_string(m_state_size) + " states");
    }
    append(m_state, *state);
}

void CalledReadDecoder::check_complete() const {
    if (m_sequence.size() != m_sequence_length) {
        refuse(std::to_string(m_sequence.size()) + " bases where its sequence length is " +
               std::to_string(m_sequence_length));
    }
    if (m_qstring.size() != m_sequence.size()) {
        refuse(std::to_string(m_qstring.size()) + " quality values for " + std::to_string(m_sequence.size()) +
               " bases");
    }
    if ((m_has_moves && m_moves.size() != m_total_positions) ||
        (m_has_trace && m_trace.size() != m_total_positions * TRACE_WIDTH) ||
        (m_has_state && m_state.size() != product(m_total_positions, m_state_size))) {
        refuse("blocks carry fewer positions than its " + std::to_string(m_total_positions));
    }
    if (m_rle_base.size() != m_rle_count) {
        refuse(std::to_string(m_rle_base.size()) + " runs where its run count is " + std::to_string(m_rle_count));
    }
    if (m_has_base_mods && m_base_mod_probs.size() != product(m_alphabet_size, m_sequence_length)) {
        refuse(std::to_string(m_base_mod_probs.size()) + " base modification probabilities for " +
               std::to_string(m_sequence_length) + " bases of " + std::to_string(m_alphabet_size) + " modifications");
    }
}

interfaces::DatasetMap CalledReadDecoder::build_datasets() {
    interfaces::DatasetMap datasets;
    datasets.emplace(dataset::sequence, DataView(std::move(m_sequence)));
    datasets.emplace(dataset::qstring, DataView(std::move(m_qstring)));
    if (!m_moves.empty()) {
        datasets.emplace(dataset::movement, DataView(std::move(m_moves)));
    }
    if (!m_base_mod_probs.empty()) {
        MatView<uint8_t> matrix;
        matrix.view(m_base_mod_probs.data(), m_sequence_length, m_alphabet_size, std::max<uint64_t>(m_alphabet_size, 1),
                    1);
        datasets.emplace(dataset::base_mod_probs, DataView(matrix, std::move(m_base_mod_probs)));
    }
    if (!m_trace.empty()) {
        MatView<uint8_t> matrix;
        matrix.view(m_trace.data(), m_total_positions, TRACE_WIDTH, TRACE_WIDTH, 1);
        datasets.emplace(dataset::flipflop_trace, DataView(matrix, std::move(m_trace)));
    }
    if (!m_rle_base.empty()) {
        datasets.emplace(dataset::rle_base, DataView(std::move(m_rle_base)));
        datasets.emplace(dataset::rle_shape, DataView(std::move(m_rle_shape)));
        datasets.emplace(dataset::rle_scale, DataView(std::move(m_rle_scale)));
        datasets.emplace(dataset::rle_weight, DataView(std::move(m_rle_weight)));
        datasets.emplace(dataset::rle_index, DataView(std::move(m_rle_index)));
        datasets.emplace(dataset::rle_runlength, DataView(std::move(m_rle_runlength)));
    }
    if (!m_state.empty()) {
        MatView<float> matrix;
        matrix.view(m_state.data(), m_state.size() / m_state_size, m_state_size, std::max<uint64_t>(m_state_size, 1),
                    1);
        datasets.emplace(dataset::state_data, DataView(matrix, std::move(m_state)));
    }
    if (m_alignments) {
        datasets.emplace(dataset::align_results, DataView(std::move(m_alignments->table)));
    }
    return datasets;
}

void CalledReadDecoder::commit(interfaces::ReadHolder& target) {
    check_complete();

    // Everything that can fail happens on a scratch read: the target's
    // metadata with the call's keys over it, and the new datasets.
    interfaces::ReadHolder scratch;
    scratch.m_metadata = target.m_metadata;
    scratch.m_metadata.merge(m_metadata);
    if (m_alignments) {
        if (!m_alignments->sam_text.empty()) {
            scratch.m_metadata.insert("alignment_sam_record", m_alignments->sam_text);
        }
        if (!m_alignments->bed_text.empty()) {
            scratch.m_metadata.insert("alignment_bed_lines", m_alignments->bed_text);
        }
    }
    interfaces::DatasetMap datasets = build_datasets();
    if (m_alignments) {
        // The summary describes the table the read will hold: its own when
        // it had one already, else the new one.
        const auto existing = target.m_datasets.find(dataset::align_results);
        scratch.m_datasets.emplace(dataset::align_results, existing != target.m_datasets.end()
                                                                   ? existing->second
                                                                   : datasets.at(dataset::align_results));
        interfaces::ReadAlignmentHelper::copy_alignment_results_to_metadata(scratch);
    }

    // The commit itself only swaps and relinks map nodes: it cannot fail.
    target.m_metadata.swap(scratch.m_metadata);
    while (!datasets.empty()) {
        target.m_datasets.insert(datasets.extract(datasets.begin()));
    }
}

}  // namespace basecall_service
