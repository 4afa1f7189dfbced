#include "test_server/wire_codec.h"

#include "vemla_ipc_generated.h"

#include <array>
#include <cstring>

namespace test_server {

namespace {

// Union type values of MessageData.content and CalledBlockData.event_data.
constexpr uint8_t content_simple_request = 1;
constexpr uint8_t content_simple_reply = 2;
constexpr uint8_t content_read_block = 3;
constexpr uint8_t content_config_list = 4;
constexpr uint8_t content_server_stats = 5;
constexpr uint8_t event_move_trace = 1;
constexpr uint8_t event_run_length = 2;
// ReadBlockData.type wire values.
constexpr int32_t pass_first_raw_block = 0;
constexpr int32_t pass_next_raw_block = 1;
constexpr int32_t return_first_called_block = 2;
constexpr int32_t return_next_called_block = 3;

constexpr int simple_request_kinds = 15;  // wire values 0..14, in RequestKind order

const vemla_ipc::ProtocolVersion protocol_version(11, 0, 0);

std::string text_of(const flatbuffers::String* text) {
    if (!text) {
        return {};
    }
    // Strings end at their first NUL, as the client writes them.
    return std::string(text->c_str(), strnlen(text->c_str(), text->size()));
}

Bytes finish(flatbuffers::FlatBufferBuilder& fbb, uint8_t content_type, flatbuffers::Offset<void> content) {
    vemla_ipc::MessageDataBuilder message(fbb);
    message.add_version(&protocol_version);
    message.add_content_type(static_cast<vemla_ipc::Content>(content_type));
    message.add_content(content);
    fbb.Finish(message.Finish(), vemla_ipc::MessageDataIdentifier());
    return Bytes(fbb.GetBufferPointer(), fbb.GetBufferPointer() + fbb.GetSize());
}

flatbuffers::Offset<vemla_ipc::SequenceMatchData> write_match(flatbuffers::FlatBufferBuilder& fbb,
                                                              const SequenceMatch& match) {
    const auto id = fbb.CreateString(match.id);
    const auto refseq = fbb.CreateString(match.refseq);
    const auto foundseq = fbb.CreateString(match.foundseq);
    vemla_ipc::SequenceMatchDataBuilder table(fbb);
    table.add_id(id);
    table.add_refseq(refseq);
    table.add_foundseq(foundseq);
    table.add_score(match.score);
    table.add_index(match.index);
    return table.Finish();
}

flatbuffers::Offset<vemla_ipc::MidMatchData> write_mid(flatbuffers::FlatBufferBuilder& fbb, const MidMatch& match) {
    const auto id = fbb.CreateString(match.id);
    vemla_ipc::MidMatchDataBuilder table(fbb);
    table.add_id(id);
    table.add_score(match.score);
    table.add_end_index(match.end_index);
    return table.Finish();
}

flatbuffers::Offset<vemla_ipc::BarcodingResultData> write_barcoding(flatbuffers::FlatBufferBuilder& fbb,
                                                                    const Barcoding& b) {
    const auto full = fbb.CreateString(b.full_arrangement);
    const auto arrangement = fbb.CreateString(b.arrangement);
    const auto kit = fbb.CreateString(b.kit);
    const auto variant = fbb.CreateString(b.variant);
    const auto front = write_match(fbb, b.barcode_front);
    const auto rear = write_match(fbb, b.barcode_rear);
    const auto mid_front = write_mid(fbb, b.barcode_mid_front);
    const auto mid_rear = write_mid(fbb, b.barcode_mid_rear);
    const auto front_inner = fbb.CreateString(b.front_id_inner);
    const auto rear_inner = fbb.CreateString(b.rear_id_inner);
    const auto lamp_barcode = fbb.CreateString(b.lamp_barcode_id);
    const auto lamp_target = fbb.CreateString(b.lamp_target_id);
    vemla_ipc::LampResultDataBuilder lamp_table(fbb);
    lamp_table.add_lamp_barcode_id(lamp_barcode);
    lamp_table.add_lamp_barcode_score(b.lamp_barcode_score);
    lamp_table.add_lamp_target_id(lamp_target);
    lamp_table.add_lamp_target_score(b.lamp_target_score);
    const auto lamp = lamp_table.Finish();
    const auto adapter_front = write_match(fbb, b.adapter_front);
    const auto adapter_rear = write_match(fbb, b.adapter_rear);
    const auto adapter_mid = write_mid(fbb, b.adapter_mid);
    const auto primer_front = write_match(fbb, b.primer_front);
    const auto primer_rear = write_match(fbb, b.primer_rear);

    vemla_ipc::BarcodingResultDataBuilder table(fbb);
    table.add_trim_front(b.trim_front);
    table.add_trim_rear(b.trim_rear);
    table.add_barcode_full_arrangement(full);
    table.add_barcode_arrangement(arrangement);
    table.add_barcode_kit(kit);
    table.add_barcode_variant(variant);
    table.add_barcode_score(b.score);
    table.add_barcode_front(front);
    table.add_barcode_rear(rear);
    table.add_barcode_mid_front(mid_front);
    table.add_barcode_mid_rear(mid_rear);
    table.add_barcode_front_id_inner(front_inner);
    table.add_barcode_front_score_inner(b.front_score_inner);
    table.add_barcode_rear_id_inner(rear_inner);
    table.add_barcode_rear_score_inner(b.rear_score_inner);
    table.add_lamp(lamp);
    table.add_adapter_front(adapter_front);
    table.add_adapter_rear(adapter_rear);
    table.add_adapter_mid(adapter_mid);
    table.add_primer_front(primer_front);
    table.add_primer_rear(primer_rear);
    return table.Finish();
}

flatbuffers::Offset<vemla_ipc::AlignmentRowData> write_alignment(flatbuffers::FlatBufferBuilder& fbb,
                                                                 const AlignmentRow& row) {
    const auto genome = fbb.CreateString(row.genome);
    const auto sam = fbb.CreateString(row.sam_record);
    const auto bed = fbb.CreateString(row.bed_lines);
    vemla_ipc::AlignmentRowDataBuilder table(fbb);
    table.add_Genome(genome);
    table.add_GenomeStart(row.genome_start);
    table.add_GenomeEnd(row.genome_end);
    table.add_StrandStart(row.strand_start);
    table.add_StrandEnd(row.strand_end);
    table.add_NumEvents(row.num_events);
    table.add_NumInsertions(row.num_insertions);
    table.add_NumDeletions(row.num_deletions);
    table.add_NumAligned(row.num_aligned);
    table.add_NumCorrect(row.num_correct);
    table.add_Coverage(row.coverage);
    table.add_Identity(row.identity);
    table.add_Accuracy(row.accuracy);
    table.add_StrandScore(row.strand_score);
    table.add_sam_record(sam);
    table.add_BedHits(row.bed_hits);
    table.add_bed_lines(bed);
    table.add_Direction(row.direction);
    table.add_MappingQuality(row.mapping_quality);
    table.add_IsSecondary(row.is_secondary);
    table.add_IsSupplementary(row.is_supplementary);
    return table.Finish();
}

// The event table of one block: moves and trace rows of its positions, or
// its runs. Nothing when the read carries no events of that kind.
std::pair<uint8_t, flatbuffers::Offset<void>> write_events(flatbuffers::FlatBufferBuilder& fbb,
                                                           const CalledRead& call,
                                                           const CalledBlockSpan& span,
                                                           bool first_block,
                                                           bool inconsistent,
                                                           bool absent_vectors) {
    if (call.runs) {
        const auto& runs = *call.runs;
        const auto begin = span.run_begin;
        const auto n = span.runs();
        const auto base = fbb.CreateVector(runs.base.data() + begin, n);
        const auto scale = fbb.CreateVector(runs.scale.data() + begin, n);
        const auto shape = fbb.CreateVector(runs.shape.data() + begin, n);
        const auto weight = fbb.CreateVector(runs.weight.data() + begin, n);
        const auto index = fbb.CreateVector(runs.index.data() + begin, n);
        const auto length = fbb.CreateVector(runs.runlength.data() + begin, n);
        vemla_ipc::RunLengthDataBuilder table(fbb);
        if (first_block) {
            table.add_rle_count(static_cast<uint32_t>(runs.base.size()) + (inconsistent ? 3u : 0u));
        }
        table.add_rle_base(base);
        table.add_rle_scale(scale);
        table.add_rle_shape(shape);
        table.add_rle_weight(weight);
        table.add_rle_index(index);
        table.add_rle_runlength(length);
        return {event_run_length, table.Finish().Union()};
    }
    if (absent_vectors) {
        vemla_ipc::MoveTraceDataBuilder bare(fbb);
        return {event_move_trace, bare.Finish().Union()};
    }
    const auto moves = fbb.CreateVector(call.moves.data() + span.position_begin, span.positions());
    flatbuffers::Offset<flatbuffers::Vector<const vemla_ipc::TraceRow*>> trace;
    if (!call.trace.empty()) {
        static_assert(sizeof(vemla_ipc::TraceRow) == trace_width, "a trace row is 8 bytes");
        const auto* rows = reinterpret_cast<const vemla_ipc::TraceRow*>(call.trace.data() + span.position_begin);
        trace = fbb.CreateVectorOfStructs(rows, span.positions());
    }
    vemla_ipc::MoveTraceDataBuilder table(fbb);
    table.add_moves(moves);
    if (!trace.IsNull()) {
        table.add_trace(trace);
    }
    return {event_move_trace, table.Finish().Union()};
}

}  // namespace

namespace {
constexpr std::array<const char*, 18> reply_kind_names = {
        "CONNECTED",
        "DISCONNECTED",
        "SHUTTING_DOWN",
        "INVALID_CONFIG",
        "INVALID_BARCODE_KIT",
        "CLIENT_NOT_RECOGNISED",
        "RAW_BLOCK_ACCEPTED",
        "NOT_READY",
        "NONE_PENDING",
        "BAD_REQUEST",
        "INVALID_INDEX",
        "INVALID_BED",
        "INDEX_NO_SEQ",
        "HEARTBEAT_ECHO",
        "RESPONSE",
        "LOADING",
        "SUCCESS",
        "REQUEST_FAILED",
};
}  // namespace

const char* reply_kind_name(ReplyKind kind) {
    const auto index = static_cast<size_t>(kind);
    return index < reply_kind_names.size() ? reply_kind_names[index] : "UNKNOWN";
}

std::optional<ReplyKind> reply_kind_from_name(const std::string& name) {
    for (size_t i = 0; i < reply_kind_names.size(); ++i) {
        if (name == reply_kind_names[i]) {
            return static_cast<ReplyKind>(i);
        }
    }
    return std::nullopt;
}

DecodedRequest decode_request(const uint8_t* data, size_t size) {
    DecodedRequest request;
    if (size < 8) {
        request.error = "request of " + std::to_string(size) + " bytes is too short";
        return request;
    }
    if (!flatbuffers::BufferHasIdentifier(data, vemla_ipc::MessageDataIdentifier())) {
        request.error = "request has a foreign file identifier";
        return request;
    }
    flatbuffers::Verifier verifier(data, size);
    if (!vemla_ipc::VerifyMessageDataBuffer(verifier)) {
        request.error = "request fails verification";
        return request;
    }
    const auto* message = vemla_ipc::GetMessageData(data);
    if (const auto* version = message->version()) {
        request.version = std::to_string(version->major()) + "." + std::to_string(version->minor()) + "." +
                          std::to_string(version->patch());
    }
    request.client_id = text_of(message->client_id());
    const auto content_type = static_cast<uint8_t>(message->content_type());
    if (content_type == content_simple_request) {
        const auto* content = message->content_as_SimpleRequestData();
        if (!content) {
            request.error = "simple request without content";
            return request;
        }
        const auto type = static_cast<int32_t>(content->type());
        if (type < 0 || type >= simple_request_kinds) {
            request.error = "unknown simple request type " + std::to_string(type);
            return request;
        }
        request.kind = static_cast<RequestKind>(type);
        request.value = content->value();
        request.text = text_of(content->text());
        return request;
    }
    if (content_type == content_read_block) {
        const auto* content = message->content_as_ReadBlockData();
        if (!content) {
            request.error = "read block without content";
            return request;
        }
        const auto type = static_cast<int32_t>(content->type());
        if (type != pass_first_raw_block && type != pass_next_raw_block) {
            request.error = "read block of type " + std::to_string(type) + " is not a raw block";
            return request;
        }
        request.kind = type == pass_first_raw_block ? RequestKind::pass_first_raw_block
                                                    : RequestKind::pass_next_raw_block;
        RawBlock block;
        block.first = type == pass_first_raw_block;
        block.read_tag = content->read_tag();
        block.sub_tag = content->sub_tag();
        block.block_index = content->block_index();
        block.num_blocks = content->num_blocks();
        block.duration = content->duration();
        block.daq_offset = content->daq_offset();
        block.daq_scaling = content->daq_scaling();
        block.read_id = text_of(content->read_id());
        block.strand_id = text_of(content->strand_id());
        block.start_time = content->start_time();
        if (const auto* samples = content->raw_data()) {
            block.samples.assign(samples->data(), samples->data() + samples->size());
        }
        request.block = std::move(block);
        return request;
    }
    request.error = "content type " + std::to_string(content_type) + " is not a request";
    return request;
}

const std::string& protocol_version_text() {
    static const std::string text = std::to_string(protocol_version.major()) + "." +
                                    std::to_string(protocol_version.minor()) + "." +
                                    std::to_string(protocol_version.patch());
    return text;
}

Bytes build_simple_reply(ReplyKind kind, uint32_t value, const std::string& text) {
    flatbuffers::FlatBufferBuilder fbb(256 + text.size());
    flatbuffers::Offset<flatbuffers::String> text_offset;
    if (!text.empty()) {
        text_offset = fbb.CreateString(text);
    }
    vemla_ipc::SimpleReplyDataBuilder reply(fbb);
    reply.add_type(static_cast<vemla_ipc::SimpleReplyType>(kind));
    reply.add_value(value);
    if (!text.empty()) {
        reply.add_text(text_offset);
    }
    return finish(fbb, content_simple_reply, reply.Finish().Union());
}

Bytes build_config_list(const std::vector<const BasecallConfig*>& configs) {
    flatbuffers::FlatBufferBuilder fbb;
    std::vector<flatbuffers::Offset<vemla_ipc::BasecallConfigData>> entries;
    for (const auto* config : configs) {
        const auto name = fbb.CreateString(config->name);
        const auto model_type = fbb.CreateString(config->model_type);
        const auto version = fbb.CreateString(config->model_version_id);
        vemla_ipc::BasecallConfigDataBuilder entry(fbb);
        entry.add_qscore_offset(config->qscore_offset);
        entry.add_qscore_scale(config->qscore_scale);
        entry.add_temp_weight(config->temp_weight);
        entry.add_temp_bias(config->temp_bias);
        entry.add_model_stride(config->model_stride);
        entry.add_label_length(config->label_length);
        entry.add_name(name);
        entry.add_model_type(model_type);
        entry.add_model_version_id(version);
        entries.push_back(entry.Finish());
    }
    const auto list = fbb.CreateVector(entries);
    vemla_ipc::ConfigListDataBuilder content(fbb);
    content.add_configs(list);
    return finish(fbb, content_config_list, content.Finish().Union());
}

Bytes build_index_list(const std::vector<std::pair<std::string, std::string>>& name_and_header) {
    flatbuffers::FlatBufferBuilder fbb;
    std::vector<flatbuffers::Offset<vemla_ipc::AlignmentIndexData>> entries;
    for (const auto& [name, header] : name_and_header) {
        entries.push_back(vemla_ipc::CreateAlignmentIndexData(fbb, fbb.CreateString(name), fbb.CreateString(header)));
    }
    const auto list = fbb.CreateVector(entries);
    vemla_ipc::ConfigListDataBuilder content(fbb);
    content.add_indices(list);
    return finish(fbb, content_config_list, content.Finish().Union());
}

Bytes build_barcode_kit_list(const std::vector<BarcodeKit>& kits) {
    flatbuffers::FlatBufferBuilder fbb;
    std::vector<flatbuffers::Offset<vemla_ipc::BarcodeKitDefinition>> entries;
    for (const auto& kit : kits) {
        const auto name = fbb.CreateString(kit.kit_name);
        const auto format = fbb.CreateString(kit.barcode_name_format);
        vemla_ipc::BarcodeKitDefinitionBuilder entry(fbb);
        entry.add_kit_name(name);
        entry.add_is_dual(kit.is_dual);
        entry.add_is_both_ends(kit.is_both_ends);
        entry.add_add_a_to_barcode_12(kit.add_a_to_barcode_12);
        entry.add_first_index(kit.first_index);
        entry.add_last_index(kit.last_index);
        entry.add_first_inner_index(kit.first_inner_index);
        entry.add_last_inner_index(kit.last_inner_index);
        entry.add_barcode_name_format(format);
        entries.push_back(entry.Finish());
    }
    const auto list = fbb.CreateVector(entries);
    vemla_ipc::ConfigListDataBuilder content(fbb);
    content.add_barcode_kits(list);
    return finish(fbb, content_config_list, content.Finish().Union());
}

Bytes build_lamp_kit_list(const std::vector<LampKit>& kits) {
    flatbuffers::FlatBufferBuilder fbb;
    std::vector<flatbuffers::Offset<vemla_ipc::LampKitDefinition>> entries;
    for (const auto& kit : kits) {
        const auto name = fbb.CreateString(kit.kit_name);
        const auto format = fbb.CreateString(kit.barcode_name_format);
        const auto targets = fbb.CreateVectorOfStrings(kit.targets);
        vemla_ipc::LampKitDefinitionBuilder entry(fbb);
        entry.add_kit_name(name);
        entry.add_first_index(kit.first_index);
        entry.add_last_index(kit.last_index);
        entry.add_barcode_name_format(format);
        entry.add_targets(targets);
        entries.push_back(entry.Finish());
    }
    const auto list = fbb.CreateVector(entries);
    vemla_ipc::ConfigListDataBuilder content(fbb);
    content.add_lamp_kits(list);
    return finish(fbb, content_config_list, content.Finish().Union());
}

Bytes build_statistics(uint64_t lifetime_in,
                       uint64_t lifetime_out,
                       uint64_t period_in,
                       uint64_t period_out,
                       const std::vector<ClientCounts>& clients) {
    flatbuffers::FlatBufferBuilder fbb;
    std::vector<flatbuffers::Offset<vemla_ipc::ClientStatsData>> rows;
    for (const auto& client : clients) {
        rows.push_back(vemla_ipc::CreateClientStatsData(fbb, client.reads_in, client.reads_out));
    }
    const auto list = fbb.CreateVector(rows);
    vemla_ipc::ServerStatsBuilder stats(fbb);
    stats.add_lifetime_reads_in(lifetime_in);
    stats.add_lifetime_reads_out(lifetime_out);
    stats.add_period_reads_in(period_in);
    stats.add_period_reads_out(period_out);
    stats.add_clients(list);
    return finish(fbb, content_server_stats, stats.Finish().Union());
}

Bytes build_called_block(const CalledRead& call,
                         const std::vector<CalledBlockSpan>& blocks,
                         uint32_t index,
                         const CalledBlockOptions& options) {
    const CalledBlockSpan& span = blocks.at(index);
    const bool first = index == 0;
    const uint32_t excess = options.inconsistent ? 7u : 0u;
    flatbuffers::FlatBufferBuilder fbb(1024 + 16 * static_cast<size_t>(span.positions()));

    const auto sequence = fbb.CreateString(call.sequence.data() + span.base_begin, span.bases());
    const auto qstring = fbb.CreateString(call.qstring.data() + span.base_begin, span.bases());
    const auto basecall_type = fbb.CreateString(call.basecall_type);
    const auto model_version_id = fbb.CreateString(call.model_version_id);

    flatbuffers::Offset<vemla_ipc::ScalingResultData> scaling;
    flatbuffers::Offset<vemla_ipc::BarcodingResultData> barcoding;
    std::vector<flatbuffers::Offset<vemla_ipc::AlignmentRowData>> rows;
    if (first) {
        if (call.scaling) {
            const auto& s = *call.scaling;
            scaling = vemla_ipc::CreateScalingResultData(fbb, s.median, s.med_abs_dev, s.pt_median, s.ptsd,
                                                         s.adapter_max, s.pt_detect_success);
        }
        if (call.barcoding) {
            barcoding = write_barcoding(fbb, *call.barcoding);
        }
        for (const auto& row : call.alignments) {
            rows.push_back(write_alignment(fbb, row));
        }
    }
    // Always written (empty for later blocks and unaligned reads).
    const auto alignments = fbb.CreateVector(rows);

    uint8_t event_type = 0;
    flatbuffers::Offset<void> events;
    flatbuffers::Offset<vemla_ipc::BaseModData> base_mods;
    if (options.events) {
        std::tie(event_type, events) =
                write_events(fbb, call, span, first, options.inconsistent, options.absent_vectors);
        if (call.base_mods && !options.absent_vectors) {
            const auto& mods = *call.base_mods;
            const size_t width = mods.alphabet.size();
            const auto probs = fbb.CreateVector(mods.probs.data() + span.base_begin * width, span.bases() * width);
            const auto alphabet = fbb.CreateString(mods.alphabet);
            const auto long_names = fbb.CreateString(mods.long_names);
            const auto context = fbb.CreateString(mods.context);
            base_mods = vemla_ipc::CreateBaseModData(fbb, alphabet, long_names, context, probs);
        }
    }
    flatbuffers::Offset<flatbuffers::Vector<float>> state;
    if (options.state_data && !options.absent_vectors) {
        state = fbb.CreateVector(call.state.data() + static_cast<size_t>(span.position_begin) * state_size,
                                 static_cast<size_t>(span.positions()) * state_size);
    }

    vemla_ipc::CalledBlockDataBuilder called(fbb);
    called.add_block_positions(span.positions() + excess);
    called.add_sequence(sequence);
    called.add_qstring(qstring);
    if (event_type != 0) {
        called.add_event_data_type(static_cast<vemla_ipc::EventData>(event_type));
        called.add_event_data(events);
    }
    if (!base_mods.IsNull()) {
        called.add_base_mods(base_mods);
    }
    if (!state.IsNull()) {
        called.add_state_data(state);
    }
    called.add_alignments(alignments);
    called.add_basecall_type(basecall_type);
    called.add_model_version_id(model_version_id);
    if (first) {
        called.add_total_positions(call.total_positions());
        called.add_sequence_length(static_cast<uint32_t>(call.sequence.size()) + (options.inconsistent ? 3u : 0u));
        called.add_state_size(state_size);
        called.add_call_score(call.call_score);
        called.add_mean_qscore(call.mean_qscore);
        called.add_stay_prob(call.stay_prob);
        called.add_step_prob(call.step_prob);
        called.add_skip_prob(call.skip_prob);
        called.add_median(call.median);
        called.add_med_abs_dev(call.med_abs_dev);
        called.add_label_length(call.label_length);
        called.add_model_stride(call.model_stride);
        called.add_trimmed_samples(call.trimmed_samples);
        if (!scaling.IsNull()) {
            called.add_scaling(scaling);
        }
        if (!barcoding.IsNull()) {
            called.add_barcoding(barcoding);
        }
    }
    const auto called_data = called.Finish();

    const auto read_id = fbb.CreateString(call.read_id);
    const auto strand_id = fbb.CreateString(call.strand_id);
    vemla_ipc::ReadBlockDataBuilder block(fbb);
    block.add_type(static_cast<vemla_ipc::ReadBlockType>(first ? return_first_called_block : return_next_called_block));
    block.add_read_tag(call.read_tag);
    block.add_block_index(index);
    block.add_num_blocks(options.claimed_blocks ? *options.claimed_blocks : static_cast<uint32_t>(blocks.size()));
    block.add_duration(call.duration);
    block.add_daq_offset(call.daq_offset);
    block.add_daq_scaling(call.daq_scaling);
    block.add_read_id(read_id);
    block.add_called_data(called_data);
    block.add_sub_tag(call.sub_tag);
    block.add_strand_id(strand_id);
    block.add_start_time(call.start_time);
    return finish(fbb, content_read_block, block.Finish().Union());
}

}  // namespace test_server
