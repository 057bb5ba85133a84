// Small helpers the test suites share.
#pragma once

#include "SysUtils.h"
#include "fib.h"

#include <QString>

#include <stdexcept>

// Test texts are written in UTF-8, accents included.
inline QString S(const char* text) {
    return QString::fromUtf8(text);
}

// The exception of type E that the action raises; a test that expects one fails when none comes.
template <typename E, typename F> E Raised(F&& action) {
    try {
        action();
    } catch (const E& e) {
        return e;
    }
    throw std::logic_error("expected exception not raised");
}

// The message of the EConvertError a call raises: the runtime's conversion messages are part
// of what the user reads, so tests compare them whole.
template <typename F> QString ConvertErrorOf(F&& call) {
    return Raised<EConvertError>(call).Message();
}

// The EFIBClientError a call raises: the layer's numbered messages are compared whole, and its
// code tells which message was chosen.
template <typename F> EFIBClientError ClientErrorOf(F&& call) {
    return Raised<EFIBClientError>(call);
}
