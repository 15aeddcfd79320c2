#pragma once

#include "link/comport/ComPort.h"

#include <functional>

// The EComPort code an operation raises (and its message), or 0.
inline int raisedCode(const std::function<void()>& operation, QString* message = nullptr) {
    try {
        operation();
    } catch (const EComPort& e) {
        if (message)
            *message = e.Message();
        return e.ErrorCode();
    }
    return 0;
}
