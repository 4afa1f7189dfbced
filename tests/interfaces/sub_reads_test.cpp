#include "interfaces/read_holder.h"
#include "python_oracle.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <sstream>

using bass::data_wrappers::DataSetType;
using bass::data_wrappers::DataTable;
using bass::data_wrappers::DataView;
using bass::data_wrappers::MatView;
using interfaces::ReadCoordinator;
using interfaces::ReadHolder;

namespace {

// The system's identifier namespaces for clones/split heads and split tails.
const char* const HEAD_NAMESPACE = "a0534a88-2f7e-4928-99f4-3dedd84cb172";
const char* const TAIL_NAMESPACE = "d55b66df-4584-419f-80c4-792c3f72008f";

// uuid.uuid5 of each (namespace, name) pair, computed by Python.
std::vector<std::string> python_uuid5(const std::vector<std::pair<std::string, std::string>>& requests) {
    std::ostringstream script;
    script << "import uuid\nrequests = [\n";
    for (const auto& r : requests) {
        script << "  ('" << r.first << "', bytes.fromhex('" << test_support::to_hex(r.second) << "')),\n";
    }
    script << "]\nfor ns, name in requests:\n"
              "    print(uuid.uuid5(uuid.UUID(ns), name.decode('utf-8')))\n";
    std::istringstream output(test_support::run_python(script.str()));
    std::vector<std::string> ids;
    for (std::string line; std::getline(output, line);) ids.push_back(line);
    return ids;
}

template <typename T>
std::vector<T> elements(const DataView& view) {
    const auto* first = static_cast<const T*>(view.data);
    return std::vector<T>(first, first + view.info.count);
}

template <typename T>
std::vector<T> concat(std::vector<T> a, const std::vector<T>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct ReadShape {
    uint64_t length = 0;
    std::string alphabet = "ACmGT";
    uint64_t state_size = 3;
};

ReadHolder random_read(std::mt19937& rng, const ReadShape& shape) {
    ReadHolder read;
    read.m_read_tag = 99;
    read.m_priority = 2;
    read.m_sub_tag_counter = std::make_shared<std::atomic<uint64_t>>(10);
    read.m_coordinator = std::make_shared<ReadCoordinator>();
    read.m_attachment = std::make_shared<int>(1);

    const uint64_t L = shape.length;
    std::string bases, qualities;
    for (uint64_t i = 0; i < L; ++i) {
        bases += "ACGT"[rng() % 4];
        qualities += static_cast<char>(33 + rng() % 45);
    }
    std::vector<uint8_t> moves;
    uint64_t placed = 0;
    while (placed < L) {
        const uint64_t step = std::min<uint64_t>(rng() % 3, L - placed);
        moves.push_back(static_cast<uint8_t>(step));
        placed += step;
    }
    for (int i = 0; i < 3; ++i) moves.push_back(0);
    const uint64_t events = moves.size();

    std::vector<uint8_t> probs(L * shape.alphabet.size());
    for (auto& p : probs) p = static_cast<uint8_t>(rng());
    std::vector<uint8_t> trace(events * 8);
    for (auto& t : trace) t = static_cast<uint8_t>(rng());
    std::vector<float> states(events * shape.state_size);
    for (auto& s : states) s = static_cast<float>(rng() % 1000) / 7.0f;

    MatView<uint8_t> probs_view;
    probs_view.view(probs.data(), L, shape.alphabet.size(), std::max<uint64_t>(shape.alphabet.size(), 1), 1);
    MatView<uint8_t> trace_view;
    trace_view.view(trace.data(), events, 8, 8, 1);
    MatView<float> state_view;
    state_view.view(states.data(), events, shape.state_size, std::max<uint64_t>(shape.state_size, 1), 1);

    read.m_datasets.emplace(sequence, DataView(std::move(bases)));
    read.m_datasets.emplace(qstring, DataView(std::move(qualities)));
    read.m_datasets.emplace(movement, DataView(std::move(moves)));
    read.m_datasets.emplace(base_mod_probs, DataView(probs_view, probs));
    read.m_datasets.emplace(flipflop_trace, DataView(trace_view, trace));
    read.m_datasets.emplace(state_data, DataView(state_view, states));
    read.m_datasets.at(sequence).metadata.insert("kept", true);

    auto& m = read.m_metadata;
    m.insert("strand_id", "strand-" + std::to_string(rng()));
    m.insert("read_id", std::string("read"));
    m.insert("sequence_length", L);
    m.insert("base_mod_alphabet", shape.alphabet);
    m.insert("state_size", shape.state_size);
    m.insert("trimmed_events", events);
    m.insert("num_events", events + 11);
    m.insert("model_stride", uint64_t(5));
    m.insert("duration", (events + 11) * 5 + 4);
    m.insert("start_time", uint64_t(1000));
    m.insert("trimmed_samples", uint64_t(55));
    return read;
}

// Tags, metadata and dataset contents of a read.
std::string content_snapshot(const ReadHolder& read) {
    std::ostringstream text;
    text << read.m_read_tag << '/' << read.m_sub_tag << '/' << read.m_priority << '/';
    read.m_metadata.write_to_stream(text);
    for (const auto& [id, view] : read.m_datasets) {
        text << '|' << id << ':' << static_cast<int>(view.info.type) << ':' << view.info.count << ':' << view.info.size1
             << 'x' << view.info.size2 << ':';
        view.metadata.write_to_stream(text);
        const auto* bytes = static_cast<const char*>(view.data);
        const uint64_t size = view.info.type == DataSetType::string ? view.string->size()
                                                                    : view.info.count * view.info.element_size;
        text << test_support::to_hex(std::string(bytes, bytes + size));
    }
    return text.str();
}

// Everything observable about a read, for "unchanged" checks.
std::string snapshot(const ReadHolder& read) {
    std::ostringstream text;
    text << content_snapshot(read);
    if (read.m_sub_tag_counter) text << "|counter=" << read.m_sub_tag_counter->load();
    if (read.m_coordinator) text << "|tags=" << read.m_coordinator->registered_sub_tags().size();
    return text.str();
}

ReadHolder copy_of(const ReadHolder& original) {
    ReadHolder copy;
    copy.m_read_tag = original.m_read_tag;
    copy.m_priority = original.m_priority;
    copy.m_datasets = original.m_datasets;
    copy.m_metadata = original.m_metadata;
    copy.m_sub_tag_counter = std::make_shared<std::atomic<uint64_t>>(original.m_sub_tag_counter->load());
    copy.m_coordinator = std::make_shared<ReadCoordinator>();
    copy.m_attachment = original.m_attachment;
    return copy;
}

uint64_t split_event(const std::vector<uint8_t>& moves, uint64_t position) {
    uint64_t sum = 0;
    for (uint64_t i = 0; i < moves.size(); ++i) {
        sum += moves[i];
        if (sum > position) return i;
    }
    return moves.size();
}

}  // namespace

TEST(SubReads, DerivedIdentifiersMatchPythonUuid5) {
    ReadHolder parent;
    parent.m_sub_tag_counter = std::make_shared<std::atomic<uint64_t>>(0);
    const std::vector<std::string> parents{"", "a", "0ad7c5e2-65b4-4b26-8f33-6d3b1ef52f0b", "read with spaces",
                                           std::string("caf\xc3\xa9")};
    std::vector<std::pair<std::string, std::string>> requests;
    std::vector<std::string> ours;
    for (const auto& id : parents) {
        parent.m_metadata.insert("strand_id", id);
        ours.push_back(parent.clone().m_metadata.get_value<std::string>("strand_id"));
        requests.emplace_back(HEAD_NAMESPACE, id);
    }
    for (const auto& id : parents) {
        ReadHolder read;
        read.m_sub_tag_counter = std::make_shared<std::atomic<uint64_t>>(0);
        read.m_metadata.insert("strand_id", id);
        for (const char* key : {"sequence_length", "trimmed_events", "num_events", "model_stride"}) {
            read.m_metadata.insert(key, uint64_t(0));
        }
        read.m_datasets.emplace(movement, DataView(std::vector<uint8_t>{}));
        const ReadHolder tail = read.split_at(0);
        ours.push_back(read.m_metadata.get_value<std::string>("strand_id"));
        ours.push_back(tail.m_metadata.get_value<std::string>("strand_id"));
        requests.emplace_back(HEAD_NAMESPACE, id);
        requests.emplace_back(TAIL_NAMESPACE, id);
    }
    const auto expected = python_uuid5(requests);
    ASSERT_EQ(expected.size(), ours.size());
    for (std::size_t i = 0; i < ours.size(); ++i) {
        EXPECT_EQ(ours[i], expected[i]) << i;
        EXPECT_EQ(ours[i].size(), 36u);
    }
    EXPECT_NE(ours[parents.size()], ours[parents.size() + 1]) << "head and tail ids must differ";
}

TEST(SubReads, CloneIsAnIndependentNumberedSubRead) {
    ReadHolder read;
    read.m_read_tag = 12;
    read.m_priority = 0;
    read.m_sub_tag_counter = std::make_shared<std::atomic<uint64_t>>(4);
    read.m_coordinator = std::make_shared<ReadCoordinator>();
    read.m_attachment = std::make_shared<int>(3);
    read.create_timestamp();
    read.m_metadata.insert("strand_id", std::string("parent"));
    std::vector<int16_t> borrowed_signal{1, 2, 3};
    read.m_datasets.emplace(raw_data, DataView(borrowed_signal, false));
    read.m_datasets.emplace(sequence, DataView(std::string("ACGT")));
    read.m_datasets.at(sequence).metadata.insert("m", int32_t(1));
    DataTable table;
    table.add_field("x", DataSetType::int32);
    table.num_rows = 2;
    table.data.assign(8, 0);
    read.m_datasets.emplace(align_results, DataView(std::move(table)));
    const std::string before = content_snapshot(read);

    ReadHolder copy = read.clone();
    EXPECT_EQ(copy.m_sub_tag, 5u);
    EXPECT_EQ(read.m_sub_tag_counter->load(), 5u);
    EXPECT_EQ(copy.m_sub_tag_counter, read.m_sub_tag_counter);
    EXPECT_EQ(copy.m_coordinator, read.m_coordinator);
    EXPECT_EQ(read.m_coordinator->registered_sub_tags(), (std::unordered_set<uint64_t>{5}));
    EXPECT_EQ(copy.m_attachment, read.m_attachment);
    EXPECT_TRUE(copy.m_timestamps.get_timestamps().empty());
    EXPECT_EQ(copy.m_read_tag, 12u);
    EXPECT_EQ(copy.m_priority, 0u);
    EXPECT_NE(copy.m_metadata.get_value<std::string>("strand_id"), "parent");
    EXPECT_EQ(copy.m_datasets.at(sequence).metadata.get_value<int32_t>("m"), 1);
    ASSERT_EQ(copy.m_datasets.at(align_results).info.fields.size(), 1u);

    // Every dataset of the clone, borrowed ones included, is its own copy.
    for (auto& [id, view] : copy.m_datasets) {
        ASSERT_NE(view.data, read.m_datasets.at(id).data) << id;
        static_cast<char*>(view.data)[0] = 'Z';
    }
    EXPECT_EQ(borrowed_signal[0], 1);
    EXPECT_EQ(elements<int16_t>(copy.m_datasets.at(raw_data)).size(), 3u);
    EXPECT_EQ(*copy.m_datasets.at(sequence).string, "ZCGT");
    EXPECT_EQ(content_snapshot(read), before);
}

TEST(SubReads, CloneNeedsAStrandId) {
    ReadHolder read;
    read.m_sub_tag_counter = std::make_shared<std::atomic<uint64_t>>(0);
    try {
        read.clone();
        FAIL();
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "Key 'strand_id' not found.");
    }
}

