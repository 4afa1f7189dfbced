#include "sample_frames.h"

#include "ipc_tools/ipc_tools.h"

namespace ipc_tools::test {

namespace {

using flatbuffers::FlatBufferBuilder;
using flatbuffers::Offset;

Bytes finish(FlatBufferBuilder& b,
             vemla_ipc::Content content_type,
             Offset<void> content,
             const std::string& client_id) {
    const auto id = client_id.empty() ? Offset<flatbuffers::String>() : b.CreateString(client_id);
    const auto root = vemla_ipc::CreateMessageData(b, &current_version(), id, content_type, content);
    vemla_ipc::FinishMessageDataBuffer(b, root);
    return Bytes(b.GetBufferPointer(), b.GetBufferPointer() + b.GetSize());
}

Offset<vemla_ipc::SequenceMatchData> match(FlatBufferBuilder& b, const std::string& prefix) {
    return vemla_ipc::CreateSequenceMatchDataDirect(b, (prefix + "_id").c_str(), "ACGTACGT", "ACGTTCGT", 42.5f, 17);
}

Offset<vemla_ipc::MidMatchData> mid(FlatBufferBuilder& b, const std::string& prefix) {
    return vemla_ipc::CreateMidMatchDataDirect(b, (prefix + "_id").c_str(), 12.5f, 300);
}

Offset<vemla_ipc::BarcodingResultData> barcoding(FlatBufferBuilder& b) {
    const auto front = match(b, "barcode_front");
    const auto rear = match(b, "barcode_rear");
    const auto mid_front = mid(b, "barcode_mid_front");
    const auto mid_rear = mid(b, "barcode_mid_rear");
    const auto lamp = vemla_ipc::CreateLampResultDataDirect(b, "FIP01", 80.0f, "target_a", 70.0f);
    const auto adapter_front = match(b, "adapter_front");
    const auto adapter_rear = match(b, "adapter_rear");
    const auto adapter_mid = mid(b, "adapter_mid");
    const auto primer_front = match(b, "primer_front");
    const auto primer_rear = match(b, "primer_rear");
    return vemla_ipc::CreateBarcodingResultDataDirect(b, 10, 20, "barcode01_full", "barcode01", "KIT-1", "var1", 91.5f,
                                                      front, rear, mid_front, mid_rear, "inner_f", 60.0f, "inner_r",
                                                      61.0f, lamp, adapter_front, adapter_rear, adapter_mid,
                                                      primer_front, primer_rear);
}

}  // namespace

Bytes raw_block_frame(const std::vector<int16_t>& samples, const std::string& client_id) {
    FlatBufferBuilder b(1024 + samples.size() * sizeof(int16_t));
    const auto read_id = b.CreateString("read-0001");
    const auto raw = b.CreateVector(samples);
    const auto strand_id = b.CreateString("strand-0001");
    const auto scaling = vemla_ipc::CreateScalingOverrideData(b, 90.0f, 11.0f);
    vemla_ipc::ReadBlockDataBuilder block(b);
    block.add_type(vemla_ipc::ReadBlockType_PASS_FIRST_RAW_BLOCK);
    block.add_read_tag(77);
    block.add_block_index(0);
    block.add_num_blocks(1);
    block.add_duration(static_cast<uint32_t>(samples.size()));
    block.add_daq_offset(4.0f);
    block.add_daq_scaling(0.25f);
    block.add_read_id(read_id);
    block.add_raw_data(raw);
    block.add_scaling_override(scaling);
    block.add_sub_tag(3);
    block.add_strand_id(strand_id);
    block.add_start_time(123456789);
    return finish(b, vemla_ipc::Content_ReadBlockData, block.Finish().Union(), client_id);
}

Bytes called_block_frame(bool run_length) {
    FlatBufferBuilder b;
    Offset<void> events;
    vemla_ipc::EventData event_type;
    if (run_length) {
        const std::vector<uint8_t> bases{'A', 'C', 'G'};
        const std::vector<float> scale{1.0f, 2.0f, 3.0f};
        const std::vector<float> shape{4.0f, 5.0f, 6.0f};
        const std::vector<float> weight{7.0f, 8.0f, 9.0f};
        const std::vector<uint32_t> index{0, 5, 9};
        const std::vector<uint32_t> runlength{5, 4, 3};
        events =
                vemla_ipc::CreateRunLengthDataDirect(b, 3, &bases, &scale, &shape, &weight, &index, &runlength).Union();
        event_type = vemla_ipc::EventData_RunLengthData;
    } else {
        const std::vector<uint8_t> moves{1, 0, 1, 1};
        std::vector<vemla_ipc::TraceRow> trace;
        for (uint8_t i = 0; i < 4; ++i) {
            trace.emplace_back(i, i + 1, i + 2, i + 3, i + 4, i + 5, i + 6, i + 7);
        }
        events = vemla_ipc::CreateMoveTraceDataDirect(b, &moves, &trace).Union();
        event_type = vemla_ipc::EventData_MoveTraceData;
    }
    const auto scaling = vemla_ipc::CreateScalingResultData(b, 80.0f, 9.0f, 70.0f, 5.0f, 900.0f, true);
    const std::vector<uint8_t> probs{10, 20, 30, 40, 50, 60, 70, 80};
    const auto base_mods = vemla_ipc::CreateBaseModDataDirect(b, "AC", "6mA 5mC", "A C", &probs);
    const std::vector<float> state(4 * 2, 0.5f);
    const auto barcode = barcoding(b);
    std::vector<Offset<vemla_ipc::AlignmentRowData>> rows;
    for (int i = 0; i < 2; ++i) {
        rows.push_back(vemla_ipc::CreateAlignmentRowDataDirect(
                b, "chr1", 100, 200, 0, 100, 100, 1, 2, 97, 95, 0.9f, 0.95f, 0.96f, 60,
                "read\t0\tchr1\t101\t60\t4M\t*\t0\t0\tACGT\t!!!!", i, "chr1\t100\t200", 1, 60, i == 1, false));
    }
    const auto called = vemla_ipc::CreateCalledBlockDataDirect(
            b, 4, 4, 4, 2, 10.5f, 12.5f, 0.1f, 0.8f, 0.1f, 85.0f, 10.0f, 4, 5, 12, "ACGT", "!#%'", "dna", scaling,
            event_type, events, base_mods, &state, barcode, &rows, "model-1.0");
    const auto block = vemla_ipc::CreateReadBlockDataDirect(b, vemla_ipc::ReadBlockType_RETURN_FIRST_CALLED_BLOCK, 77,
                                                            0, 1, 4000, 4.0f, 0.25f, "read-0001", nullptr, called, 0, 0,
                                                            "strand-0001", 1000);
    return finish(b, vemla_ipc::Content_ReadBlockData, block.Union(), "conn-1");
}

Bytes config_list_frame() {
    FlatBufferBuilder b;
    const std::vector<Offset<vemla_ipc::BasecallConfigData>> configs{
            vemla_ipc::CreateBasecallConfigDataDirect(b, 1.0f, 2.0f, 3.0f, 4.0f, 5, 4, "cfg_a", "crf", "v1")};
    const std::vector<Offset<vemla_ipc::AlignmentIndexData>> indices{
            vemla_ipc::CreateAlignmentIndexDataDirect(b, "/ref/index.mmi", "@SQ\tSN:chr1\tLN:10\n")};
    const std::vector<Offset<vemla_ipc::BarcodeKitDefinition>> kits{
            vemla_ipc::CreateBarcodeKitDefinitionDirect(b, "KIT-1", true, false, true, 1, 12, 1, 96, "barcode%02i")};
    const std::vector<flatbuffers::Offset<flatbuffers::String>> targets{b.CreateString("t1"), b.CreateString("t2")};
    const std::vector<Offset<vemla_ipc::LampKitDefinition>> lamps{
            vemla_ipc::CreateLampKitDefinitionDirect(b, "LAMP-1", 1, 8, "FIP%02i", &targets)};
    const auto list = vemla_ipc::CreateConfigListDataDirect(b, &configs, &indices, &kits, &lamps);
    return finish(b, vemla_ipc::Content_ConfigListData, list.Union(), "");
}

Bytes server_stats_frame() {
    FlatBufferBuilder b;
    const std::vector<Offset<vemla_ipc::ClientStatsData>> clients{vemla_ipc::CreateClientStatsData(b, 10, 9),
                                                                  vemla_ipc::CreateClientStatsData(b, 3, 3)};
    const auto stats = vemla_ipc::CreateServerStatsDirect(b, 100, 90, 10, 9, &clients);
    return finish(b, vemla_ipc::Content_ServerStats, stats.Union(), "");
}

std::vector<SampleFrame> all_sample_frames() {
    std::vector<SampleFrame> frames;
    for (int32_t value = 0; value < MESSAGE_TYPE_COUNT; ++value) {
        const auto type = static_cast<MessageType>(value);
        if (!simple_request_wire_value(type) && !simple_reply_wire_value(type)) {
            continue;
        }
        const Message message(type, "conn-1", 0x01020304, "text for " + message_type_as_string(type));
        frames.push_back({message_type_as_string(type), Bytes(message.data(), message.data() + message.size())});
    }
    frames.push_back({"PASS_FIRST_RAW_BLOCK", raw_block_frame({1, -2, 3, -4, 5, -6, 7, -8}, "conn-1")});
    frames.push_back({"RETURN_FIRST_CALLED_BLOCK (moves)", called_block_frame(false)});
    frames.push_back({"RETURN_FIRST_CALLED_BLOCK (run length)", called_block_frame(true)});
    frames.push_back({"RETURN_CONFIGS", config_list_frame()});
    frames.push_back({"RETURN_STATISTICS", server_stats_frame()});
    return frames;
}

}  // namespace ipc_tools::test
