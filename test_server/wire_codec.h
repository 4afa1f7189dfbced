#pragma once
// The server side of the wire: reading requests (always verified, since the
// server trusts no peer) and building every reply. Wire values are written
// here from the protocol's tables, not taken from the client's code.
#include "test_server/called_block_plan.h"
#include "test_server/called_read.h"
#include "test_server/raw_read_assembler.h"
#include "test_server/request_kind.h"
#include "test_server/server_settings.h"

#include <flatbuffers/flatbuffers.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace test_server {

// Reply kinds by their wire value in SimpleReplyData.
enum class ReplyKind : int32_t {
    connected = 0,
    disconnected = 1,
    shutting_down = 2,
    invalid_config = 3,
    invalid_barcode_kit = 4,
    client_not_recognised = 5,
    raw_block_accepted = 6,
    not_ready = 7,
    none_pending = 8,
    bad_request = 9,
    invalid_index = 10,
    invalid_bed = 11,
    index_no_seq = 12,
    heartbeat_echo = 13,
    response = 14,
    loading = 15,
    success = 16,
    request_failed = 17,
};

const char* reply_kind_name(ReplyKind kind);
// Inverse of reply_kind_name; nothing for a name that is not a reply kind.
std::optional<ReplyKind> reply_kind_from_name(const std::string& name);

struct DecodedRequest {
    RequestKind kind = RequestKind::unknown;
    std::string version;  // "major.minor.patch"; empty when the request carries none
    std::string client_id;
    uint32_t value = 0;
    std::string text;
    std::optional<RawBlock> block;  // raw block requests only
    std::string error;              // why the request could not be read
};

DecodedRequest decode_request(const uint8_t* data, size_t size);

// The protocol version the server speaks, "11.0.0".
const std::string& protocol_version_text();

using Bytes = std::vector<uint8_t>;

Bytes build_simple_reply(ReplyKind kind, uint32_t value = 0, const std::string& text = {});
Bytes build_config_list(const std::vector<const BasecallConfig*>& configs);
Bytes build_index_list(const std::vector<std::pair<std::string, std::string>>& name_and_header);
Bytes build_barcode_kit_list(const std::vector<BarcodeKit>& kits);
Bytes build_lamp_kit_list(const std::vector<LampKit>& kits);

struct ClientCounts {
    uint32_t reads_in = 0;
    uint32_t reads_out = 0;
};
Bytes build_statistics(uint64_t lifetime_in,
                       uint64_t lifetime_out,
                       uint64_t period_in,
                       uint64_t period_out,
                       const std::vector<ClientCounts>& clients);

// How a called block is written for one request.
struct CalledBlockOptions {
    bool events = true;                                     // bit 0 of GET_FIRST_CALLED_BLOCK clear
    bool state_data = false;                                // bit 1 of GET_FIRST_CALLED_BLOCK set
    bool inconsistent = false;                              // fault: counts above the vectors they describe
    bool absent_vectors = false;                            // fault: no moves, trace, state data or base modifications
    std::optional<uint32_t> claimed_blocks = std::nullopt;  // fault: the block count claimed instead of the plan's
};

// Block `index` of `blocks` (the plan of `call`): RETURN_FIRST_CALLED_BLOCK
// for index 0, RETURN_NEXT_CALLED_BLOCK after.
Bytes build_called_block(const CalledRead& call,
                         const std::vector<CalledBlockSpan>& blocks,
                         uint32_t index,
                         const CalledBlockOptions& options);

}  // namespace test_server
