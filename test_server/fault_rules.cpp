#include "test_server/fault_rules.h"

#include "test_server/wire_codec.h"

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>

#include <array>

namespace test_server {

namespace {

constexpr std::array<const char*, 17> fault_names = {
        "drop_reply",        "delay_reply",
        "short_frame",       "foreign_identifier",
        "corrupt_body",      "bad_request",
        "not_ready",         "forget_clients",
        "lose_reads",        "inconsistent_called_data",
        "die_and_return",    "reply_with",
        "report_lost_reads", "absent_optional_vectors",
        "empty_extra_block", "late_return",
        "claim_many_blocks",
};

bool parse_number(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    value = static_cast<uint32_t>(std::stoul(text));
    return true;
}

}  // namespace

const char* fault_name(Fault fault) {
    const auto index = static_cast<size_t>(fault);
    return index < fault_names.size() ? fault_names[index] : "unknown";
}

bool parse_fault_rule(const std::string& text, FaultRule& rule, std::string& error) {
    std::vector<std::string> parts;
    boost::split(parts, text, boost::is_any_of(":"));
    if (parts.size() > 5) {
        error = "too many fields in fault rule '" + text + "'";
        return false;
    }
    FaultRule parsed;
    const auto equals = parts[0].find('=');
    const std::string name = parts[0].substr(0, equals);
    bool known = false;
    for (size_t i = 0; i < fault_names.size(); ++i) {
        if (name == fault_names[i]) {
            parsed.fault = static_cast<Fault>(i);
            known = true;
        }
    }
    if (!known) {
        error = "unknown fault '" + parts[0] + "'";
        return false;
    }
    if ((parsed.fault == Fault::reply_with) != (equals != std::string::npos)) {
        error = "only reply_with takes a reply kind, and it needs one: '" + parts[0] + "'";
        return false;
    }
    if (parsed.fault == Fault::reply_with) {
        parsed.reply = reply_kind_from_name(parts[0].substr(equals + 1));
        if (!parsed.reply) {
            error = "unknown reply kind in '" + parts[0] + "'";
            return false;
        }
    }
    if (parts.size() > 1 && parts[1] != "ANY") {
        parsed.on = request_kind_from_name(parts[1]);
        if (!parsed.on) {
            error = "unknown request '" + parts[1] + "'";
            return false;
        }
    }
    if ((parts.size() > 2 && !parse_number(parts[2], parsed.count)) ||
        (parts.size() > 3 && !parse_number(parts[3], parsed.skip)) ||
        (parts.size() > 4 && !parse_number(parts[4], parsed.delay_ms))) {
        error = "bad number in fault rule '" + text + "'";
        return false;
    }
    rule = parsed;
    return true;
}

void FaultTable::add(const FaultRule& rule) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rules.push_back(rule);
}

void FaultTable::clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rules.clear();
}

size_t FaultTable::size() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_rules.size();
}

std::vector<FaultRule> FaultTable::take(RequestKind kind) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<FaultRule> fired;
    for (auto it = m_rules.begin(); it != m_rules.end();) {
        if (it->on && *it->on != kind) {
            ++it;
            continue;
        }
        if (it->skip > 0) {
            --it->skip;
            ++it;
            continue;
        }
        fired.push_back(*it);
        if (it->count == 1) {
            it = m_rules.erase(it);
            continue;
        }
        if (it->count > 1) {
            --it->count;
        }
        ++it;
    }
    return fired;
}

}  // namespace test_server
