// Decoding called blocks aside: a read's results are assembled from its
// blocks, and called data that does not hold together is refused without
// touching the read.
#include "basecall_service/called_read_decoder.h"

#include "engine_test_reads.h"
#include "interfaces/read_alignment.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>

using basecall_service::BadCalledData;
using basecall_service::CalledReadDecoder;
using basecall_service::CalledReadOptions;
using basecall_service::CalledReadWithoutDuration;
using interfaces::ReadHolder;

namespace {

struct Row {
    std::string genome = "chr1";
    int32_t bed_hits = 0;
    std::string sam;
    std::string bed;
};

// One called block as a server would write it; the defaults make block 0
// of a consistent two-block read.
struct Block {
    uint32_t num_blocks = 2;
    uint32_t duration = 4000;
    bool has_called_data = true;
    uint32_t total_positions = 6;
    uint32_t block_positions = 4;
    uint32_t sequence_length = 6;
    uint32_t state_size = 3;
    uint32_t model_stride = 10;
    uint32_t trimmed_samples = 400;
    std::string sequence = "ACGT";
    std::string qstring = "!!##";
    uint8_t event_type = vemla_ipc::EventData_MoveTraceData;
    std::optional<std::vector<uint8_t>> moves = std::vector<uint8_t>{1, 1, 1, 1};
    std::optional<std::vector<uint8_t>> trace = std::vector<uint8_t>(32, 9);  // 8 per position
    uint32_t rle_count = 0;
    std::vector<std::vector<uint32_t>> runs;  // base, index, runlength as integers; scale etc. derived
    bool unequal_run_vectors = false;
    std::optional<std::string> alphabet = std::string("mh");
    std::vector<uint8_t> probs = std::vector<uint8_t>(8, 5);  // alphabet x bases
    std::optional<std::vector<float>> state = std::vector<float>(12, 0.5f);
    std::vector<Row> alignments;
    uint32_t first_row_repeats = 0;  // more entries naming the first row's table
    bool rows_share_sam = false;     // every row names the first row's SAM text
};

Block second_block() {
    Block b;
    b.block_positions = 2;
    b.sequence = "GA";
    b.qstring = "$%";
    b.moves = std::vector<uint8_t>{1, 1};
    b.trace = std::vector<uint8_t>(16, 7);
    b.probs = std::vector<uint8_t>(4, 6);
    b.state = std::vector<float>(6, 1.5f);
    return b;
}

std::vector<uint8_t> build(const Block& b, uint32_t index) {
    flatbuffers::FlatBufferBuilder fbb;
    flatbuffers::Offset<void> events;
    if (b.event_type == vemla_ipc::EventData_MoveTraceData) {
        flatbuffers::Offset<flatbuffers::Vector<uint8_t>> moves;
        flatbuffers::Offset<flatbuffers::Vector<const vemla_ipc::TraceRow*>> trace;
        if (b.moves) {
            moves = fbb.CreateVector(*b.moves);
        }
        if (b.trace) {
            trace = fbb.CreateVectorOfStructs(reinterpret_cast<const vemla_ipc::TraceRow*>(b.trace->data()),
                                              b.trace->size() / 8);
        }
        vemla_ipc::MoveTraceDataBuilder table(fbb);
        if (b.moves) table.add_moves(moves);
        if (b.trace) table.add_trace(trace);
        events = table.Finish().Union();
    } else if (b.event_type == vemla_ipc::EventData_RunLengthData) {
        std::vector<uint8_t> base;
        std::vector<float> scale, shape, weight;
        std::vector<uint32_t> index_values, runlength;
        for (const auto& run : b.runs) {
            base.push_back(static_cast<uint8_t>(run[0]));
            index_values.push_back(run[1]);
            runlength.push_back(run[2]);
            scale.push_back(float(run[2]));
            shape.push_back(float(run[2]) + 0.5f);
            weight.push_back(1.0f / float(run[2]));
        }
        if (b.unequal_run_vectors) {
            weight.push_back(0.0f);
        }
        const auto base_v = fbb.CreateVector(base);
        const auto scale_v = fbb.CreateVector(scale);
        const auto shape_v = fbb.CreateVector(shape);
        const auto weight_v = fbb.CreateVector(weight);
        const auto index_v = fbb.CreateVector(index_values);
        const auto length_v = fbb.CreateVector(runlength);
        events = vemla_ipc::CreateRunLengthData(fbb, b.rle_count, base_v, scale_v, shape_v, weight_v, index_v, length_v)
                         .Union();
    }
    flatbuffers::Offset<vemla_ipc::BaseModData> base_mods;
    if (b.alphabet) {
        base_mods = vemla_ipc::CreateBaseModData(fbb, fbb.CreateString(*b.alphabet), fbb.CreateString("5mC_5hmC"),
                                                 fbb.CreateString("CG"), fbb.CreateVector(b.probs));
    }
    flatbuffers::Offset<flatbuffers::Vector<float>> state;
    if (b.state) {
        state = fbb.CreateVector(*b.state);
    }
    std::vector<flatbuffers::Offset<vemla_ipc::AlignmentRowData>> rows;
    flatbuffers::Offset<flatbuffers::String> first_sam;
    for (const auto& row : b.alignments) {
        const auto genome = fbb.CreateString(row.genome);
        const auto sam = b.rows_share_sam && !first_sam.IsNull() ? first_sam : fbb.CreateString(row.sam);
        first_sam = sam;
        const auto bed = fbb.CreateString(row.bed);
        vemla_ipc::AlignmentRowDataBuilder r(fbb);
        r.add_Genome(genome);
        r.add_GenomeStart(100);
        r.add_sam_record(sam);
        r.add_BedHits(row.bed_hits);
        r.add_bed_lines(bed);
        r.add_Direction('+');
        r.add_IsSupplementary(true);
        rows.push_back(r.Finish());
    }
    for (uint32_t k = 0; k < b.first_row_repeats; ++k) {
        rows.push_back(rows.front());
    }
    const auto alignments = fbb.CreateVector(rows);
    const auto sequence = fbb.CreateString(b.sequence);
    const auto qstring = fbb.CreateString(b.qstring);
    const auto basecall_type = fbb.CreateString("test");
    const auto model_version = fbb.CreateString("model-1");

    vemla_ipc::CalledBlockDataBuilder called(fbb);
    called.add_total_positions(b.total_positions);
    called.add_block_positions(b.block_positions);
    called.add_sequence_length(b.sequence_length);
    called.add_state_size(b.state_size);
    called.add_model_stride(b.model_stride);
    called.add_trimmed_samples(b.trimmed_samples);
    called.add_mean_qscore(12.5f);
    called.add_sequence(sequence);
    called.add_qstring(qstring);
    called.add_basecall_type(basecall_type);
    called.add_model_version_id(model_version);
    if (b.event_type != 0) {
        called.add_event_data_type(static_cast<vemla_ipc::EventData>(b.event_type));
        called.add_event_data(events);
    }
    if (b.alphabet) called.add_base_mods(base_mods);
    if (b.state) called.add_state_data(state);
    called.add_alignments(alignments);
    const auto called_data = called.Finish();

    const auto strand = fbb.CreateString("strand-7");
    vemla_ipc::ReadBlockDataBuilder block(fbb);
    block.add_type(index == 0 ? vemla_ipc::ReadBlockType_RETURN_FIRST_CALLED_BLOCK
                              : vemla_ipc::ReadBlockType_RETURN_NEXT_CALLED_BLOCK);
    block.add_read_tag(7);
    block.add_block_index(index);
    block.add_num_blocks(b.num_blocks);
    block.add_duration(b.duration);
    if (b.has_called_data) block.add_called_data(called_data);
    block.add_strand_id(strand);
    block.add_start_time(99);
    fbb.Finish(block.Finish());
    return std::vector<uint8_t>(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
}

// Decodes the blocks and commits them into `target`.
void decode(const std::vector<Block>& blocks,
            ReadHolder& target,
            CalledReadOptions options = {true, true},
            uint64_t sample_limit = 4000) {
    CalledReadDecoder decoder(options, sample_limit);
    for (uint32_t k = 0; k < blocks.size(); ++k) {
        const auto bytes = build(blocks[k], k);
        const auto& block = *flatbuffers::GetRoot<vemla_ipc::ReadBlockData>(bytes.data());
        k == 0 ? decoder.add_first_block(block, bytes.size()) : decoder.add_next_block(block);
    }
    decoder.commit(target);
}

template <typename T>
std::vector<T> values_of(const ReadHolder& read, dataset id) {
    const auto& view = read.m_datasets.at(id);
    const auto* data = static_cast<const T*>(view.data);
    return std::vector<T>(data, data + view.info.count);
}

std::string text_of(const ReadHolder& read, dataset id) {
    return *read.m_datasets.at(id).string;
}

}  // namespace

TEST(CalledReadDecoder, AssemblesTheBlocksOfAReadInBlockOrder) {
    ReadHolder read = engine_test::make_read(7, 4000);
    read.m_metadata.insert("duration", uint64_t(1));  // the server's value replaces the caller's
    decode({Block{}, second_block()}, read);

    EXPECT_EQ(text_of(read, dataset::sequence), "ACGTGA");
    EXPECT_EQ(text_of(read, dataset::qstring), "!!##$%");
    EXPECT_EQ(values_of<uint8_t>(read, dataset::movement), std::vector<uint8_t>(6, 1));
    const auto& trace = read.m_datasets.at(dataset::flipflop_trace).info;
    EXPECT_EQ(trace.size1, 6u);
    EXPECT_EQ(trace.size2, 8u);
    EXPECT_EQ(values_of<uint8_t>(read, dataset::flipflop_trace)[40], 7);
    const auto& probs = read.m_datasets.at(dataset::base_mod_probs).info;
    EXPECT_EQ(probs.size1, 6u);
    EXPECT_EQ(probs.size2, 2u);
    EXPECT_EQ(values_of<uint8_t>(read, dataset::base_mod_probs)[9], 6);
    const auto& state = read.m_datasets.at(dataset::state_data).info;
    EXPECT_EQ(state.size1, 6u);
    EXPECT_EQ(state.size2, 3u);
    EXPECT_FLOAT_EQ(values_of<float>(read, dataset::state_data)[17], 1.5f);

    const auto& metadata = read.m_metadata;
    EXPECT_EQ(metadata.get_value<uint64_t>("duration"), 4000u);
    EXPECT_EQ(metadata.get_value<uint64_t>("num_events"), 400u);
    EXPECT_EQ(metadata.get_value<uint64_t>("trimmed_duration"), 3600u);
    EXPECT_EQ(metadata.get_value<uint64_t>("trimmed_events"), 360u);
    EXPECT_EQ(metadata.get_value<uint64_t>("start_time"), 99u);
    EXPECT_EQ(metadata.get_value<std::string>("base_mod_context"), "CG");
    EXPECT_EQ(metadata.get_value<std::string>("read_id"), "read-7") << "the caller's keys stay";
    EXPECT_EQ(engine_test::raw_samples(read), engine_test::signal_for(7, 4000));
}

TEST(CalledReadDecoder, AlignmentRowsJoinTheirSamAndNonEmptyBedTexts) {
    ReadHolder read = engine_test::make_read(7, 4000);
    Block first;
    first.alignments = {{"chr1", 0, "r\t0", ""},
                        {std::string(252, 'g'), 2, "r\t2048", "b1\nb2"},
                        {"chr3", 0, "r\t256", ""}};
    decode({first, second_block()}, read);
    EXPECT_EQ(read.m_metadata.get_value<std::string>("alignment_sam_record"), "r\t0\nr\t2048\nr\t256");
    EXPECT_EQ(read.m_metadata.get_value<std::string>("alignment_bed_lines"), "b1\nb2");
    EXPECT_EQ(read.m_metadata.get_value<int32_t>("alignment_num_supplementary_alignments"), 3);
    const auto lines = interfaces::ReadAlignmentHelper::extract_alignment_sam_and_bed_lines_from_read_holder(read);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].bed_lines, (std::vector<std::string>{"b1", "b2"}));

    ReadHolder quiet = engine_test::make_read(7, 4000);
    first.alignments = {{"chr1", 0, "", ""}};
    decode({first, second_block()}, quiet);
    EXPECT_EQ(quiet.m_datasets.count(dataset::align_results), 1u);
    EXPECT_FALSE(quiet.m_metadata.exists("alignment_sam_record"));
    EXPECT_FALSE(quiet.m_metadata.exists("alignment_bed_lines"));
}

