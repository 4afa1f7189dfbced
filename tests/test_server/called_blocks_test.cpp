// The called read and its cutting into called blocks, read back through the
// generated FlatBuffers code: every count must match the vectors it sizes,
// and the blocks together must give back the whole read.
#include "test_server/called_block_plan.h"
#include "test_server/called_read.h"
#include "test_server/wire_codec.h"

#include "vemla_ipc_generated.h"

#include <gtest/gtest.h>

#include <random>

using namespace test_server;

namespace {

AssembledRead random_read(size_t samples, uint32_t seed, uint32_t tag = 7) {
    AssembledRead read;
    read.read_tag = tag;
    read.read_id = "read-" + std::to_string(tag);
    read.strand_id = "strand-" + std::to_string(tag);
    read.duration = static_cast<uint32_t>(samples);
    read.daq_offset = 3.0f;
    read.daq_scaling = 0.5f;
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> dist(-3000, 3000);
    for (size_t i = 0; i < samples; ++i) {
        read.signal.push_back(static_cast<int16_t>(dist(rng)));
    }
    return read;
}

CallOptions options_for(const std::string& config_name, bool trace) {
    const auto settings = ServerSettings::defaults();
    CallOptions options;
    options.config = *settings.find_config(config_name);
    options.trace = trace;
    return options;
}

const vemla_ipc::ReadBlockData* block_of(const Bytes& frame) {
    flatbuffers::Verifier verifier(frame.data(), frame.size());
    EXPECT_TRUE(vemla_ipc::VerifyMessageDataBuffer(verifier));
    return vemla_ipc::GetMessageData(frame.data())->content_as_ReadBlockData();
}

struct Joined {
    uint32_t positions = 0;
    std::string sequence, qstring;
    std::vector<uint8_t> moves, trace, probs, rle_base;
    std::vector<uint32_t> rle_index;
    std::vector<float> state;
    size_t run_bases = 0;
    size_t blocks = 0;
};

// Reads every block of `call` back and checks each against its own counts.
Joined join_blocks(const CalledRead& call, uint32_t positions_per_block, const CalledBlockOptions& options) {
    const auto plan = plan_called_blocks(call, positions_per_block);
    Joined joined;
    uint32_t total_positions = 0, sequence_length = 0, rle_count = 0;
    for (uint32_t k = 0; k < plan.size(); ++k) {
        const Bytes frame = build_called_block(call, plan, k, options);
        const auto* block = block_of(frame);
        EXPECT_NE(block, nullptr);
        if (!block) {
            return joined;
        }
        EXPECT_EQ(block->type(), k == 0 ? vemla_ipc::ReadBlockType_RETURN_FIRST_CALLED_BLOCK
                                        : vemla_ipc::ReadBlockType_RETURN_NEXT_CALLED_BLOCK);
        EXPECT_EQ(block->block_index(), k);
        EXPECT_EQ(block->num_blocks(), plan.size());
        EXPECT_EQ(block->read_tag(), call.read_tag);
        EXPECT_EQ(block->duration(), call.duration);
        EXPECT_NE(block->strand_id(), nullptr);
        const auto* called = block->called_data();
        EXPECT_NE(called, nullptr);
        if (!called) {
            return joined;
        }
        if (k == 0) {
            total_positions = called->total_positions();
            sequence_length = called->sequence_length();
        }
        const uint32_t n = called->block_positions();
        joined.positions += n;
        EXPECT_NE(called->sequence(), nullptr);
        EXPECT_NE(called->qstring(), nullptr);
        EXPECT_NE(called->alignments(), nullptr);
        EXPECT_EQ(called->sequence()->size(), called->qstring()->size());
        joined.sequence += called->sequence()->str();
        joined.qstring += called->qstring()->str();
        if (const auto* events = called->event_data_as_MoveTraceData()) {
            EXPECT_EQ(events->moves()->size(), n);
            joined.moves.insert(joined.moves.end(), events->moves()->begin(), events->moves()->end());
            if (events->trace()) {
                EXPECT_EQ(events->trace()->size(), n);
                for (const auto* row : *events->trace()) {
                    for (const uint8_t v :
                         {row->v0(), row->v1(), row->v2(), row->v3(), row->v4(), row->v5(), row->v6(), row->v7()}) {
                        joined.trace.push_back(v);
                    }
                }
            }
        }
        if (const auto* runs = called->event_data_as_RunLengthData()) {
            if (k == 0) {
                rle_count = runs->rle_count();
            }
            const auto m = runs->rle_base()->size();
            EXPECT_EQ(runs->rle_scale()->size(), m);
            EXPECT_EQ(runs->rle_shape()->size(), m);
            EXPECT_EQ(runs->rle_weight()->size(), m);
            EXPECT_EQ(runs->rle_index()->size(), m);
            EXPECT_EQ(runs->rle_runlength()->size(), m);
            for (const auto length : *runs->rle_runlength()) {
                joined.run_bases += length;
            }
            joined.rle_base.insert(joined.rle_base.end(), runs->rle_base()->begin(), runs->rle_base()->end());
            joined.rle_index.insert(joined.rle_index.end(), runs->rle_index()->begin(), runs->rle_index()->end());
        }
        if (const auto* mods = called->base_mods()) {
            EXPECT_EQ(mods->base_mod_probs()->size(), mods->base_mod_alphabet()->size() * called->sequence()->size());
            joined.probs.insert(joined.probs.end(), mods->base_mod_probs()->begin(), mods->base_mod_probs()->end());
        }
        if (const auto* state = called->state_data()) {
            EXPECT_EQ(state->size(), static_cast<size_t>(n) * state_size);
            joined.state.insert(joined.state.end(), state->begin(), state->end());
        }
        ++joined.blocks;
    }
    EXPECT_EQ(joined.positions, total_positions) << "sum of block positions equals the total";
    EXPECT_EQ(joined.sequence.size(), sequence_length);
    EXPECT_EQ(joined.rle_base.size(), rle_count);
    if (rle_count > 0) {
        EXPECT_EQ(joined.run_bases, joined.sequence.size()) << "the runs of all blocks cover every base";
    }
    return joined;
}

}  // namespace

