// Mutated frames of every kind are adopted as received messages and, when
// accepted, read field by field. Under ASan/UBSan this proves that nothing a
// peer can send makes the client read outside the frame.

#include "ipc_tools/ipc_tools.h"
#include "ipc_tools/wire_access.h"
#include "sample_frames.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace {

using ipc_tools::Message;
using ipc_tools::MessageType;
using ipc_tools::wire::as_string;
using ipc_tools::wire::or_empty;

// Folds everything it is given into one number so no read is optimised away.
struct Sink {
    uint64_t value = 0;
    void add(uint64_t v) { value = value * 31 + v; }
    void add(float v) {
        uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        add(uint64_t{bits});
    }
    void add(const std::string& text) {
        add(uint64_t{text.size()});
        for (char c : text) {
            add(uint64_t(static_cast<unsigned char>(c)));
        }
    }
    void add(const flatbuffers::String* text) { add(as_string(text)); }
};

void walk(const vemla_ipc::SequenceMatchData* m, Sink& s) {
    if (!m) return;
    s.add(m->id());
    s.add(m->refseq());
    s.add(m->foundseq());
    s.add(m->score());
    s.add(uint64_t(m->index()));
}

void walk(const vemla_ipc::MidMatchData* m, Sink& s) {
    if (!m) return;
    s.add(m->id());
    s.add(m->score());
    s.add(uint64_t(m->end_index()));
}

void walk(const vemla_ipc::BarcodingResultData* r, Sink& s) {
    if (!r) return;
    s.add(uint64_t(r->trim_front()));
    s.add(uint64_t(r->trim_rear()));
    s.add(r->barcode_full_arrangement());
    s.add(r->barcode_arrangement());
    s.add(r->barcode_kit());
    s.add(r->barcode_variant());
    s.add(r->barcode_score());
    walk(r->barcode_front(), s);
    walk(r->barcode_rear(), s);
    walk(r->barcode_mid_front(), s);
    walk(r->barcode_mid_rear(), s);
    s.add(r->barcode_front_id_inner());
    s.add(r->barcode_front_score_inner());
    s.add(r->barcode_rear_id_inner());
    s.add(r->barcode_rear_score_inner());
    if (const auto* lamp = r->lamp()) {
        s.add(lamp->lamp_barcode_id());
        s.add(lamp->lamp_barcode_score());
        s.add(lamp->lamp_target_id());
        s.add(lamp->lamp_target_score());
    }
    walk(r->adapter_front(), s);
    walk(r->adapter_rear(), s);
    walk(r->adapter_mid(), s);
    walk(r->primer_front(), s);
    walk(r->primer_rear(), s);
}

void walk(const vemla_ipc::CalledBlockData* c, Sink& s) {
    if (!c) return;
    s.add(uint64_t(c->total_positions()) + c->block_positions() + c->sequence_length() + c->state_size() +
          c->label_length() + c->model_stride() + c->trimmed_samples());
    for (float v : {c->call_score(), c->mean_qscore(), c->stay_prob(), c->step_prob(), c->skip_prob(), c->median(),
                    c->med_abs_dev()}) {
        s.add(v);
    }
    s.add(c->sequence());
    s.add(c->qstring());
    s.add(c->basecall_type());
    s.add(c->model_version_id());
    if (const auto* scaling = c->scaling()) {
        s.add(scaling->scaling_median());
        s.add(scaling->pt_median());
        s.add(uint64_t(scaling->pt_detect_success()));
    }
    if (const auto* moves = c->event_data_as_MoveTraceData()) {
        for (uint8_t m : or_empty(moves->moves())) s.add(uint64_t(m));
        for (const auto* row : or_empty(moves->trace())) s.add(uint64_t(row->v0()) + row->v7());
    }
    if (const auto* rle = c->event_data_as_RunLengthData()) {
        s.add(uint64_t(rle->rle_count()));
        for (uint8_t v : or_empty(rle->rle_base())) s.add(uint64_t(v));
        for (float v : or_empty(rle->rle_scale())) s.add(v);
        for (float v : or_empty(rle->rle_shape())) s.add(v);
        for (float v : or_empty(rle->rle_weight())) s.add(v);
        for (uint32_t v : or_empty(rle->rle_index())) s.add(uint64_t(v));
        for (uint32_t v : or_empty(rle->rle_runlength())) s.add(uint64_t(v));
    }
    if (const auto* mods = c->base_mods()) {
        s.add(mods->base_mod_alphabet());
        s.add(mods->base_mod_long_names());
        s.add(mods->base_mod_context());
        for (uint8_t v : or_empty(mods->base_mod_probs())) s.add(uint64_t(v));
    }
    for (float v : or_empty(c->state_data())) s.add(v);
    walk(c->barcoding(), s);
    for (const auto* row : or_empty(c->alignments())) {
        s.add(row->Genome());
        s.add(row->sam_record());
        s.add(row->bed_lines());
        s.add(uint64_t(row->GenomeStart()) + row->GenomeEnd() + row->NumCorrect() + row->MappingQuality() +
              row->Direction() + row->IsSecondary());
        s.add(row->Coverage());
    }
}

