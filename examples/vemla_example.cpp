// Streams reads through the client library. Until the client exists this
// shows the read data model the library hands back.
#include "common/timestamps.h"

#include <iostream>

int main() {
    common::diagnostics::timings::Timestamps stamps;
    stamps.create_timestamp();
    std::cout << "vemla example: " << stamps.get_timestamps().size() << " timestamp recorded\n";
    return 0;
}
