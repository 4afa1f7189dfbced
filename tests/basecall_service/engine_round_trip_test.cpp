// Every read passed in comes back exactly once with the results the test
// server computed: reads of many sizes, every kind of result.
#include "engine_harness.h"

#include "interfaces/read_alignment.h"

#include <gtest/gtest.h>

using engine_test::EngineOptions;
using interfaces::ReadHolder;
using test_server::CalledRead;

namespace {

struct Case {
    const char* name;
    std::function<void(EngineOptions&, test_server::ServerSettings&)> setup;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

uint64_t stride_of(const EngineOptions& options, const test_server::ServerSettings& settings) {
    return settings.find_config(options.config)->model_stride;
}

// Sizes around the limits: below 20 strides (handed back unsent), exactly
// 20 strides, exactly one raw block, one sample more, and many blocks.
std::vector<uint64_t> sizes_for(uint64_t stride, uint64_t block_strides) {
    const uint64_t block = stride * block_strides;
    return {20 * stride - 1, 20 * stride, block, block + 1, 6 * block + 17, 9 * block};
}

void expect_call(const ReadHolder& got,
                 const CalledRead& want,
                 const test_server::CallOptions& call_options,
                 const EngineOptions& options) {
    using namespace engine_test;
    SCOPED_TRACE("read tag " + std::to_string(want.read_tag) + ", sub tag " + std::to_string(want.sub_tag));
    EXPECT_EQ(got.m_sub_tag, want.sub_tag);
    EXPECT_EQ(text_dataset(got, dataset::sequence), want.sequence);
    EXPECT_EQ(text_dataset(got, dataset::qstring), want.qstring);
    const auto& metadata = got.m_metadata;
    EXPECT_EQ(metadata.get_value<std::string>("strand_id"), want.strand_id);
    EXPECT_EQ(metadata.get_value<uint64_t>("duration"), want.duration);
    EXPECT_EQ(metadata.get_value<uint64_t>("sequence_length"), want.sequence.size());
    EXPECT_EQ(metadata.get_value<uint64_t>("trimmed_samples"), want.trimmed_samples);
    EXPECT_EQ(metadata.get_value<uint64_t>("num_events"), want.duration / want.model_stride);
    EXPECT_FLOAT_EQ(metadata.get_value<float>("mean_qscore"), want.mean_qscore);
    EXPECT_EQ(metadata.get_value<std::string>("model_version_id"), want.model_version_id);

    if (options.disable_events) {
        EXPECT_EQ(got.m_datasets.count(dataset::movement), 0u);
        EXPECT_EQ(got.m_datasets.count(dataset::base_mod_probs), 0u);
        EXPECT_FALSE(metadata.exists("base_mod_alphabet"));
        EXPECT_EQ(metadata.get_value<uint64_t>("rle_count"), 0u);
    } else if (want.runs) {
        EXPECT_EQ(metadata.get_value<uint64_t>("rle_count"), want.runs->base.size());
        EXPECT_EQ(dataset_values<uint8_t>(got, dataset::rle_base), want.runs->base);
        EXPECT_EQ(dataset_values<float>(got, dataset::rle_scale), want.runs->scale);
        EXPECT_EQ(dataset_values<float>(got, dataset::rle_shape), want.runs->shape);
        EXPECT_EQ(dataset_values<uint32_t>(got, dataset::rle_index), want.runs->index);
        EXPECT_EQ(dataset_values<uint32_t>(got, dataset::rle_runlength), want.runs->runlength);
    } else {
        EXPECT_EQ(dataset_values<uint8_t>(got, dataset::movement), want.moves);
        std::vector<uint8_t> trace;
        for (const auto& row : want.trace) {
            trace.insert(trace.end(), row.begin(), row.end());
        }
        EXPECT_EQ(dataset_values<uint8_t>(got, dataset::flipflop_trace), trace);
        EXPECT_EQ(got.m_datasets.count(dataset::flipflop_trace), call_options.trace && !want.moves.empty() ? 1u : 0u);
    }
    if (want.base_mods && !options.disable_events) {
        EXPECT_EQ(dataset_values<uint8_t>(got, dataset::base_mod_probs), want.base_mods->probs);
        EXPECT_EQ(metadata.get_value<std::string>("base_mod_alphabet"), want.base_mods->alphabet);
    } else if (!options.disable_events) {
        EXPECT_EQ(metadata.get_value<std::string>("base_mod_alphabet"), "");
        EXPECT_EQ(metadata.get_value<std::string>("base_mod_long_names"), "");
        EXPECT_FALSE(metadata.exists("base_mod_context"));
    }
    if (options.pull_state_data) {
        EXPECT_EQ(dataset_values<float>(got, dataset::state_data), want.state);
    }
    if (want.barcoding) {
        EXPECT_EQ(metadata.get_value<std::string>("barcode_arrangement"), want.barcoding->arrangement);
        EXPECT_EQ(metadata.get_value<std::string>("barcode_rear_foundseq"), want.barcoding->barcode_rear.foundseq);
        EXPECT_EQ(metadata.get_value<int32_t>("barcode_rear_foundseq_length"),
                  int32_t(want.barcoding->barcode_rear.foundseq.size()));
        EXPECT_EQ(metadata.get_value<int32_t>("barcode_rear_end_index"), want.barcoding->barcode_rear.index);
        EXPECT_EQ(metadata.get_value<std::string>("lamp_target_id"), want.barcoding->lamp_target_id);
        EXPECT_EQ(metadata.get_value<float>("primer_front_score"), want.barcoding->primer_front.score);
    }
    EXPECT_EQ(got.m_datasets.count(dataset::align_results), want.alignments.empty() ? 0u : 1u);
    if (!want.alignments.empty()) {
        const auto lines = interfaces::ReadAlignmentHelper::extract_alignment_sam_and_bed_lines_from_read_holder(got);
        ASSERT_EQ(lines.size(), want.alignments.size());
        for (size_t r = 0; r < lines.size(); ++r) {
            EXPECT_EQ(lines[r].sam_line, want.alignments[r].sam_record);
            std::vector<std::string> bed;
            std::istringstream text(want.alignments[r].bed_lines);
            for (std::string line; std::getline(text, line);) {
                bed.push_back(line);
            }
            EXPECT_EQ(lines[r].bed_lines, bed) << "row " << r;
        }
        EXPECT_EQ(metadata.get_value<std::string>("alignment_genome"), want.alignments[0].genome);
    }
}

class EngineRoundTrip : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(EngineRoundTrip, EveryReadComesBackOnceWithTheServersResults) {
    EngineOptions options;
    auto settings = test_server::ServerSettings::defaults();
    settings.called_block_positions = 30;
    GetParam().setup(options, settings);
    test_server::TestServer server(settings);
    const auto engine = engine_test::connect_engine(server.start(), options);
    ASSERT_EQ(engine->get_connection_state().get_status(), basecall_service::ClientStatus::connected);

