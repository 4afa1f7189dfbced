#include "vemla/server_information.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <stdexcept>

namespace vemla {
namespace server_query {

std::string server_information_from_state(const std::string& state) {
    rapidjson::Document document;
    document.Parse(state.c_str(), state.size());
    if (document.HasParseError() || !document.IsObject() || !document.HasMember("ServerInformation")) {
        throw std::runtime_error("ServerInformation field not found in internal state json.");
    }
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    document["ServerInformation"].Accept(writer);
    return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace server_query
}  // namespace vemla
