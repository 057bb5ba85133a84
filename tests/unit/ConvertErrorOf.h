// The message of the EConvertError a call raises: the runtime's conversion messages are part
// of what the user reads, so tests compare them whole.
#pragma once

#include "SysUtils.h"

#include <functional>

inline QString ConvertErrorOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const EConvertError& e) {
        return e.Message();
    }
    return QStringLiteral("<aucune erreur de conversion>");
}
