#pragma once
// The faults a client must survive, switched on per request kind. A rule
// lets `skip` matching requests pass, then fires on the next `count` ones
// (0: on every one from then on).
#include "test_server/request_kind.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace test_server {

enum class ReplyKind : int32_t;  // wire_codec.h

enum class Fault {
    drop_reply,                // no reply at all
    delay_reply,               // reply after delay_ms more
    short_frame,               // a 7-byte reply
    foreign_identifier,        // the reply with a file identifier other than "0011"
    corrupt_body,              // the reply with its root offset pointing outside the frame
    bad_request,               // BAD_REQUEST instead of the answer
    not_ready,                 // NOT_READY to a raw block (first or later, by the rule's request)
    forget_clients,            // forget every connection id first, as after a restart
    lose_reads,                // drop the client's finished reads: NONE_PENDING with value 1
    inconsistent_called_data,  // called blocks whose counts exceed their vectors
    die_and_return,            // close the socket unanswered, forget everything, rebind after delay_ms
    reply_with,                // a simple reply of the rule's kind (no text) instead of the answer
    report_lost_reads,         // NONE_PENDING with value 1, yet the reads stay and come back later
    absent_optional_vectors,   // the called block leaves out moves, trace, state data and base modifications
    empty_extra_block,         // the read comes back with one more block at its end: no positions, no bases,
                               // none of the optional vectors
    late_return,               // NONE_PENDING with value 1, yet the reads are kept and come back first once
                               // a read under the same tag reaches the server (others wait until then)
    claim_many_blocks,         // the first called block claims 2^32 - 1 blocks for its read
};

const char* fault_name(Fault fault);

struct FaultRule {
    FaultRule() = default;
    // Brace lists name the fields up to delay_ms; the reply kind, which only
    // reply_with uses, is set by name.
    FaultRule(Fault fault_,
              std::optional<RequestKind> on_,
              uint32_t skip_ = 0,
              uint32_t count_ = 1,
              uint32_t delay_ms_ = 0)
        : fault(fault_), on(on_), skip(skip_), count(count_), delay_ms(delay_ms_) {}

    Fault fault = Fault::drop_reply;
    std::optional<RequestKind> on;  // nothing: any request
    uint32_t skip = 0;
    uint32_t count = 1;
    uint32_t delay_ms = 0;
    std::optional<ReplyKind> reply;  // reply_with only
};

// "fault[:REQUEST|ANY[:count[:skip[:delay_ms]]]]", e.g. "drop_reply:CONNECT:1"
// or "not_ready:PASS_NEXT_RAW_BLOCK"; reply_with names its reply kind as
// "reply_with=INVALID_CONFIG:CONNECT". False with a reason on a bad text.
bool parse_fault_rule(const std::string& text, FaultRule& rule, std::string& error);

// Thread-safe: tests add rules while the server thread consumes them.
class FaultTable {
public:
    void add(const FaultRule& rule);
    void clear();
    // The rules that fire for this request; counts and skips are consumed.
    std::vector<FaultRule> take(RequestKind kind);
    size_t size() const;

private:
    mutable std::mutex m_mutex;
    std::vector<FaultRule> m_rules;
};

}  // namespace test_server
