// Interfaces of the capability query: the host's callback and its results object with the items
// the results object hands out. All are the host's; the driver calls them on the query thread,
// uses returned items at once and never keeps or releases them.
#pragma once

#include "norvane/abi.h"

namespace norvane {

// Told once per query whether it succeeded.
class ICapabilityCallback {
    NORVANE_SLOT0(ICapabilityCallback)

    virtual void Reserved1() {}

    virtual void OnSucceeded() = 0;                               // slot 2
    virtual void OnFailed(int32_t code, const char* message) = 0; // slot 3
};

// One connection field of the results (address, port, user name, password).
class ICapabilityField {
    NORVANE_SLOT0(ICapabilityField)
    virtual void SetText(const char* text) = 0; // slot 1
};

// One named property of the results.
class ICapabilityProperty {
    NORVANE_SLOT0(ICapabilityProperty)
    virtual void SetText(const char* text) = 0; // slot 1

    virtual void Reserved2() {}

    virtual void Reserved3() {}

    virtual void SetFlag(uint32_t flag) = 0;    // slot 4: 0 or 1
    virtual void SetName(const char* name) = 0; // slot 5
    virtual void SetKind(uint32_t kind) = 0;    // slot 6: always 0
};

// The picture sizes the camera offers.
class IResolutionList {
    NORVANE_SLOT0(IResolutionList)
    // Slot 1: text "WxH", width, height and the shortest frame interval in ms (0 when none).
    virtual void Add(const char* text, uint32_t width, uint32_t height, uint32_t interval) = 0;
};

// The frame intervals the camera offers, in milliseconds.
class IFrameIntervalList {
    NORVANE_SLOT0(IFrameIntervalList)
    virtual void SetDefault(uint32_t interval) = 0; // slot 1
    virtual void Add(uint32_t interval) = 0;        // slot 2
};

// Capability value (ICapabilityResults::SetValue) sent with 1 when the camera says it can stream
// H.265 on its main stream (stream type kStreamTypeH265); never sent for other cameras.
constexpr uint32_t kCapabilityH265 = 13;

// The host's results object of one capability query.
class ICapabilityResults {
    NORVANE_SLOT0(ICapabilityResults)
    virtual void SetValue(uint32_t id, uint32_t value) = 0;           // slot 1
    virtual void SetModelName(const char* name) = 0;                  // slot 2
    virtual ICapabilityField* GetConnectionField(uint32_t index) = 0; // slot 3: 1 to 4

    virtual void Reserved4() {}

    virtual ICapabilityProperty* GetProperty(uint32_t index) = 0; // slot 5: 1 to 3
    virtual IResolutionList* GetResolutionList() = 0;             // slot 6

    virtual void Reserved7() {}

    virtual IFrameIntervalList* GetFrameIntervalList(uint32_t list) = 0; // slot 8: always 1
};

} // namespace norvane