TEST(SubReads, CloneReportsAMissingStrandIdEvenWithoutACounter) {
    ReadHolder read;
    try {
        read.clone();
        FAIL();
    } catch (const std::out_of_range& e) {
        EXPECT_STREQ(e.what(), "Key 'strand_id' not found.");
    }
}

// A read with several faults fails on the one the cut reaches first:
// texts, base modifications, moves, trace, state data, then the counts.
TEST(SubReads, SplitReportsTheFirstFaultInCuttingOrder) {
    const auto error_of = [](ReadHolder& read, uint64_t position) -> std::string {
        try {
            read.split_at(position);
        } catch (const std::exception& e) {
            return e.what();
        }
        return "no exception";
    };
    ReadHolder mistyped_moves;
    mistyped_moves.m_sub_tag_counter = std::make_shared<std::atomic<uint64_t>>(0);
    mistyped_moves.m_datasets.emplace(movement, DataView(std::vector<float>{1.0f, 1.0f}));
    EXPECT_EQ(error_of(mistyped_moves, 1), "Invalid array type requested.");

    ReadHolder mistyped_trace;
    mistyped_trace.m_sub_tag_counter = std::make_shared<std::atomic<uint64_t>>(0);
    mistyped_trace.m_datasets.emplace(movement, DataView(std::vector<uint8_t>{1, 1}));
    mistyped_trace.m_datasets.emplace(flipflop_trace, DataView(std::vector<float>(16)));
    EXPECT_EQ(error_of(mistyped_trace, 1), "Invalid array type requested.");

    ReadHolder no_counts;
    no_counts.m_sub_tag_counter = std::make_shared<std::atomic<uint64_t>>(0);
    no_counts.m_datasets.emplace(movement, DataView(std::vector<uint8_t>{1, 1}));
    EXPECT_EQ(error_of(no_counts, 1), "Key 'strand_id' not found.");
    no_counts.m_metadata.insert("strand_id", std::string("p"));
    EXPECT_EQ(error_of(no_counts, 1), "Key 'sequence_length' not found.");
    EXPECT_EQ(no_counts.m_sub_tag_counter->load(), 0u);
}

