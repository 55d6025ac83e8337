// Owning pointers to objects that are deleted through slot 0 of a host-facing interface.
#pragma once

#include <memory>

#include "norvane/abi.h"

namespace norvane {

struct Slot0Deleter {
    template <class T>
    void operator()(T* object) const {
        DestroyThroughSlot0(object);
    }
};

template <class T>
using Slot0Ptr = std::unique_ptr<T, Slot0Deleter>;

} // namespace norvane
