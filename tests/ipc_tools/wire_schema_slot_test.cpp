// Slot audit of the wire schema. Each table is built through the generated
// builder by field name, with a distinct value in every field, and read back
// through raw vtable slots (offset 4 + 2*slot) with the wire type the
// protocol gives for that slot. A server and a client built from one
// misnumbered schema would agree with each other; this test compares the
// schema with the protocol's slot tables instead.

#include <vemla_ipc_generated.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

namespace {

using flatbuffers::FlatBufferBuilder;
using flatbuffers::Offset;
using flatbuffers::Table;

constexpr flatbuffers::voffset_t slot_offset(int slot) {
    return static_cast<flatbuffers::voffset_t>(4 + 2 * slot);
}

// Reads slots of one table and, on destruction, checks that every slot the
// builder wrote was audited and that the vtable spans exactly `slot_count`.
class SlotAudit {
public:
    SlotAudit(const Table* table, int slot_count) : m_table(table), m_slot_count(slot_count) {}

    SlotAudit(const SlotAudit&) = delete;
    SlotAudit& operator=(const SlotAudit&) = delete;

    ~SlotAudit() {
        const uint8_t* vtable = m_table->GetVTable();
        const int vtable_slots = (flatbuffers::ReadScalar<flatbuffers::voffset_t>(vtable) - 4) / 2;
        EXPECT_EQ(vtable_slots, m_slot_count) << "slots in the vtable";
        for (int slot = 0; slot < vtable_slots; ++slot) {
            const auto field_offset = flatbuffers::ReadScalar<flatbuffers::voffset_t>(vtable + slot_offset(slot));
            if (field_offset != 0) {
                EXPECT_TRUE(m_seen.count(slot)) << "slot " << slot << " written but not audited";
            }
        }
    }

    template <typename T>
    SlotAudit& scalar(int slot, T expected) {
        mark(slot);
        EXPECT_EQ(m_table->GetField<T>(slot_offset(slot), T{}), expected) << "slot " << slot;
        return *this;
    }

    SlotAudit& string(int slot, const std::string& expected) {
        mark(slot);
        const auto* text = m_table->GetPointer<const flatbuffers::String*>(slot_offset(slot));
        EXPECT_NE(text, nullptr) << "slot " << slot;
        if (text != nullptr) {
            EXPECT_EQ(text->str(), expected) << "slot " << slot;
        }
        return *this;
    }

    template <typename T>
    SlotAudit& vector(int slot, const std::vector<T>& expected) {
        mark(slot);
        const auto* values = m_table->GetPointer<const flatbuffers::Vector<T>*>(slot_offset(slot));
        EXPECT_NE(values, nullptr) << "slot " << slot;
        if (values != nullptr) {
            EXPECT_EQ(std::vector<T>(values->begin(), values->end()), expected) << "slot " << slot;
        }
        return *this;
    }

    SlotAudit& strings(int slot, const std::vector<std::string>& expected) {
        mark(slot);
        const auto* values =
                m_table->GetPointer<const flatbuffers::Vector<Offset<flatbuffers::String>>*>(slot_offset(slot));
        EXPECT_NE(values, nullptr) << "slot " << slot;
        if (values != nullptr) {
            std::vector<std::string> got;
            for (const auto* text : *values) {
                got.push_back(text->str());
            }
            EXPECT_EQ(got, expected) << "slot " << slot;
        }
        return *this;
    }

    // A sub-table; checked by its first uint32 slot holding `marker`.
    SlotAudit& table(int slot, uint32_t marker) {
        mark(slot);
        const auto* sub = m_table->GetPointer<const Table*>(slot_offset(slot));
        EXPECT_NE(sub, nullptr) << "slot " << slot;
        if (sub != nullptr) {
            EXPECT_EQ(sub->GetField<uint32_t>(slot_offset(0), 0), marker) << "slot " << slot;
        }
        return *this;
    }

    // A vector of sub-tables; each checked by its first uint32 slot.
    SlotAudit& tables(int slot, const std::vector<uint32_t>& markers) {
        mark(slot);
        const auto* subs = m_table->GetPointer<const flatbuffers::Vector<Offset<Table>>*>(slot_offset(slot));
        EXPECT_NE(subs, nullptr) << "slot " << slot;
        if (subs != nullptr) {
            std::vector<uint32_t> got;
            for (const auto* sub : *subs) {
                got.push_back(sub->GetField<uint32_t>(slot_offset(0), 0));
            }
            EXPECT_EQ(got, markers) << "slot " << slot;
        }
        return *this;
    }