TEST(SubReads, SplitCutsTheMovesBeforeTheStepOfTheFirstTailBase) {
    ReadHolder read;
    read.m_sub_tag_counter = std::make_shared<std::atomic<uint64_t>>(0);
    read.m_datasets.emplace(sequence, DataView(std::string("ACGTACGT")));
    read.m_datasets.emplace(movement, DataView(std::vector<uint8_t>{1, 0, 1, 1, 0, 1, 1, 1, 1, 1}));
    read.m_metadata.insert("strand_id", std::string("p"));
    read.m_metadata.insert("sequence_length", uint64_t(8));
    read.m_metadata.insert("trimmed_events", uint64_t(10));
    read.m_metadata.insert("num_events", uint64_t(10));
    read.m_metadata.insert("model_stride", uint64_t(2));
    const ReadHolder tail = read.split_at(3);
    EXPECT_EQ(*read.m_datasets.at(sequence).string, "ACG");
    EXPECT_EQ(*tail.m_datasets.at(sequence).string, "TACGT");
    EXPECT_EQ(read.m_metadata.get_value<uint64_t>("sequence_length"), 3u);
    EXPECT_EQ(tail.m_metadata.get_value<uint64_t>("sequence_length"), 5u);
    EXPECT_EQ(elements<uint8_t>(read.m_datasets.at(movement)), (std::vector<uint8_t>{1, 0, 1, 1, 0}));

    ReadHolder small;
    small.m_sub_tag_counter = std::make_shared<std::atomic<uint64_t>>(0);
    small.m_datasets.emplace(movement, DataView(std::vector<uint8_t>{1, 0, 1, 1, 0, 1}));
    for (const char* key : {"sequence_length", "trimmed_events", "num_events", "model_stride"}) {
        small.m_metadata.insert(key, uint64_t(4));
    }
    small.m_metadata.insert("strand_id", std::string("q"));
    const ReadHolder small_tail = small.split_at(1);
    EXPECT_EQ(elements<uint8_t>(small.m_datasets.at(movement)), (std::vector<uint8_t>{1, 0}));
    EXPECT_EQ(elements<uint8_t>(small_tail.m_datasets.at(movement)), (std::vector<uint8_t>{1, 1, 0, 1}));
    EXPECT_EQ(small.m_metadata.get_value<uint64_t>("trimmed_events"), 2u);
}

