#pragma once

#include <stdexcept>

namespace ipc_tools {

/// No reply in time, or the server no longer knows this client.
class TimeoutError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The server answered BAD_REQUEST.
class BadRequest : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The reply could not be read as a message of this protocol.
class BadReply : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// A valid reply, but not the one the request calls for.
class InvalidResponse : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace ipc_tools
