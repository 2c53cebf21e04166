// The exception every socket class throws (see win_error.h for its message).
#pragma once

#include "red/win_error.h"

class socket_error : public win_error {
public:
    using win_error::win_error;
    const char* source() const noexcept override { return "LSE"; }
};
