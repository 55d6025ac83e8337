// GuardHostCall: the boundary of every entry point the host calls. No exception crosses into the
// host; a failure inside becomes the call's failure value.
#pragma once

#include <utility>

namespace norvane {

template <class Result, class Body>
Result GuardHostCall(Result onFailure, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return onFailure;
    }
}

template <class Body>
void GuardHostCall(Body&& body) noexcept {
    try {
        std::forward<Body>(body)();
    } catch (...) {
    }
}

} // namespace norvane