    template <typename T>
    const flatbuffers::Vector<T>* vector_at(int slot) {
        mark(slot);
        return m_table->GetPointer<const flatbuffers::Vector<T>*>(slot_offset(slot));
    }

    const Table* sub_table(int slot) {
        mark(slot);
        return m_table->GetPointer<const Table*>(slot_offset(slot));
    }

    const uint8_t* structure(int slot) {
        mark(slot);
        return m_table->GetStruct<const uint8_t*>(slot_offset(slot));
    }

private:
    void mark(int slot) {
        EXPECT_LT(slot, m_slot_count);
        m_seen.insert(slot);
    }

    const Table* m_table;
    int m_slot_count;
    std::set<int> m_seen;
};

template <typename T>
const Table* finish_as_root(FlatBufferBuilder& builder, Offset<T> root) {
    builder.Finish(root);
    return flatbuffers::GetRoot<Table>(builder.GetBufferPointer());
}

// A sub-table whose first slot (a uint32 in every table used so) carries a marker.
Offset<vemla_ipc::ClientStatsData> marker_table(FlatBufferBuilder& builder, uint32_t marker) {
    return vemla_ipc::CreateClientStatsData(builder, marker);
}

template <typename T>
Offset<T> as(Offset<vemla_ipc::ClientStatsData> offset) {
    return Offset<T>(offset.o);
}

#define EXPECT_FIELD_TYPE(Table, field, Type)                                                      \
    static_assert(std::is_same_v<decltype(std::declval<const vemla_ipc::Table&>().field()), Type>, \
                  #Table "." #field " has the wrong type")

}  // namespace

TEST(WireSchema, StructLayouts) {
    EXPECT_EQ(sizeof(vemla_ipc::ProtocolVersion), 12u);
    const vemla_ipc::ProtocolVersion version{0x01020304, 0x05060708, 0x090A0B0C};
    const auto* raw = reinterpret_cast<const uint8_t*>(&version);
    EXPECT_EQ(flatbuffers::ReadScalar<uint32_t>(raw + 0), 0x01020304u);
    EXPECT_EQ(flatbuffers::ReadScalar<uint32_t>(raw + 4), 0x05060708u);
    EXPECT_EQ(flatbuffers::ReadScalar<uint32_t>(raw + 8), 0x090A0B0Cu);
    EXPECT_EQ(sizeof(vemla_ipc::TraceRow), 8u);
    EXPECT_EQ(alignof(vemla_ipc::TraceRow), 1u);
}

TEST(WireSchema, UnionAndEnumValues) {
    EXPECT_EQ(vemla_ipc::Content_NONE, 0);
    EXPECT_EQ(vemla_ipc::Content_SimpleRequestData, 1);
    EXPECT_EQ(vemla_ipc::Content_SimpleReplyData, 2);
    EXPECT_EQ(vemla_ipc::Content_ReadBlockData, 3);
    EXPECT_EQ(vemla_ipc::Content_ConfigListData, 4);
    EXPECT_EQ(vemla_ipc::Content_ServerStats, 5);
    EXPECT_EQ(vemla_ipc::EventData_MoveTraceData, 1);
    EXPECT_EQ(vemla_ipc::EventData_RunLengthData, 2);
    static_assert(std::is_same_v<std::underlying_type_t<vemla_ipc::Content>, uint8_t>);
    static_assert(std::is_same_v<std::underlying_type_t<vemla_ipc::EventData>, uint8_t>);
    static_assert(std::is_same_v<std::underlying_type_t<vemla_ipc::SimpleRequestType>, int32_t>);
    static_assert(std::is_same_v<std::underlying_type_t<vemla_ipc::SimpleReplyType>, int32_t>);
    static_assert(std::is_same_v<std::underlying_type_t<vemla_ipc::ReadBlockType>, int32_t>);
    EXPECT_EQ(vemla_ipc::SimpleRequestType_QUERY, 14);
    EXPECT_EQ(vemla_ipc::SimpleReplyType_REQUEST_FAILED, 17);
    EXPECT_EQ(vemla_ipc::ReadBlockType_RETURN_NEXT_CALLED_BLOCK, 3);
    EXPECT_STREQ(vemla_ipc::MessageDataIdentifier(), "0011");
}

TEST(WireSchema, MessageData) {
    FlatBufferBuilder b;
    const auto client_id = b.CreateString("client-id");
    const auto content = vemla_ipc::CreateServerStats(b, 0x0102030405060708ull);
    const vemla_ipc::ProtocolVersion version{11, 2, 3};
    vemla_ipc::MessageDataBuilder m(b);
    m.add_version(&version);
    m.add_client_id(client_id);
    m.add_content_type(vemla_ipc::Content_ServerStats);
    m.add_content(content.Union());
    const auto* root = finish_as_root(b, m.Finish());
    SlotAudit audit(root, 4);
    const auto* v = audit.structure(0);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(flatbuffers::ReadScalar<uint32_t>(v + 0), 11u);
    EXPECT_EQ(flatbuffers::ReadScalar<uint32_t>(v + 4), 2u);
    EXPECT_EQ(flatbuffers::ReadScalar<uint32_t>(v + 8), 3u);
    audit.string(1, "client-id").scalar<uint8_t>(2, 5);
    const auto* stats = audit.sub_table(3);
    ASSERT_NE(stats, nullptr);
    EXPECT_EQ(stats->GetField<uint64_t>(slot_offset(0), 0), 0x0102030405060708ull);
}

TEST(WireSchema, SimpleRequestAndReplyData) {
    {
        FlatBufferBuilder b;
        const auto text = b.CreateString("request text");
        vemla_ipc::SimpleRequestDataBuilder t(b);
        t.add_type(vemla_ipc::SimpleRequestType_GET_LAMP_KITS);
        t.add_value(0xDEADBEEF);
        t.add_text(text);
        SlotAudit(finish_as_root(b, t.Finish()), 3)
                .scalar<int32_t>(0, 12)
                .scalar<uint32_t>(1, 0xDEADBEEF)
                .string(2, "request text");
    }
    {
        FlatBufferBuilder b;
        const auto text = b.CreateString("reply text");
        vemla_ipc::SimpleReplyDataBuilder t(b);
        t.add_type(vemla_ipc::SimpleReplyType_LOADING);
        t.add_value(0xCAFEF00D);
        t.add_text(text);
        SlotAudit(finish_as_root(b, t.Finish()), 3)
                .scalar<int32_t>(0, 15)
                .scalar<uint32_t>(1, 0xCAFEF00D)
                .string(2, "reply text");
    }
}

TEST(WireSchema, ReadBlockData) {
    EXPECT_FIELD_TYPE(ReadBlockData, start_time, uint64_t);
    FlatBufferBuilder b;
    const auto read_id = b.CreateString("read-id");
    const auto raw = b.CreateVector(std::vector<int16_t>{-3, 7, 32000});
    const auto called = as<vemla_ipc::CalledBlockData>(marker_table(b, 901));
    const auto scaling = vemla_ipc::CreateScalingOverrideData(b, 2.5f, 0.75f);
    const auto strand_id = b.CreateString("strand-id");
    vemla_ipc::ReadBlockDataBuilder t(b);
    t.add_type(vemla_ipc::ReadBlockType_RETURN_FIRST_CALLED_BLOCK);
    t.add_read_tag(0x11110001);
    t.add_block_index(0x22220002);
    t.add_num_blocks(0x33330003);
    t.add_duration(0x44440004);
    t.add_daq_offset(1.25f);
    t.add_daq_scaling(-0.5f);
    t.add_read_id(read_id);
    t.add_raw_data(raw);
    t.add_called_data(called);
    t.add_scaling_override(scaling);
    t.add_sub_tag(0x55550005);
    t.add_strand_id(strand_id);
    t.add_start_time(0x0A0B0C0D01020304ull);
    SlotAudit audit(finish_as_root(b, t.Finish()), 14);
    audit.scalar<int32_t>(0, 2)
            .scalar<uint32_t>(1, 0x11110001)
            .scalar<uint32_t>(2, 0x22220002)
            .scalar<uint32_t>(3, 0x33330003)
            .scalar<uint32_t>(4, 0x44440004)
            .scalar<float>(5, 1.25f)
            .scalar<float>(6, -0.5f)
            .string(7, "read-id")
            .vector<int16_t>(8, {-3, 7, 32000})
            .table(9, 901)
            .string(12, "strand-id")
            .scalar<uint32_t>(11, 0x55550005)
            .scalar<uint64_t>(13, 0x0A0B0C0D01020304ull);
    const auto* override_table = audit.sub_table(10);
    ASSERT_NE(override_table, nullptr);
    SlotAudit(override_table, 2).scalar<float>(0, 2.5f).scalar<float>(1, 0.75f);
}

TEST(WireSchema, ConfigListAndEntries) {
    FlatBufferBuilder b;
    const auto config_name = b.CreateString("cfg_name");
    const auto model_type = b.CreateString("model_type");
    const auto model_version = b.CreateString("model_version");
    vemla_ipc::BasecallConfigDataBuilder config(b);
    config.add_qscore_offset(0.5f);
    config.add_qscore_scale(1.5f);
    config.add_temp_weight(2.5f);
    config.add_temp_bias(3.5f);
    config.add_model_stride(0x00050005);
    config.add_label_length(0x00060006);
    config.add_name(config_name);
    config.add_model_type(model_type);
    config.add_model_version_id(model_version);
    const auto config_offset = config.Finish();

    const auto index_name = b.CreateString("index.mmi");
    const auto header = b.CreateString("@SQ\tSN:x\tLN:9");
    const auto index = vemla_ipc::CreateAlignmentIndexData(b, index_name, header);

    const auto kit_name = b.CreateString("KIT-1");
    const auto format = b.CreateString("barcode%02i");
    vemla_ipc::BarcodeKitDefinitionBuilder kit(b);
    kit.add_kit_name(kit_name);
    kit.add_is_dual(true);
    kit.add_is_both_ends(true);
    kit.add_add_a_to_barcode_12(true);
    kit.add_first_index(0x01000001);
    kit.add_last_index(0x02000002);
    kit.add_first_inner_index(0x03000003);
    kit.add_last_inner_index(0x04000004);
    kit.add_barcode_name_format(format);
    const auto kit_offset = kit.Finish();

    const auto lamp_name = b.CreateString("LAMP-1");
    const auto lamp_format = b.CreateString("FIP%02i");
    const auto targets = b.CreateVectorOfStrings({"t1", "t2"});
    vemla_ipc::LampKitDefinitionBuilder lamp(b);
    lamp.add_kit_name(lamp_name);
    lamp.add_first_index(0x0A00000A);
    lamp.add_last_index(0x0B00000B);
    lamp.add_barcode_name_format(lamp_format);
    lamp.add_targets(targets);
    const auto lamp_offset = lamp.Finish();

    const auto configs = b.CreateVector(std::vector<std::decay_t<decltype(config_offset)>>{config_offset});
    const auto indices = b.CreateVector(std::vector<std::decay_t<decltype(index)>>{index});
    const auto kits = b.CreateVector(std::vector<std::decay_t<decltype(kit_offset)>>{kit_offset});
    const auto lamps = b.CreateVector(std::vector<std::decay_t<decltype(lamp_offset)>>{lamp_offset});
    vemla_ipc::ConfigListDataBuilder list(b);
    list.add_configs(configs);
    list.add_indices(indices);
    list.add_barcode_kits(kits);
    list.add_lamp_kits(lamps);
    const auto* root = finish_as_root(b, list.Finish());

    SlotAudit audit(root, 5);
    auto first_of = [&](int slot) {
        const auto* entries = audit.vector_at<Offset<Table>>(slot);
        EXPECT_TRUE(entries != nullptr && entries->size() == 1) << "slot " << slot;
        return entries != nullptr && entries->size() == 1 ? entries->Get(0) : nullptr;
    };
    const Table* config_table = first_of(0);
    const Table* index_table = first_of(1);
    const Table* kit_table = first_of(3);
    const Table* lamp_table = first_of(4);
    ASSERT_TRUE(config_table && index_table && kit_table && lamp_table);

    // Slots 8 and 9 belong to the server and stay unwritten.
    SlotAudit(config_table, 11)
            .scalar<float>(0, 0.5f)
            .scalar<float>(1, 1.5f)
            .scalar<float>(2, 2.5f)
            .scalar<float>(3, 3.5f)
            .scalar<uint32_t>(4, 0x00050005)
            .scalar<uint32_t>(5, 0x00060006)
            .string(6, "cfg_name")
            .string(7, "model_type")
            .string(10, "model_version");
    SlotAudit(index_table, 2).string(0, "index.mmi").string(1, "@SQ\tSN:x\tLN:9");
    SlotAudit(kit_table, 9)
            .string(0, "KIT-1")
            .scalar<uint8_t>(1, 1)
            .scalar<uint8_t>(2, 1)
            .scalar<uint8_t>(3, 1)
            .scalar<uint32_t>(4, 0x01000001)
            .scalar<uint32_t>(5, 0x02000002)
            .scalar<uint32_t>(6, 0x03000003)
            .scalar<uint32_t>(7, 0x04000004)
            .string(8, "barcode%02i");
    SlotAudit(lamp_table, 5)
            .string(0, "LAMP-1")
            .scalar<uint32_t>(1, 0x0A00000A)
            .scalar<uint32_t>(2, 0x0B00000B)
            .string(3, "FIP%02i")
            .strings(4, {"t1", "t2"});
    EXPECT_FIELD_TYPE(BarcodeKitDefinition, is_dual, bool);
    EXPECT_FIELD_TYPE(BarcodeKitDefinition, is_both_ends, bool);
    EXPECT_FIELD_TYPE(BarcodeKitDefinition, add_a_to_barcode_12, bool);
}

TEST(WireSchema, ServerStats) {
    FlatBufferBuilder b;
    const auto clients = b.CreateVector(std::vector<Offset<vemla_ipc::ClientStatsData>>{
            vemla_ipc::CreateClientStatsData(b, 0x0F00000F, 0x0E00000E),
            vemla_ipc::CreateClientStatsData(b, 0x0D00000D, 0x0C00000C)});
    vemla_ipc::ServerStatsBuilder t(b);
    t.add_lifetime_reads_in(0x0100000000000001ull);
    t.add_lifetime_reads_out(0x0200000000000002ull);
    t.add_period_reads_in(0x0300000000000003ull);
    t.add_period_reads_out(0x0400000000000004ull);
    t.add_clients(clients);
    const auto* root = finish_as_root(b, t.Finish());
    SlotAudit(root, 5)
            .scalar<uint64_t>(0, 0x0100000000000001ull)
            .scalar<uint64_t>(1, 0x0200000000000002ull)
            .scalar<uint64_t>(2, 0x0300000000000003ull)
            .scalar<uint64_t>(3, 0x0400000000000004ull)
            .tables(4, {0x0F00000F, 0x0D00000D});
    const auto* clients_vector = root->GetPointer<const flatbuffers::Vector<Offset<Table>>*>(slot_offset(4));
    SlotAudit(clients_vector->Get(1), 2).scalar<uint32_t>(0, 0x0D00000D).scalar<uint32_t>(1, 0x0C00000C);
}

TEST(WireSchema, CalledBlockData) {
    EXPECT_FIELD_TYPE(CalledBlockData, state_data, const flatbuffers::Vector<float>*);
    FlatBufferBuilder b;
    const auto sequence = b.CreateString("ACGT");
    const auto qstring = b.CreateString("!!#$");
    const auto basecall_type = b.CreateString("rna");
    const auto scaling = as<vemla_ipc::ScalingResultData>(marker_table(b, 0));
    const auto events = as<vemla_ipc::MoveTraceData>(marker_table(b, 0));
    const auto base_mods = as<vemla_ipc::BaseModData>(marker_table(b, 0));
    const auto state = b.CreateVector(std::vector<float>{0.25f, 0.5f});
    const auto barcoding = as<vemla_ipc::BarcodingResultData>(marker_table(b, 0));
    const auto alignments = b.CreateVector(
            std::vector<Offset<vemla_ipc::AlignmentRowData>>{as<vemla_ipc::AlignmentRowData>(marker_table(b, 0))});
    const auto model_version = b.CreateString("model-v");
    vemla_ipc::CalledBlockDataBuilder t(b);
    t.add_total_positions(0x10000000);
    t.add_block_positions(0x10000001);
    t.add_sequence_length(0x10000002);
    t.add_state_size(0x10000003);
    t.add_call_score(4.5f);
    t.add_mean_qscore(5.5f);
    t.add_stay_prob(6.5f);
    t.add_step_prob(7.5f);
    t.add_skip_prob(8.5f);
    t.add_median(9.5f);
    t.add_med_abs_dev(10.5f);
    t.add_label_length(0x1000000B);
    t.add_model_stride(0x1000000C);
    t.add_trimmed_samples(0x1000000D);
    t.add_sequence(sequence);
    t.add_qstring(qstring);
    t.add_basecall_type(basecall_type);
    t.add_scaling(scaling);
    t.add_event_data_type(vemla_ipc::EventData_RunLengthData);
    t.add_event_data(events.Union());
    t.add_base_mods(base_mods);
    t.add_state_data(state);
    t.add_barcoding(barcoding);
    t.add_alignments(alignments);
    t.add_model_version_id(model_version);
    const auto* root = finish_as_root(b, t.Finish());
    SlotAudit(root, 25)
            .scalar<uint32_t>(0, 0x10000000)
            .scalar<uint32_t>(1, 0x10000001)
            .scalar<uint32_t>(2, 0x10000002)
            .scalar<uint32_t>(3, 0x10000003)
            .scalar<float>(4, 4.5f)
            .scalar<float>(5, 5.5f)
            .scalar<float>(6, 6.5f)
            .scalar<float>(7, 7.5f)
            .scalar<float>(8, 8.5f)
            .scalar<float>(9, 9.5f)
            .scalar<float>(10, 10.5f)
            .scalar<uint32_t>(11, 0x1000000B)
            .scalar<uint32_t>(12, 0x1000000C)
            .scalar<uint32_t>(13, 0x1000000D)
            .string(14, "ACGT")
            .string(15, "!!#$")
            .string(16, "rna")
            .table(17, 0)
            .scalar<uint8_t>(18, 2)
            .table(19, 0)
            .table(20, 0)
            .vector<float>(21, {0.25f, 0.5f})
            .table(22, 0)
            .tables(23, {0})
            .string(24, "model-v");
}

TEST(WireSchema, EventData) {
    {
        FlatBufferBuilder b;
        const auto moves = b.CreateVector(std::vector<uint8_t>{1, 0, 1});
        const std::vector<vemla_ipc::TraceRow> rows{{1, 2, 3, 4, 5, 6, 7, 8}, {9, 10, 11, 12, 13, 14, 15, 16}};
        const auto trace = b.CreateVectorOfStructs(rows);
        const auto* root = finish_as_root(b, vemla_ipc::CreateMoveTraceData(b, moves, trace));
        SlotAudit audit(root, 2);
        audit.vector<uint8_t>(0, {1, 0, 1});
        // The trace is a vector of 8-byte rows: read as its raw bytes.
        const auto* raw_rows = audit.vector_at<uint8_t>(1);
        ASSERT_NE(raw_rows, nullptr);
        ASSERT_EQ(raw_rows->size(), 2u);  // element count, not bytes
        for (uint8_t i = 0; i < 16; ++i) {
            EXPECT_EQ(raw_rows->data()[i], i + 1);
        }
    }
    {
        FlatBufferBuilder b;
        const auto bases = b.CreateVector(std::vector<uint8_t>{'A', 'C'});
        const auto scale = b.CreateVector(std::vector<float>{1.0f, 2.0f});
        const auto shape = b.CreateVector(std::vector<float>{3.0f, 4.0f});
        const auto weight = b.CreateVector(std::vector<float>{5.0f, 6.0f});
        const auto index = b.CreateVector(std::vector<uint32_t>{70000, 80000});
        const auto runlength = b.CreateVector(std::vector<uint32_t>{90000, 100000});
        vemla_ipc::RunLengthDataBuilder t(b);
        t.add_rle_count(0x20000002);
        t.add_rle_base(bases);
        t.add_rle_scale(scale);
        t.add_rle_shape(shape);
        t.add_rle_weight(weight);
        t.add_rle_index(index);
        t.add_rle_runlength(runlength);
        SlotAudit(finish_as_root(b, t.Finish()), 7)
                .scalar<uint32_t>(0, 0x20000002)
                .vector<uint8_t>(1, {'A', 'C'})
                .vector<float>(2, {1.0f, 2.0f})
                .vector<float>(3, {3.0f, 4.0f})
                .vector<float>(4, {5.0f, 6.0f})
                .vector<uint32_t>(5, {70000, 80000})
                .vector<uint32_t>(6, {90000, 100000});
    }
}

TEST(WireSchema, ScalingAndBaseMods) {
    EXPECT_FIELD_TYPE(ScalingResultData, pt_detect_success, bool);
    {
        FlatBufferBuilder b;
        vemla_ipc::ScalingResultDataBuilder t(b);
        t.add_scaling_median(0.125f);
        t.add_scaling_med_abs_dev(0.25f);
        t.add_pt_median(0.375f);
        t.add_ptsd(0.5f);
        t.add_adapter_max(0.625f);
        t.add_pt_detect_success(true);
        SlotAudit(finish_as_root(b, t.Finish()), 6)
                .scalar<float>(0, 0.125f)
                .scalar<float>(1, 0.25f)
                .scalar<float>(2, 0.375f)
                .scalar<float>(3, 0.5f)
                .scalar<float>(4, 0.625f)
                .scalar<uint8_t>(5, 1);
    }
    {
        FlatBufferBuilder b;
        const auto alphabet = b.CreateString("AC");
        const auto names = b.CreateString("6mA 5mC");
        const auto context = b.CreateString("A C");
        const auto probs = b.CreateVector(std::vector<uint8_t>{200, 100, 50});
        SlotAudit(finish_as_root(b, vemla_ipc::CreateBaseModData(b, alphabet, names, context, probs)), 4)
                .string(0, "AC")
                .string(1, "6mA 5mC")
                .string(2, "A C")
                .vector<uint8_t>(3, {200, 100, 50});
    }
}

TEST(WireSchema, BarcodingResultAndMatches) {
    FlatBufferBuilder b;
    auto match = [&](const char* prefix, float score, int32_t index) {
        const auto id = b.CreateString(std::string(prefix) + "_id");
        const auto refseq = b.CreateString(std::string(prefix) + "_ref");
        const auto found = b.CreateString(std::string(prefix) + "_found");
        return vemla_ipc::CreateSequenceMatchData(b, id, refseq, found, score, index);
    };
    auto mid = [&](const char* prefix, float score, int32_t end) {
        const auto id = b.CreateString(std::string(prefix) + "_id");
        return vemla_ipc::CreateMidMatchData(b, id, score, end);
    };
    const auto full = b.CreateString("full");
    const auto arrangement = b.CreateString("arr");
    const auto kit = b.CreateString("kit");
    const auto variant = b.CreateString("var");
    const auto front = match("bf", 7.25f, -70000);
    const auto rear = match("br", 8.25f, 80000);
    const auto mid_front = mid("bmf", 9.25f, 90000);
    const auto mid_rear = mid("bmr", 10.25f, 100000);
    const auto front_inner = b.CreateString("front_inner");
    const auto rear_inner = b.CreateString("rear_inner");
    const auto lamp_barcode = b.CreateString("lamp_bc");
    const auto lamp_target = b.CreateString("lamp_tg");
    const auto lamp = vemla_ipc::CreateLampResultData(b, lamp_barcode, 15.5f, lamp_target, 16.5f);
    const auto adapter_front = match("af", 16.25f, 160000);
    const auto adapter_rear = match("ar", 17.25f, 170000);
    const auto adapter_mid = mid("am", 18.25f, 180000);
    const auto primer_front = match("pf", 19.25f, 190000);
    const auto primer_rear = match("pr", 20.25f, 200000);
    vemla_ipc::BarcodingResultDataBuilder t(b);
    t.add_trim_front(-100001);
    t.add_trim_rear(100002);
    t.add_barcode_full_arrangement(full);
    t.add_barcode_arrangement(arrangement);
    t.add_barcode_kit(kit);
    t.add_barcode_variant(variant);
    t.add_barcode_score(6.75f);
    t.add_barcode_front(front);
    t.add_barcode_rear(rear);
    t.add_barcode_mid_front(mid_front);
    t.add_barcode_mid_rear(mid_rear);
    t.add_barcode_front_id_inner(front_inner);
    t.add_barcode_front_score_inner(12.75f);
    t.add_barcode_rear_id_inner(rear_inner);
    t.add_barcode_rear_score_inner(14.75f);
    t.add_lamp(lamp);
    t.add_adapter_front(adapter_front);
    t.add_adapter_rear(adapter_rear);
    t.add_adapter_mid(adapter_mid);
    t.add_primer_front(primer_front);
    t.add_primer_rear(primer_rear);
    const auto* root = finish_as_root(b, t.Finish());

    SlotAudit audit(root, 21);
    audit.scalar<int32_t>(0, -100001)
            .scalar<int32_t>(1, 100002)
            .string(2, "full")
            .string(3, "arr")
            .string(4, "kit")
            .string(5, "var")
            .scalar<float>(6, 6.75f)
            .string(11, "front_inner")
            .scalar<float>(12, 12.75f)
            .string(13, "rear_inner")
            .scalar<float>(14, 14.75f);
    struct Expected {
        int slot;
        const char* prefix;
        float score;
        int32_t index;
    };
    for (const Expected& e : std::vector<Expected>{{7, "bf", 7.25f, -70000},
                                                   {8, "br", 8.25f, 80000},
                                                   {16, "af", 16.25f, 160000},
                                                   {17, "ar", 17.25f, 170000},
                                                   {19, "pf", 19.25f, 190000},
                                                   {20, "pr", 20.25f, 200000}}) {
        const auto* sub = audit.sub_table(e.slot);
        ASSERT_NE(sub, nullptr) << e.slot;
        SlotAudit(sub, 5)
                .string(0, std::string(e.prefix) + "_id")
                .string(1, std::string(e.prefix) + "_ref")
                .string(2, std::string(e.prefix) + "_found")
                .scalar<float>(3, e.score)
                .scalar<int32_t>(4, e.index);
    }
    for (const Expected& e :
         std::vector<Expected>{{9, "bmf", 9.25f, 90000}, {10, "bmr", 10.25f, 100000}, {18, "am", 18.25f, 180000}}) {
        const auto* sub = audit.sub_table(e.slot);
        ASSERT_NE(sub, nullptr) << e.slot;
        SlotAudit(sub, 3)
                .string(0, std::string(e.prefix) + "_id")
                .scalar<float>(1, e.score)
                .scalar<int32_t>(2, e.index);
    }
    const auto* lamp_table = audit.sub_table(15);
    ASSERT_NE(lamp_table, nullptr);
    SlotAudit(lamp_table, 4).string(0, "lamp_bc").scalar<float>(1, 15.5f).string(2, "lamp_tg").scalar<float>(3, 16.5f);
}

TEST(WireSchema, AlignmentRowData) {
    EXPECT_FIELD_TYPE(AlignmentRowData, Direction, int8_t);
    EXPECT_FIELD_TYPE(AlignmentRowData, IsSecondary, bool);
    EXPECT_FIELD_TYPE(AlignmentRowData, IsSupplementary, bool);
    FlatBufferBuilder b;
    const auto genome = b.CreateString("chr1");
    const auto sam = b.CreateString("read\t0\tchr1");
    const auto bed = b.CreateString("chr1\t1\t2");
    vemla_ipc::AlignmentRowDataBuilder t(b);
    t.add_Genome(genome);
    t.add_GenomeStart(0x01000001);
    t.add_GenomeEnd(0x02000002);
    t.add_StrandStart(0x03000003);
    t.add_StrandEnd(0x04000004);
    t.add_NumEvents(0x05000005);
    t.add_NumInsertions(0x06000006);
    t.add_NumDeletions(0x07000007);
    t.add_NumAligned(0x08000008);
    t.add_NumCorrect(0x09000009);
    t.add_Coverage(0.875f);
    t.add_Identity(0.9375f);
    t.add_Accuracy(0.96875f);
    t.add_StrandScore(-0x0D00000D);
    t.add_sam_record(sam);
    t.add_BedHits(0x0F00000F);
    t.add_bed_lines(bed);
    t.add_Direction(-1);
    t.add_MappingQuality(0x12000012);
    t.add_IsSecondary(true);
    t.add_IsSupplementary(true);
    SlotAudit(finish_as_root(b, t.Finish()), 21)
            .string(0, "chr1")
            .scalar<int32_t>(1, 0x01000001)
            .scalar<int32_t>(2, 0x02000002)
            .scalar<int32_t>(3, 0x03000003)
            .scalar<int32_t>(4, 0x04000004)
            .scalar<int32_t>(5, 0x05000005)
            .scalar<int32_t>(6, 0x06000006)
            .scalar<int32_t>(7, 0x07000007)
            .scalar<int32_t>(8, 0x08000008)
            .scalar<int32_t>(9, 0x09000009)
            .scalar<float>(10, 0.875f)
            .scalar<float>(11, 0.9375f)
            .scalar<float>(12, 0.96875f)
            .scalar<int32_t>(13, -0x0D00000D)
            .string(14, "read\t0\tchr1")
            .scalar<int32_t>(15, 0x0F00000F)
            .string(16, "chr1\t1\t2")
            .scalar<int8_t>(17, -1)
            .scalar<int32_t>(18, 0x12000012)
            .scalar<uint8_t>(19, 1)
            .scalar<uint8_t>(20, 1);
}
