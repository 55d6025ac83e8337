// CIPVideoCapture: the host's table of channel slots, one per video input of the device, through
// which it opens, closes, reconfigures and queries camera channels. The driver creates it at the
// end of Open and deletes it in Close, which stops every channel.
//
// Threads: host threads. m_lock guards the slot table; channels are started, stopped and deleted
// outside the lock, so a host must not open and close the same index from two threads at once.
#pragma once

#include <memory>
#include <vector>

#include "channels/camera_channel.h"
#include "core/driver_interfaces.h"
#include "norvane/ipcapture.h"
#include "runtime/spin_wait_lock.h"

namespace norvane {

class CIPVideoCapture final : public ipcapture::IIPVideoCaptureEx {
    NORVANE_IMPLEMENT_SLOT0(CIPVideoCapture)

public:
    CIPVideoCapture(ICustomCreator* creator, std::uint32_t channelCount);
    virtual ~CIPVideoCapture() NORVANE_DTOR_OVERRIDE;
    CIPVideoCapture(const CIPVideoCapture&) = delete;
    CIPVideoCapture& operator=(const CIPVideoCapture&) = delete;

    uint32_t GetChannelCount() override;
    bool OpenChannel(uint32_t index, IFrameSink* sink, IChannelParams* params) override;
    bool CloseChannel(uint32_t index) override;
    bool ChangeChannelFormat(uint32_t index, IFrameSize* size, uint32_t frameInterval) override;

    void* GetReservedChannelObject() override { return nullptr; }

    bool GetChannelStatus(uint32_t index, int32_t* state, int32_t* reserved, char* text,
                          uint32_t textSize) override;

    bool UnsupportedA(uint32_t, uint32_t, uint32_t) override { return false; }

    bool UnsupportedB(uint32_t, uint32_t, uint32_t) override { return false; }

    bool UnsupportedExA(uint32_t) override { return false; }

    bool UnsupportedExB(uint32_t) override { return false; }

    // GetChannelReception copies the reception counts of the channel open at `index`; false when
    // none is. Like GetChannelStatus, not while the host closes that index.
    bool GetChannelReception(uint32_t index, RtpReceptionCounters& counts);

private:
    // TakeChannel reads slot `index` under the lock and, when `take` is set, empties it.
    std::unique_ptr<ICameraChannel> TakeChannel(uint32_t index);
    ICameraChannel* PeekChannel(uint32_t index);

    ICustomCreator* m_creator;
    CSpinWaitLock m_lock;
    std::vector<std::unique_ptr<ICameraChannel>> m_channels;
};

} // namespace norvane
