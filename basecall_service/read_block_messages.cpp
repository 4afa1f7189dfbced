#include "basecall_service/read_block_messages.h"

#include <limits>
#include <stdexcept>

namespace basecall_service {

namespace {

// Room the builder needs besides the samples and the three texts: tables,
// vtables, scalars and padding.
constexpr uint64_t BLOCK_OVERHEAD_BYTES = 236;

template <typename T>
T metadata_or(const bass::data_wrappers::Metadata& metadata, const std::string& key, T fallback) {
    T* value = nullptr;
    return metadata.extract(key, value) && value ? *value : fallback;
}

uint64_t samples_per_block(uint64_t block_size, uint64_t stride) {
    uint64_t samples = 0;
    return __builtin_mul_overflow(block_size, stride, &samples) ? std::numeric_limits<uint64_t>::max() : samples;
}

}  // namespace

bool read_is_too_short_to_send(const interfaces::ReadHolder& read) {
    const uint64_t duration = read.m_metadata.get<read_data::duration>();
    const uint64_t stride = read.m_metadata.get<basecall_data::model_stride>();
    uint64_t minimum = 0;
    return __builtin_mul_overflow(stride, MIN_STRIDES_TO_SEND, &minimum) || duration < minimum;
}

flatbuffers::Offset<vemla_ipc::ScalingOverrideData> AppendScalingOverride(flatbuffers::FlatBufferBuilder& builder,
                                                                          const interfaces::ReadHolder& read) {
    const auto& metadata = read.m_metadata;
    if (!metadata_or<bool>(metadata, "scaling_override", false)) {
        return 0;
    }
    return vemla_ipc::CreateScalingOverrideData(builder, metadata_or<float>(metadata, "scaling_override_median", 0.0f),
                                                metadata_or<float>(metadata, "scaling_override_med_abs_dev", 0.0f));
}

std::vector<ipc_tools::Message> build_read_block_messages(const interfaces::ReadHolder& read,
                                                          uint64_t block_size,
                                                          const std::string& connection_id) {
    const auto& metadata = read.m_metadata;
    const uint64_t duration = metadata.get<read_data::duration>();
    const uint64_t stride = metadata.get<basecall_data::model_stride>();
    const std::string& read_id = metadata.get<read_data::read_id>();
    const std::string& strand_id = metadata.get<read_data::strand_id>();
    const float daq_offset = metadata.get<read_data::daq_offset>();
    const float daq_scaling = metadata.get<read_data::daq_scaling>();
    const uint64_t start_time = metadata_or<uint64_t>(metadata, "start_time", 0);

    const auto raw = read.m_datasets.find(dataset::raw_data);
    if (raw == read.m_datasets.end()) {
        throw std::out_of_range("map::at:  key not found");
    }
    const auto samples = raw->second.vec_view<int16_t>();
    if (stride == 0 || block_size == 0) {
        throw std::invalid_argument("Cannot cut a read into blocks with a model stride of " + std::to_string(stride) +
                                    " and a block size of " + std::to_string(block_size) + ".");
    }
    // The server is told the duration; the samples sent are the read's own,
    // so a duration beyond them is refused rather than read past their end.
    if (duration > samples.size) {
        throw std::invalid_argument("Read duration of " + std::to_string(duration) + " samples exceeds its " +
                                    std::to_string(samples.size) + " raw samples.");
    }
    if (duration > std::numeric_limits<uint32_t>::max()) {
        throw std::invalid_argument("Read duration of " + std::to_string(duration) +
                                    " samples does not fit the 32 bits a block carries.");
    }

    const uint64_t block_samples = samples_per_block(block_size, stride);
    const uint64_t num_blocks = duration / block_samples + (duration % block_samples != 0 ? 1 : 0);
    const uint64_t text_bytes = read_id.size() + strand_id.size() + connection_id.size();

    std::vector<ipc_tools::Message> messages;
    messages.reserve(num_blocks);
    uint64_t offset = 0;
    for (uint64_t k = 0; k < num_blocks; ++k) {
        const uint64_t n = std::min(block_samples, duration - offset);
        flatbuffers::FlatBufferBuilder builder(2 * n + BLOCK_OVERHEAD_BYTES + text_bytes);
        const auto raw_data = builder.CreateVector(samples.data + offset, n);
        const auto scaling = AppendScalingOverride(builder, read);
        const auto read_id_text = builder.CreateString(read_id);
        const auto strand_id_text = builder.CreateString(strand_id);

        vemla_ipc::ReadBlockDataBuilder block(builder);
        block.add_type(k == 0 ? vemla_ipc::ReadBlockType_PASS_FIRST_RAW_BLOCK
                              : vemla_ipc::ReadBlockType_PASS_NEXT_RAW_BLOCK);
        block.add_read_tag(static_cast<uint32_t>(read.m_read_tag));
        block.add_block_index(static_cast<uint32_t>(k));
        block.add_num_blocks(static_cast<uint32_t>(num_blocks));
        block.add_duration(static_cast<uint32_t>(duration));
        block.add_daq_offset(daq_offset);
        block.add_daq_scaling(daq_scaling);
        block.add_read_id(read_id_text);
        block.add_raw_data(raw_data);
        if (!scaling.IsNull()) {
            block.add_scaling_override(scaling);
        }
        block.add_sub_tag(static_cast<uint32_t>(read.m_sub_tag));
        block.add_strand_id(strand_id_text);
        block.add_start_time(start_time);
        const auto content = block.Finish();

        const auto client_id = connection_id.empty() ? flatbuffers::Offset<flatbuffers::String>()
                                                     : builder.CreateString(connection_id);
        const auto root = vemla_ipc::CreateMessageData(builder, &ipc_tools::current_version(), client_id,
                                                       vemla_ipc::Content_ReadBlockData, content.Union());
        vemla_ipc::FinishMessageDataBuffer(builder, root);
        messages.emplace_back(builder);
        offset += n;
    }
    return messages;
}

}  // namespace basecall_service