TEST(CalledRead, FollowsTheDocumentedRulesOnAHandWorkedSignal) {
    AssembledRead read;
    read.duration = 17;  // three positions of 5 samples, 2 trimmed
    read.daq_offset = 1.0f;
    read.daq_scaling = 2.0f;
    // Window sums: 5, -5, 9; the trailing two samples are trimmed.
    read.signal = {1, 1, 1, 1, 1, -1, -1, -1, -1, -1, 3, 3, 3, 0, 0, 9, 9};
    const CalledRead call = call_signal(read, options_for("test_dna_fast", true));
    EXPECT_EQ(call.total_positions(), 3u);
    EXPECT_EQ(call.trimmed_samples, 2u);
    // p0: first position always moves, 5 mod 4 = 1 -> C, q = 5 + 5 = 10.
    // p1: -5 mod 3 = 1 -> move, -5 mod 4 = 3 -> T, q = 5 + 26 = 31.
    // p2: 9 mod 3 = 0 -> stay.
    EXPECT_EQ(call.moves, (std::vector<uint8_t>{1, 1, 0}));
    EXPECT_EQ(call.sequence, "CT");
    EXPECT_EQ(call.qstring, std::string({static_cast<char>(33 + 10), static_cast<char>(33 + 31)}));
    EXPECT_EQ(call.base_positions, (std::vector<uint32_t>{0, 1}));
    EXPECT_EQ(call.trace[1][0], 251);      // -5 mod 256
    EXPECT_EQ(call.trace[1][1], 32);       // (-5 + 37) mod 256
    EXPECT_FLOAT_EQ(call.state[4], 0.0f);  // (-1 + 1) * 2
    EXPECT_FLOAT_EQ(call.state[8], 8.0f);  // (3 + 1) * 2
    EXPECT_FLOAT_EQ(call.mean_qscore, 20.5f);
}

TEST(CalledBlocks, MoveTraceBlocksCoverTheReadExactlyForEveryBlockSize) {
    const auto read = random_read(5003, 1);
    const CalledRead call = call_signal(read, options_for("test_dna_fast", true));
    for (const uint32_t size : {1u, 7u, 64u, 1000u, call.total_positions(), 100000u}) {
        SCOPED_TRACE(size);
        const Joined joined = join_blocks(call, size, {true, true, false});
        EXPECT_EQ(joined.blocks, (call.total_positions() + size - 1) / size);
        EXPECT_EQ(joined.sequence, call.sequence);
        EXPECT_EQ(joined.qstring, call.qstring);
        EXPECT_EQ(joined.moves, call.moves);
        EXPECT_EQ(joined.trace.size(), call.trace.size() * trace_width);
        EXPECT_EQ(joined.state, call.state);
    }
}

TEST(CalledBlocks, BaseModificationProbabilitiesFollowTheirBases) {
    const CalledRead call = call_signal(random_read(4000, 2), options_for("test_dna_modbase", false));
    ASSERT_TRUE(call.base_mods);
    EXPECT_EQ(call.base_mods->probs.size(), call.sequence.size() * call.base_mods->alphabet.size());
    const Joined joined = join_blocks(call, 33, {true, false, false});
    EXPECT_EQ(joined.probs, call.base_mods->probs);
    EXPECT_TRUE(joined.trace.empty());
    EXPECT_TRUE(joined.state.empty());
}

TEST(CalledBlocks, RunLengthBlocksCarryTheRunsStartingInThem) {
    const CalledRead call = call_signal(random_read(6000, 3), options_for("test_dna_rle", false));
    ASSERT_TRUE(call.runs);
    // Brute force: the runs spell the sequence back.
    std::string spelled;
    for (size_t r = 0; r < call.runs->base.size(); ++r) {
        spelled.append(call.runs->runlength[r], static_cast<char>(call.runs->base[r]));
        if (r > 0) {
            EXPECT_NE(call.runs->base[r], call.runs->base[r - 1]) << "runs are maximal";
        }
    }
    EXPECT_EQ(spelled, call.sequence);
    for (const uint32_t size : {5u, 50u, 2000u}) {
        const Joined joined = join_blocks(call, size, {true, false, false});
        EXPECT_EQ(joined.rle_base, call.runs->base);
        EXPECT_EQ(joined.rle_index, call.runs->index);
        EXPECT_TRUE(joined.moves.empty());
    }
}