TEST(SubReads, SplitPartsAddUpToTheOriginalAtEveryPosition) {
    std::mt19937 rng(20240611);
    for (const uint64_t length : {0u, 1u, 7u, 40u}) {
        ReadShape shape;
        shape.length = length;
        // No modification channels at all is a valid (empty) matrix too.
        if (length == 7) shape.alphabet = "";
        const ReadHolder original = random_read(rng, shape);
        const auto& om = original.m_metadata;
        const auto moves = elements<uint8_t>(original.m_datasets.at(movement));
        const std::string strand = om.get_value<std::string>("strand_id");
        for (uint64_t p = 0; p <= length; ++p) {
            SCOPED_TRACE("length " + std::to_string(length) + " position " + std::to_string(p));
            ReadHolder head = copy_of(original);
            const uint64_t counter_before = head.m_sub_tag_counter->load();
            const ReadHolder tail = head.split_at(p);
            const uint64_t e = split_event(moves, p);
            const auto& hm = head.m_metadata;
            const auto& tm = tail.m_metadata;

            EXPECT_EQ(*head.m_datasets.at(sequence).string + *tail.m_datasets.at(sequence).string,
                      *original.m_datasets.at(sequence).string);
            EXPECT_EQ(head.m_datasets.at(sequence).string->size(), p);
            EXPECT_EQ(*head.m_datasets.at(qstring).string + *tail.m_datasets.at(qstring).string,
                      *original.m_datasets.at(qstring).string);
            EXPECT_TRUE(head.m_datasets.at(sequence).metadata.exists("kept"));
            EXPECT_TRUE(tail.m_datasets.at(sequence).metadata.empty());
            EXPECT_EQ(concat(elements<uint8_t>(head.m_datasets.at(movement)),
                             elements<uint8_t>(tail.m_datasets.at(movement))),
                      moves);
            EXPECT_EQ(head.m_datasets.at(movement).info.count, e);

            const auto& head_probs = head.m_datasets.at(base_mod_probs);
            EXPECT_EQ(head_probs.info.size1, p);
            EXPECT_EQ(head_probs.info.size2, shape.alphabet.size());
            EXPECT_EQ(tail.m_datasets.at(base_mod_probs).info.size1, length - p);
            EXPECT_EQ(concat(elements<uint8_t>(head_probs), elements<uint8_t>(tail.m_datasets.at(base_mod_probs))),
                      elements<uint8_t>(original.m_datasets.at(base_mod_probs)));
            EXPECT_EQ(head.m_datasets.at(flipflop_trace).info.size1, e);
            EXPECT_EQ(tail.m_datasets.at(flipflop_trace).info.size2, 8u);
            EXPECT_EQ(concat(elements<uint8_t>(head.m_datasets.at(flipflop_trace)),
                             elements<uint8_t>(tail.m_datasets.at(flipflop_trace))),
                      elements<uint8_t>(original.m_datasets.at(flipflop_trace)));
            EXPECT_EQ(head.m_datasets.at(state_data).info.size1, e);
            EXPECT_EQ(tail.m_datasets.at(state_data).info.size2, shape.state_size);
            EXPECT_EQ(concat(elements<float>(head.m_datasets.at(state_data)),
                             elements<float>(tail.m_datasets.at(state_data))),
                      elements<float>(original.m_datasets.at(state_data)));

            const uint64_t T = om.get_value<uint64_t>("trimmed_events");
            const uint64_t N = om.get_value<uint64_t>("num_events");
            const uint64_t D = om.get_value<uint64_t>("duration");
            EXPECT_EQ(hm.get_value<uint64_t>("sequence_length"), p);
            EXPECT_EQ(tm.get_value<uint64_t>("sequence_length"), length - p);
            EXPECT_EQ(hm.get_value<uint64_t>("trimmed_events"), e);
            EXPECT_EQ(tm.get_value<uint64_t>("trimmed_events"), T - e);
            EXPECT_EQ(hm.get_value<uint64_t>("num_events") + tm.get_value<uint64_t>("num_events"), N);
            EXPECT_EQ(tm.get_value<uint64_t>("num_events"), T - e);
            EXPECT_EQ(hm.get_value<uint64_t>("duration"), hm.get_value<uint64_t>("num_events") * 5);
            EXPECT_EQ(hm.get_value<uint64_t>("duration") + tm.get_value<uint64_t>("duration"), D);
            EXPECT_EQ(hm.get_value<uint64_t>("trimmed_duration"), 5 * e);
            EXPECT_EQ(tm.get_value<uint64_t>("trimmed_duration"), tm.get_value<uint64_t>("duration"));
            EXPECT_EQ(tm.get_value<uint64_t>("start_time"), 1000 + hm.get_value<uint64_t>("duration"));
            EXPECT_EQ(hm.get_value<uint64_t>("start_time"), 1000u);
            EXPECT_EQ(tm.get_value<uint64_t>("trimmed_samples"), 0u);
            EXPECT_EQ(hm.get_value<uint64_t>("trimmed_samples"), 55u);
            EXPECT_EQ(tm.get_value<std::string>("read_id"), "read");
            EXPECT_NE(hm.get_value<std::string>("strand_id"), strand);
            EXPECT_NE(tm.get_value<std::string>("strand_id"), hm.get_value<std::string>("strand_id"));
            EXPECT_EQ(hm.check_type("mean_qscore"), typeid(float));
            EXPECT_EQ(tm.check_type("mean_qscore"), typeid(float));

            EXPECT_EQ(tail.m_sub_tag, counter_before + 1);
            EXPECT_EQ(head.m_sub_tag_counter->load(), counter_before + 1);
            EXPECT_EQ(tail.m_coordinator->registered_sub_tags().count(tail.m_sub_tag), 1u);
            EXPECT_EQ(tail.m_read_tag, 99u);
            EXPECT_EQ(tail.m_priority, 2u);
            EXPECT_EQ(tail.m_attachment, head.m_attachment);
            EXPECT_EQ(tail.m_datasets.count(raw_data), 0u);
        }
    }
}

