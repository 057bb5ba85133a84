// Small helpers the test suites share.
#pragma once

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