TEST(CalledBlocks, ALongReadSplitWhenAskedYieldsTwoSubReadsBeforeItself) {
    auto options = options_for("test_dna_fast", false);
    options.split_reads = true;
    options.split_min_positions = 40;
    const auto read = random_read(1003, 4);
    const auto calls = call_read(read, options);
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].sub_tag, 1u);
    EXPECT_EQ(calls[1].sub_tag, 2u);
    EXPECT_EQ(calls[2].sub_tag, 0u);
    EXPECT_EQ(calls[0].read_tag, read.read_tag);
    EXPECT_EQ(calls[0].duration + calls[1].duration, read.duration);
    EXPECT_EQ(calls[0].duration % options.config.model_stride, 0u);
    EXPECT_EQ(calls[2].sequence, call_signal(read, options).sequence);

    const auto short_read = random_read(79 * 5, 5);  // 79 positions: too short to split
    EXPECT_EQ(call_read(short_read, options).size(), 1u);
    options.split_reads = false;
    EXPECT_EQ(call_read(read, options).size(), 1u);
}

TEST(CalledBlocks, EventsDisabledLeaveOutEventsAndModifications) {
    const CalledRead call = call_signal(random_read(1000, 6), options_for("test_dna_modbase", true));
    const auto plan = plan_called_blocks(call, 50);
    for (uint32_t k = 0; k < plan.size(); ++k) {
        const Bytes frame = build_called_block(call, plan, k, {false, false, false});
        const auto* called = block_of(frame)->called_data();
        EXPECT_EQ(called->event_data_type(), vemla_ipc::EventData_NONE);
        EXPECT_EQ(called->base_mods(), nullptr);
        EXPECT_EQ(called->state_data(), nullptr);
    }
}

TEST(CalledBlocks, TheInconsistencyFaultClaimsMorePositionsThanTheVectorsHold) {
    const CalledRead call = call_signal(random_read(1000, 7), options_for("test_dna_fast", true));
    const auto plan = plan_called_blocks(call, 64);
    const Bytes frame = build_called_block(call, plan, 0, {true, true, true});
    const auto* called = block_of(frame)->called_data();
    const auto* events = called->event_data_as_MoveTraceData();
    ASSERT_NE(events, nullptr);
    EXPECT_GT(called->block_positions(), events->moves()->size());
    EXPECT_GT(called->block_positions() * state_size, called->state_data()->size());
    EXPECT_GT(called->sequence_length(), call.sequence.size());
}

TEST(CalledBlocks, FirstBlockCarriesTheReadLevelTablesAndLaterBlocksDoNot) {
    auto options = options_for("test_dna_fast", false);
    options.align_ref = "test_ref.mmi";
    options.bed_file = "test_targets.bed";
    options.barcode_kits = {"TEST-BC12"};
    const CalledRead call = call_signal(random_read(2000, 8, 9), options);
    ASSERT_EQ(call.alignments.size(), 2u);  // odd tags align twice
    const auto plan = plan_called_blocks(call, 100);
    ASSERT_GT(plan.size(), 1u);
    const Bytes first = build_called_block(call, plan, 0, {});
    const auto* called = block_of(first)->called_data();
    ASSERT_NE(called->barcoding(), nullptr);
    const auto* barcoding = called->barcoding();
    for (const void* table :
         {static_cast<const void*>(barcoding->barcode_front()), static_cast<const void*>(barcoding->barcode_rear()),
          static_cast<const void*>(barcoding->barcode_mid_front()),
          static_cast<const void*>(barcoding->barcode_mid_rear()), static_cast<const void*>(barcoding->lamp()),
          static_cast<const void*>(barcoding->adapter_front()), static_cast<const void*>(barcoding->adapter_rear()),
          static_cast<const void*>(barcoding->adapter_mid()), static_cast<const void*>(barcoding->primer_front()),
          static_cast<const void*>(barcoding->primer_rear())}) {
        EXPECT_NE(table, nullptr) << "every barcoding sub-table is written";
    }
    EXPECT_EQ(barcoding->barcode_arrangement()->str(), "barcode10");
    EXPECT_EQ(barcoding->barcode_front()->foundseq()->str(), call.sequence.substr(0, 8));
    ASSERT_EQ(called->alignments()->size(), 2u);
    EXPECT_EQ(called->alignments()->Get(0)->BedHits(), 1);
    EXPECT_NE(called->scaling(), nullptr);
    EXPECT_EQ(called->model_stride(), 5u);

    const Bytes later = build_called_block(call, plan, 1, {});
    const auto* next = block_of(later)->called_data();
    EXPECT_EQ(next->barcoding(), nullptr);
    EXPECT_EQ(next->alignments()->size(), 0u);
    EXPECT_EQ(next->total_positions(), 0u);
}
