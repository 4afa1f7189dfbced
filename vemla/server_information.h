#pragma once

#include <string>

namespace vemla {
namespace server_query {

// The "ServerInformation" member of a server's internal-state JSON, written
// back as compact JSON. Throws std::runtime_error "ServerInformation field
// not found in internal state json." when the text is not a JSON object
// holding that member.
std::string server_information_from_state(const std::string& state);

}  // namespace server_query
}  // namespace vemla