TEST(SubReads, AFailedSplitLeavesTheReadUnchanged) {
    std::mt19937 rng(7);
    ReadShape shape;
    shape.length = 12;
    struct Case {
        const char* name;
        std::function<void(ReadHolder&)> damage;
        uint64_t position;
    };
    const std::vector<Case> cases{
            {"position past the end", [](ReadHolder&) {}, 13},
            {"base mods of the wrong type",
             [](ReadHolder& r) { r.m_datasets.at(base_mod_probs) = DataView(std::vector<float>(60)); }, 5},
            {"base mods shorter than the sequence",
             [](ReadHolder& r) { r.m_datasets.at(base_mod_probs) = DataView(std::vector<uint8_t>(59)); }, 5},
            {"moves of the wrong type",
             [](ReadHolder& r) { r.m_datasets.at(movement) = DataView(std::vector<float>(3)); }, 5},
            {"no moves", [](ReadHolder& r) { r.m_datasets.erase(movement); }, 5},
            {"moves short of the position",
             [](ReadHolder& r) {
                 r.m_datasets.at(movement) = DataView(std::vector<uint8_t>{1, 1});
             },
             5},
            {"zero state size", [](ReadHolder& r) { r.m_metadata.insert("state_size", uint64_t(0)); }, 5},
            {"state data too short",
             [](ReadHolder& r) { r.m_datasets.at(state_data) = DataView(std::vector<float>(3)); }, 5},
            {"ragged flip-flop trace",
             [](ReadHolder& r) { r.m_datasets.at(flipflop_trace) = DataView(std::vector<uint8_t>(9)); }, 0},
            {"no trimmed_events", [](ReadHolder& r) { r.m_metadata.remove("trimmed_events"); }, 5},
            {"sequence is not text",
             [](ReadHolder& r) { r.m_datasets.at(sequence) = DataView(std::vector<uint8_t>(12)); }, 5},
            {"no counter", [](ReadHolder& r) { r.m_sub_tag_counter.reset(); }, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ReadHolder read = random_read(rng, shape);
        c.damage(read);
        const std::string before = snapshot(read);
        EXPECT_ANY_THROW(read.split_at(c.position));
        EXPECT_EQ(snapshot(read), before);
    }
}
