// The version numbers VemlaClient publishes.
#include "ipc_tools/ipc_tools.h"
#include "vemla/build_id.h"
#include "vemla/vemla_client.h"

namespace vemla {

VersionTag VemlaClient::get_data_wrappers_version() {
    return VersionTag(1, 1, 0);
}

VersionTag VemlaClient::get_api_version() {
    return VersionTag(6, 0, 1);
}

VersionTag VemlaClient::get_software_version() {
    VersionTag version(6, 2, 11);
    version.text = "6.2.11+" + std::string(build_identifier());
    return version;
}

// The version every wire message carries (11.0.0).
VersionTag VemlaClient::get_protocol_version() {
    const auto& version = ipc_tools::current_version();
    return VersionTag(static_cast<int>(version.major()), static_cast<int>(version.minor()),
                      static_cast<int>(version.patch()));
}

}  // namespace vemla
