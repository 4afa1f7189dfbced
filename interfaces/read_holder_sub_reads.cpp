// Sub-reads: cloning a read, splitting it in two, and the quality summary
// both of them recompute.
#include "bass/data_wrappers/metadata_keys.h"
#include "interfaces/read_holder.h"

#include <boost/uuid/name_generator_sha1.hpp>
#include <boost/uuid/string_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

namespace interfaces {

namespace {

using bass::data_wrappers::DataSetType;
using bass::data_wrappers::DataTable;
using bass::data_wrappers::DataView;
using bass::data_wrappers::MatView;
using bass::data_wrappers::Metadata;

// Fixed namespaces under which sub-read identifiers are derived from their
// parent's: index 0 names clones and split heads, index 1 split tails.
constexpr const char* namespace_uuid_1 = "a0534a88-2f7e-4928-99f4-3dedd84cb172";
constexpr const char* namespace_uuid_2 = "d55b66df-4584-419f-80c4-792c3f72008f";

constexpr float MIN_MEAN_QSCORE = 1.0f;
constexpr float MAX_MEAN_QSCORE = 90.0f;
constexpr uint64_t FLIPFLOP_COLUMNS = 8;

std::string generate_dervived_uuid(const std::string& parent_id, unsigned long index) {
    struct Generators {
        boost::uuids::name_generator_sha1 generator[2];
        std::mutex mutex[2];
        Generators()
            : generator{boost::uuids::name_generator_sha1(boost::uuids::string_generator()(namespace_uuid_1)),
                        boost::uuids::name_generator_sha1(boost::uuids::string_generator()(namespace_uuid_2))} {}
    };
    static Generators generators;
    if (index > 1) {
        throw std::out_of_range("No identifier namespace " + std::to_string(index) + ".");
    }
    boost::uuids::uuid id;
    {
        std::lock_guard<std::mutex> lock(generators.mutex[index]);
        id = generators.generator[index](parent_id);
    }
    return boost::uuids::to_string(id);
}

const std::string& text_of(const DataView& view) {
    if (view.info.type != DataSetType::string || view.string == nullptr) {
        throw std::runtime_error("Data does not view string data.");
    }
    return *view.string;
}

const DataView* find_dataset(const DatasetMap& datasets, dataset id) {
    const auto found = datasets.find(id);
    return found == datasets.end() ? nullptr : &found->second;
}

uint64_t count_or_zero(const Metadata& metadata, const std::string& key) {
    uint64_t* value = nullptr;
    return metadata.extract(key, value) ? *value : 0;
}

float float_or(const Metadata& metadata, const std::string& key, float fallback) {
    float* value = nullptr;
    return metadata.extract(key, value) ? *value : fallback;
}

float mean_qscore_of(const std::string& qualities, float shift, float scale) {
    if (qualities.empty()) {
        return MIN_MEAN_QSCORE;
    }
    // Single precision throughout, summed in string order: stored scores
    // are compared against this exact arithmetic.
    float sum = 0.0f;
    for (const char c : qualities) {
        const float phred = static_cast<float>(static_cast<int8_t>(c) - 33);
        const float exponent = (phred - shift) / scale / -10.0f;
        sum += powf(10.0f, exponent);
    }
    const float mean = sum / static_cast<float>(qualities.size());
    const float score = shift + scale * (-10.0f * log10f(mean));
    if (!(score > MIN_MEAN_QSCORE)) {
        return MIN_MEAN_QSCORE;
    }
    if (score >= MAX_MEAN_QSCORE) {
        return MAX_MEAN_QSCORE;
    }
    return score;
}

float mean_qscore_for(const DatasetMap& datasets, const Metadata& metadata, bool& has_qstring) {
    const DataView* qualities = find_dataset(datasets, qstring);
    has_qstring = qualities != nullptr;
    if (!has_qstring) {
        return 0.0f;
    }
    const float shift = float_or(metadata, "qscore_shift", 0.0f);
    const float scale = float_or(metadata, "qscore_scale", 1.0f);
    return mean_qscore_of(text_of(*qualities), shift, scale);
}

// An owning copy of any dataset, also of one that borrows its storage.
DataView independent_copy(const DataView& source) {
    DataView copy;
    if (source.owner || source.info.type == DataSetType::none) {
        copy = source;
        return copy;
    }
    if (source.info.type == DataSetType::string) {
        copy = DataView(std::string(text_of(source)), true);
    } else if (source.info.type == DataSetType::table) {
        DataTable table;
        for (const auto& field : source.info.fields) {
            table.field_index[field.name] = table.fields.size();
            table.fields.push_back(field);
        }
        table.row_size = source.info.element_size;
        table.num_rows = source.info.count;
        const auto* bytes = static_cast<const uint8_t*>(source.data);
        if (bytes != nullptr) {
            table.data.assign(bytes, bytes + table.row_size * table.num_rows);
        }
        copy = DataView(std::move(table), true);
    } else {
        // Vectors and matrices: the bytes go into an owned buffer, which
        // operator new aligns for every element type.
        const auto* bytes = static_cast<const uint8_t*>(source.data);
        std::vector<uint8_t> storage;
        if (bytes != nullptr) {
            storage.assign(bytes, bytes + source.info.element_size * source.info.count);
        }
        auto owner = std::make_unique<DataView::Owner<std::vector<uint8_t>>>(std::move(storage));
        copy.data = owner->data_ptr();
        copy.owner = std::move(owner);
    }
    copy.info = source.info;
    copy.metadata = source.metadata;
    return copy;
}

// Rows [begin, end) of a row-major matrix dataset as a new owned dataset.
template <typename T>
DataView matrix_rows(const MatView<T>& whole, uint64_t begin, uint64_t end) {
    const uint64_t rows = end - begin;
    const uint64_t columns = whole.size2;
    std::vector<T> values(rows * columns);
    MatView<T> target;
    target.view(values.data(), rows, columns, columns == 0 ? 1 : columns, 1);
    if (rows != 0 && columns != 0) {
        whole.submatrix(begin, 0, rows, columns, 1, 1).copy_to(target);
    }
    return DataView(target, values);
}

template <typename T>
MatView<T> as_matrix(const DataView& view, uint64_t rows, uint64_t columns) {
    MatView<T> matrix;
    matrix.view(static_cast<const T*>(view.data), rows, columns, columns == 0 ? 1 : columns, 1);
    return matrix;
}

// What a split will do, worked out completely before anything changes.
struct SplitPlan {
    uint64_t position = 0;
    uint64_t split_event = 0;
    uint64_t moves = 0;
    uint64_t base_mod_rows = 0;
    uint64_t base_mod_columns = 0;
    uint64_t flipflop_rows = 0;
    uint64_t state_rows = 0;
    uint64_t state_columns = 0;
};

SplitPlan plan_split(const ReadHolder& read, uint64_t position) {
    SplitPlan plan;
    plan.position = position;
    const Metadata& metadata = read.m_metadata;
    const DatasetMap& datasets = read.m_datasets;

    for (const dataset id : {sequence, qstring}) {
        if (const DataView* text = find_dataset(datasets, id)) {
            // Same error as cutting the text itself would give.
            (void)text_of(*text).substr(position, 0);
        }
    }
    // Checks run in the order the cut meets them, so a read with several
    // faults reports the one cutting would have hit first.
    if (const DataView* probs = find_dataset(datasets, base_mod_probs)) {
        const uint64_t sequence_length = metadata.get<basecall_data::sequence_length>();
        const uint64_t channels = metadata.get<basecall_data::base_mod_alphabet>().size();
        (void)probs->vec_view<uint8_t>();
        if (channels != 0 && sequence_length > std::numeric_limits<uint64_t>::max() / channels) {
            throw std::runtime_error("Base modification data does not match the sequence length.");
        }
        if (probs->info.count != sequence_length * channels) {
            throw std::runtime_error("Base modification data does not match the sequence length.");
        }
        plan.base_mod_rows = sequence_length;
        plan.base_mod_columns = channels;
    }

    const DataView* moves = find_dataset(datasets, movement);
    if (moves == nullptr) {
        throw std::runtime_error("A read without a move table cannot be split.");
    }
    const auto move_values = moves->vec_view<uint8_t>();
    plan.moves = move_values.size;
    // The split event is the first whose running move sum passes the
    // position; a cut at the very end leaves every event in the head.
    plan.split_event = plan.moves;
    uint64_t running_sum = 0;
    for (uint64_t i = 0; i < plan.moves; ++i) {
        running_sum += move_values[i];
        if (running_sum > position) {
            plan.split_event = i;
            break;
        }
    }
    if (running_sum < position) {
        throw std::out_of_range("Split position is beyond the bases of the move table.");
    }

    if (const DataView* trace = find_dataset(datasets, flipflop_trace)) {
        (void)trace->vec_view<uint8_t>();
        if (trace->info.count % FLIPFLOP_COLUMNS != 0) {
            throw std::runtime_error("Flip-flop trace is not a whole number of rows.");
        }
        plan.flipflop_rows = trace->info.count / FLIPFLOP_COLUMNS;
        if (plan.flipflop_rows < plan.split_event) {
            throw std::runtime_error("Flip-flop trace has fewer rows than the split event.");
        }
    }
    if (const DataView* states = find_dataset(datasets, state_data)) {
        plan.state_columns = metadata.get<basecall_data::state_size>();
        if (plan.state_columns == 0) {
            throw std::runtime_error("State data needs a non-zero state_size.");
        }
        (void)states->vec_view<float>();
        if (states->info.count % plan.state_columns != 0) {
            throw std::runtime_error("State data is not a whole number of rows.");
        }
        plan.state_rows = states->info.count / plan.state_columns;
        if (plan.state_rows < plan.split_event) {
            throw std::runtime_error("State data has fewer rows than the split event.");
        }
    }

    // The counts the head and tail are computed from must all be there.
    (void)metadata.get<read_data::strand_id>();
    if (position > metadata.get<basecall_data::sequence_length>()) {
        throw std::out_of_range("Split position is beyond the end of the read.");
    }
    (void)metadata.get<basecall_data::trimmed_events>();
    (void)metadata.get<basecall_data::num_events>();
    (void)metadata.get<basecall_data::model_stride>();
    if (!read.m_sub_tag_counter) {
        throw std::runtime_error("A read without a sub-tag counter cannot be split.");
    }
    return plan;
}

}  // namespace

ReadHolder ReadHolder::clone() const {
    ReadHolder copy;
    for (const auto& entry : m_datasets) {
        copy.m_datasets.emplace(entry.first, independent_copy(entry.second));
    }
    copy.m_metadata = m_metadata;
    copy.m_metadata.insert("strand_id", generate_dervived_uuid(m_metadata.get<read_data::strand_id>(), 0));
    if (!m_sub_tag_counter) {
        throw std::runtime_error("A read without a sub-tag counter cannot be cloned.");
    }
    copy.m_priority = m_priority;
    copy.m_read_tag = m_read_tag;
    copy.m_sub_tag_counter = m_sub_tag_counter;
    copy.m_sub_tag = m_sub_tag_counter->fetch_add(1) + 1;
    copy.m_coordinator = m_coordinator;
    if (copy.m_coordinator) {
        copy.m_coordinator->register_sub_tag(copy.m_sub_tag);
    }
    copy.m_attachment = m_attachment;
    return copy;
}

ReadHolder ReadHolder::split_at(uint64_t position) {
    const SplitPlan plan = plan_split(*this, position);
    const uint64_t p = plan.position;
    const uint64_t e = plan.split_event;

    // Everything new is built aside first; this read changes only at the end,
    // by moves that cannot fail.
    ReadHolder tail;
    DatasetMap head_replacements;
    std::optional<std::string> head_sequence;
    std::optional<std::string> head_qstring;

    if (const DataView* text = find_dataset(m_datasets, sequence)) {
        head_sequence = text_of(*text).substr(0, p);
        tail.m_datasets.emplace(sequence, DataView(text_of(*text).substr(p), true));
    }
    if (const DataView* text = find_dataset(m_datasets, qstring)) {
        head_qstring = text_of(*text).substr(0, p);
        tail.m_datasets.emplace(qstring, DataView(text_of(*text).substr(p), true));
    }
    if (const DataView* probs = find_dataset(m_datasets, base_mod_probs)) {
        const auto whole = as_matrix<uint8_t>(*probs, plan.base_mod_rows, plan.base_mod_columns);
        head_replacements.emplace(base_mod_probs, matrix_rows(whole, 0, p));
        tail.m_datasets.emplace(base_mod_probs, matrix_rows(whole, p, plan.base_mod_rows));
    }
    {
        const auto moves = m_datasets.at(movement).vec_view<uint8_t>();
        std::vector<uint8_t> head_moves(moves.data, moves.data + e);
        std::vector<uint8_t> tail_moves(moves.data + e, moves.data + plan.moves);
        head_replacements.emplace(movement, DataView(std::move(head_moves), true));
        tail.m_datasets.emplace(movement, DataView(std::move(tail_moves), true));
    }
    if (const DataView* trace = find_dataset(m_datasets, flipflop_trace)) {
        const auto whole = as_matrix<uint8_t>(*trace, plan.flipflop_rows, FLIPFLOP_COLUMNS);
        head_replacements.emplace(flipflop_trace, matrix_rows(whole, 0, e));
        tail.m_datasets.emplace(flipflop_trace, matrix_rows(whole, e, plan.flipflop_rows));
    }
    if (const DataView* states = find_dataset(m_datasets, state_data)) {
        const auto whole = as_matrix<float>(*states, plan.state_rows, plan.state_columns);
        head_replacements.emplace(state_data, matrix_rows(whole, 0, e));
        tail.m_datasets.emplace(state_data, matrix_rows(whole, e, plan.state_rows));
    }

    // Counts wrap modulo 2^64 like the unsigned values they are.
    const std::string parent_id = m_metadata.get<read_data::strand_id>();
    const uint64_t length = m_metadata.get<basecall_data::sequence_length>();
    const uint64_t trimmed_events = m_metadata.get<basecall_data::trimmed_events>();
    const uint64_t num_events = m_metadata.get<basecall_data::num_events>();
    const uint64_t stride = m_metadata.get<basecall_data::model_stride>();
    const uint64_t duration = count_or_zero(m_metadata, "duration");
    const uint64_t start_time = count_or_zero(m_metadata, "start_time");

    const uint64_t tail_events = trimmed_events - e;
    const uint64_t head_num_events = num_events - tail_events;
    const uint64_t head_duration = head_num_events * stride;
    const uint64_t tail_duration = duration - head_duration;

    Metadata head_metadata = m_metadata;
    head_metadata.insert("strand_id", generate_dervived_uuid(parent_id, 0));
    head_metadata.insert("sequence_length", p);
    head_metadata.insert("trimmed_events", e);
    head_metadata.insert("num_events", head_num_events);
    head_metadata.insert("duration", head_duration);
    head_metadata.insert("trimmed_duration", stride * e);

    tail.m_metadata = m_metadata;
    tail.m_metadata.insert("strand_id", generate_dervived_uuid(parent_id, 1));
    tail.m_metadata.insert("sequence_length", length - p);
    tail.m_metadata.insert("trimmed_events", tail_events);
    tail.m_metadata.insert("num_events", tail_events);
    tail.m_metadata.insert("duration", tail_duration);
    tail.m_metadata.insert("trimmed_duration", tail_duration);
    tail.m_metadata.insert("start_time", start_time + head_duration);
    tail.m_metadata.insert("trimmed_samples", uint64_t(0));

    bool has_qstring = false;
    if (head_qstring) {
        const float shift = float_or(head_metadata, "qscore_shift", 0.0f);
        const float scale = float_or(head_metadata, "qscore_scale", 1.0f);
        head_metadata.insert("mean_qscore", mean_qscore_of(*head_qstring, shift, scale));
    }
    const float tail_score = mean_qscore_for(tail.m_datasets, tail.m_metadata, has_qstring);
    if (has_qstring) {
        tail.m_metadata.insert("mean_qscore", tail_score);
    }

    tail.m_priority = m_priority;
    tail.m_read_tag = m_read_tag;
    tail.m_attachment = m_attachment;
    tail.m_coordinator = m_coordinator;
    tail.m_sub_tag_counter = m_sub_tag_counter;
    tail.m_sub_tag = m_sub_tag_counter->fetch_add(1) + 1;
    if (tail.m_coordinator) {
        tail.m_coordinator->register_sub_tag(tail.m_sub_tag);
    }

    // Commit. The head's texts keep their dataset and its metadata.
    if (head_sequence) {
        m_datasets.at(sequence).set_string(std::move(*head_sequence));
    }
    if (head_qstring) {
        m_datasets.at(qstring).set_string(std::move(*head_qstring));
    }
    for (auto& replacement : head_replacements) {
        m_datasets.at(replacement.first) = std::move(replacement.second);
    }
    m_metadata = std::move(head_metadata);
    return tail;
}

void ReadHolder::recalculate_mean_qscore() {
    bool has_qstring = false;
    const float score = mean_qscore_for(m_datasets, m_metadata, has_qstring);
    if (has_qstring) {
        m_metadata.insert("mean_qscore", score);
    }
}

}  // namespace interfaces