void walk(const Message& message, Sink& s) {
    const auto* root = message.get_message_data();
    s.add(root->client_id());
    const auto version = message.get_protocol_version();
    s.add(uint64_t(version.major()) + version.minor() + version.patch());
    if (const auto* request = root->content_as_SimpleRequestData()) {
        s.add(uint64_t(request->value()));
        s.add(request->text());
    }
    if (const auto* reply = root->content_as_SimpleReplyData()) {
        s.add(uint64_t(reply->value()));
        s.add(reply->text());
    }
    if (const auto* block = root->content_as_ReadBlockData()) {
        s.add(uint64_t(block->read_tag()) + block->num_blocks() + block->start_time());
        s.add(block->read_id());
        s.add(block->strand_id());
        for (int16_t v : or_empty(block->raw_data())) s.add(uint64_t(uint16_t(v)));
        if (const auto* o = block->scaling_override()) s.add(o->median() + o->med_abs_dev());
        walk(block->called_data(), s);
    }
    if (const auto* list = root->content_as_ConfigListData()) {
        for (const auto* c : or_empty(list->configs())) {
            s.add(c->name());
            s.add(c->model_type());
            s.add(c->model_version_id());
            s.add(uint64_t(c->model_stride()));
        }
        for (const auto* i : or_empty(list->indices())) {
            s.add(i->name());
            s.add(i->header());
        }
        for (const auto* k : or_empty(list->barcode_kits())) {
            s.add(k->kit_name());
            s.add(k->barcode_name_format());
            s.add(uint64_t(k->first_index()) + k->is_dual());
        }
        for (const auto* k : or_empty(list->lamp_kits())) {
            s.add(k->kit_name());
            for (const auto* t : or_empty(k->targets())) s.add(t);
        }
    }
    if (const auto* stats = root->content_as_ServerStats()) {
        s.add(stats->lifetime_reads_in() + stats->period_reads_out());
        for (const auto* c : or_empty(stats->clients())) s.add(uint64_t(c->input_read_count()));
    }
}

std::vector<uint8_t> mutate(const std::vector<uint8_t>& original, std::mt19937& rng) {
    std::vector<uint8_t> bytes = original;
    auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
    switch (pick(4)) {
        case 0: {  // bit flips
            const std::size_t flips = 1 + pick(8);
            for (std::size_t i = 0; i < flips; ++i) {
                bytes[pick(bytes.size())] ^= static_cast<uint8_t>(1u << pick(8));
            }
            break;
        }
        case 1:  // truncation
            bytes.resize(pick(bytes.size()));
            break;
        case 2: {  // an offset, length or vtable entry replaced by a hostile value
            const uint32_t hostile[] = {0u,
                                        1u,
                                        0x7FFFFFFFu,
                                        0xFFFFFFFFu,
                                        0x80000000u,
                                        0xFFFFFFFCu,
                                        static_cast<uint32_t>(bytes.size()),
                                        static_cast<uint32_t>(rng())};
            const std::size_t at = pick(bytes.size() / 4) * 4;
            const uint32_t value = hostile[pick(std::size(hostile))];
            std::memcpy(bytes.data() + at, &value, std::min<std::size_t>(4, bytes.size() - at));
            break;
        }
        default: {  // 16-bit field (vtable entries are 16-bit) replaced
            const std::size_t at = pick(bytes.size() / 2) * 2;
            const uint16_t value = static_cast<uint16_t>(rng());
            std::memcpy(bytes.data() + at, &value, std::min<std::size_t>(2, bytes.size() - at));
            break;
        }
    }
    return bytes;
}

}  // namespace

TEST(MessageMutation, EverySampleFrameIsAcceptedIntact) {
    for (const auto& sample : ipc_tools::test::all_sample_frames()) {
        zmq::message_t frame(sample.bytes.data(), sample.bytes.size());
        Message message(frame);
        EXPECT_NE(message.type, MessageType::UNSET) << sample.name;
        EXPECT_NE(message.type, MessageType::INVALID_PROTOCOL) << sample.name;
    }
}

TEST(MessageMutation, MutatedFramesNeverReadOutsideTheBuffer) {
    const auto samples = ipc_tools::test::all_sample_frames();
    std::mt19937 rng(20261208);
    constexpr int ITERATIONS = 100000;
    Sink sink;
    int accepted = 0;
    int refused = 0;
    for (int i = 0; i < ITERATIONS; ++i) {
        const auto& sample = samples[static_cast<std::size_t>(i) % samples.size()];
        const auto bytes = mutate(sample.bytes, rng);
        zmq::message_t frame(bytes.data(), bytes.size());
        Message message(frame);
        if (message.empty()) {
            ++refused;
            continue;
        }
        ++accepted;
        sink.add(uint64_t(message.type));
        walk(message, sink);
    }
    // Both outcomes must occur, or the loop is not exercising what it claims.
    EXPECT_GT(accepted, ITERATIONS / 10);
    EXPECT_GT(refused, ITERATIONS / 10);
    RecordProperty("sink", std::to_string(sink.value));
}