TEST(CalledReadDecoder, ADatasetTheReadAlreadyHoldsStays) {
    ReadHolder read = engine_test::make_read(7, 4000);
    read.m_datasets.emplace(dataset::sequence, bass::data_wrappers::DataView(std::string("mine")));
    decode({Block{}, second_block()}, read);
    EXPECT_EQ(text_of(read, dataset::sequence), "mine");
    EXPECT_EQ(text_of(read, dataset::qstring), "!!##$%");
}

TEST(CalledReadDecoder, RefusesCalledDataThatDoesNotHoldTogetherAndLeavesTheReadAsItWas) {
    struct Case {
        const char* what;
        std::function<void(Block&, Block&)> spoil;
    };
    const Case cases[] = {
            {"a block claims more positions than its moves", [](Block& a, Block&) { a.block_positions += 7; }},
            {"blocks bring more positions than the total",
             [](Block&, Block& b) {
                 b.block_positions = 3;
                 b.moves = std::vector<uint8_t>(3, 1);
                 b.trace = std::vector<uint8_t>(24, 1);
                 b.state = std::vector<float>(9, 1.0f);
             }},
            {"blocks bring fewer positions than the total", [](Block& a, Block&) { a.total_positions = 7; }},
            {"more bases than the sequence length", [](Block& a, Block&) { a.sequence_length = 5; }},
            {"fewer bases than the sequence length",
             [](Block& a, Block&) {
                 a.sequence_length = 7;
                 a.probs.resize(10);
             }},
            {"qualities and bases differ in number", [](Block&, Block& b) { b.qstring = "$"; }},
            {"probabilities are not alphabet x length", [](Block&, Block& b) { b.probs.pop_back(); }},
            {"state values are not positions x states", [](Block&, Block& b) { b.state->push_back(0.0f); }},
            {"a later block's events are of another kind", [](Block&, Block& b) { b.event_type = 0; }},
            {"positions beyond the read's samples", [](Block& a, Block&) { a.total_positions = 4001; }},
            {"more blocks than the read's samples", [](Block& a, Block&) { a.num_blocks = 4001; }},
            {"model stride 0", [](Block& a, Block&) { a.model_stride = 0; }},
            {"more trimmed samples than the duration", [](Block& a, Block&) { a.trimmed_samples = 4001; }},
            {"no called data", [](Block&, Block& b) { b.has_called_data = false; }},
            {"a genome name of 253 bytes",
             [](Block& a, Block&) {
                 a.alignments = {{std::string(253, 'g'), 0, "", ""}};
             }},
            {"alignment rows sharing one table",
             [](Block& a, Block&) {
                 a.alignments = {{"chr1", 0, "r\t0", ""}};
                 a.first_row_repeats = 1000;
             }},
            {"alignment texts longer than their frame",
             [](Block& a, Block&) {
                 a.alignments.assign(100, Row{"chr1", 0, std::string(2000, 's'), ""});
                 a.rows_share_sam = true;
             }},
            {"run vectors of unequal length",
             [](Block& a, Block& b) {
                 a.event_type = b.event_type = vemla_ipc::EventData_RunLengthData;
                 a.rle_count = 2;
                 a.runs = {{'A', 0, 1}};
                 a.unequal_run_vectors = true;
                 b.runs = {{'C', 1, 1}};
             }},
            {"more runs than the run count",
             [](Block& a, Block& b) {
                 a.event_type = b.event_type = vemla_ipc::EventData_RunLengthData;
                 a.rle_count = 1;
                 a.runs = {{'A', 0, 1}};
                 b.runs = {{'C', 1, 1}};
             }},
    };
    for (const auto& c : cases) {
        Block first;
        Block second = second_block();
        c.spoil(first, second);
        ReadHolder read = engine_test::make_read(7, 4000);
        const auto metadata_before = read.m_metadata;
        EXPECT_THROW(decode({first, second}, read), BadCalledData) << c.what;
        EXPECT_TRUE(read.m_metadata == metadata_before) << c.what;
        EXPECT_EQ(read.m_datasets.size(), 1u) << c.what;
    }
}

