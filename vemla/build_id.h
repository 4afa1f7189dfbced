#pragma once

namespace vemla {

// The source revision the library was built from (generated at build time).
const char* build_identifier();

}  // namespace vemla
