#pragma once

namespace common {

// Base that forbids copying and moving of the deriving class T.
template <typename T>
class copy_and_move_disabled {
protected:
    copy_and_move_disabled() = default;
    ~copy_and_move_disabled() = default;

public:
    copy_and_move_disabled(const copy_and_move_disabled&) = delete;
    copy_and_move_disabled& operator=(const copy_and_move_disabled&) = delete;
    copy_and_move_disabled(copy_and_move_disabled&&) = delete;
    copy_and_move_disabled& operator=(copy_and_move_disabled&&) = delete;
};

}  // namespace common