// Moves, trace, state data and probabilities are optional: a later block
// that carries positions (or bases) without one leaves the read without that
// dataset rather than with one lacking part of the read; a block carrying
// none needs none. The rest of the read is kept.
TEST(CalledReadDecoder, ALaterBlockWithoutAnOptionalVectorDropsOnlyThatDataset) {
    struct Case {
        const char* what;
        std::function<void(Block&)> omit;
        std::optional<dataset> dropped;
    };
    const Case cases[] = {
            {"moves", [](Block& b) { b.moves.reset(); }, dataset::movement},
            {"trace", [](Block& b) { b.trace.reset(); }, dataset::flipflop_trace},
            {"state data", [](Block& b) { b.state.reset(); }, dataset::state_data},
            {"base modifications", [](Block& b) { b.alphabet.reset(); }, dataset::base_mod_probs},
            {"everything, in a block that carries nothing",
             [](Block& b) {
                 b.block_positions = 0;
                 b.sequence = b.qstring = "";
                 b.moves.reset();
                 b.trace.reset();
                 b.state.reset();
                 b.alphabet.reset();
             },
             std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Block> blocks = {Block{}, second_block()};
        c.omit(blocks[1]);
        if (!c.dropped) {
            blocks.front().num_blocks = 3;  // the empty block comes between the two
            blocks.push_back(second_block());
        }
        ReadHolder read = engine_test::make_read(7, 4000);
        decode(blocks, read);
        EXPECT_EQ(text_of(read, dataset::sequence), "ACGTGA");
        for (const dataset id :
             {dataset::movement, dataset::flipflop_trace, dataset::state_data, dataset::base_mod_probs}) {
            EXPECT_EQ(read.m_datasets.count(id), c.dropped == id ? 0u : 1u) << static_cast<int>(id);
        }
    }
}

TEST(CalledReadDecoder, AReadWithoutDurationIsRefused) {
    Block first;
    first.duration = 0;
    ReadHolder read = engine_test::make_read(7, 4000);
    try {
        decode({first, second_block()}, read);
        ADD_FAILURE() << "no refusal";
    } catch (const CalledReadWithoutDuration& error) {
        EXPECT_STREQ(error.what(), "Duration metadata missing for submitted read: 7");
    }
}