    const auto call_options = engine_test::call_options_for(options, settings);
    const uint64_t stride = stride_of(options, settings);
    std::vector<ReadHolder> reads;
    std::map<uint64_t, std::vector<CalledRead>> expected;
    std::map<uint64_t, std::vector<int16_t>> signals;
    size_t expected_count = 0;
    uint64_t tag = 1;
    for (const uint64_t samples : sizes_for(stride, options.block_size)) {
        ReadHolder read = engine_test::make_read(tag, samples, stride);
        read.m_metadata.insert("start_time", uint64_t(1000 * tag));
        signals[tag] = engine_test::raw_samples(read);
        if (samples >= 20 * stride) {
            expected[tag] = engine_test::expected_calls(read, call_options);
        }
        expected_count += std::max<size_t>(1, expected[tag].size());
        reads.push_back(std::move(read));
        ++tag;
    }
    const auto returned = engine_test::pass_and_collect(*engine, std::move(reads), expected_count);
    ASSERT_EQ(returned.size(), expected_count);
    EXPECT_TRUE(engine->finish_by(10));

    for (const auto& [read_tag, family] : engine_test::by_tag(returned)) {
        const auto& want = expected[read_tag];
        ASSERT_EQ(family.size(), std::max<size_t>(1, want.size())) << "read tag " << read_tag;
        EXPECT_EQ(engine_test::raw_samples(*family.front()), signals[read_tag]);
        if (want.empty()) {
            EXPECT_EQ(family.front()->m_datasets.size(), 1u) << "a short read comes back unsent";
            continue;
        }
        // The parent comes first, then its sub-reads (which the server
        // returned before it) in any order.
        expect_call(*family.front(), want.back(), call_options, options);
        std::map<uint64_t, const CalledRead*> subs;
        for (size_t i = 0; i + 1 < want.size(); ++i) {
            subs[want[i].sub_tag] = &want[i];
        }
        for (size_t i = 1; i < family.size(); ++i) {
            ASSERT_EQ(subs.count(family[i]->m_sub_tag), 1u);
            expect_call(*family[i], *subs[family[i]->m_sub_tag], call_options, options);
            EXPECT_EQ(engine_test::raw_samples(*family[i]), signals[read_tag])
                    << "a sub-read keeps its parent's signal";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
        EveryResultKind,
        EngineRoundTrip,
        ::testing::Values(
                Case{"moves_and_trace",
                     [](EngineOptions& o, test_server::ServerSettings&) {
                         o.params.insert("move_and_trace_enabled", true);
                     }},
                Case{"base_modifications",
                     [](EngineOptions& o, test_server::ServerSettings&) { o.config = "test_dna_modbase"; }},
                Case{"run_length", [](EngineOptions& o, test_server::ServerSettings&) { o.config = "test_dna_rle"; }},
                Case{"state_data", [](EngineOptions& o, test_server::ServerSettings&) { o.pull_state_data = true; }},
                Case{"events_disabled",
                     [](EngineOptions& o, test_server::ServerSettings&) {
                         o.config = "test_dna_modbase";
                         o.disable_events = true;
                     }},
                Case{"barcoding",
                     [](EngineOptions& o, test_server::ServerSettings&) {
                         o.params.insert("barcode_kits", std::string("TEST-BC12"));
                         o.params.insert("lamp_kit", std::string("TEST-LAMP"));
                     }},
                Case{"alignment",
                     [](EngineOptions& o, test_server::ServerSettings& s) {
                         o.align_ref = "/data/refs/test_ref.mmi";
                         o.bed_file = "/data/test_targets.bed";
                         s.alignment_targets = {{std::string(252, 'g'), 0}, {"chr_two", 2}, {"chr_three", 0}};
                     }},
                Case{"split_reads",
                     [](EngineOptions& o, test_server::ServerSettings&) {
                         o.params.insert("do_read_splitting", true);
                         o.params.insert("move_and_trace_enabled", true);
                     }}),
        [](const ::testing::TestParamInfo<Case>& param_info) { return std::string(param_info.param.name); });

TEST(EngineRoundTripOfASubRead, ASubReadPassedInAgainComesBackAsItself) {
    test_server::TestServer server;
    EngineOptions options;
    const auto engine = engine_test::connect_engine(server.start(), options);
    ReadHolder read = engine_test::make_read(4, 1000);
    read.m_sub_tag = 2;
    std::vector<ReadHolder> reads;
    reads.push_back(std::move(read));
    const auto back = engine_test::pass_and_collect(*engine, std::move(reads), 1, std::chrono::seconds(20));
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back.front()->m_sub_tag, 2u);
    EXPECT_EQ(back.front()->m_datasets.count(dataset::sequence), 1u);
    EXPECT_TRUE(engine->finish_by(10));
}
