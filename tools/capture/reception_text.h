// ReceptionReader: channel 0's reception as the plug-in reports it, in words for the status line
// and the summary. A plug-in without the reception query gives no text.
#pragma once

#include <string>

#include "norvane/exports.h"

namespace vantrel::capture {

struct ReceptionReader {
    GetChannelReceptionFn query = nullptr;
    norvane::ipcapture::IIPCaptureDriver* driver = nullptr;

    // Text: `brief` for the status line ("  lost 3 (0.1 %)  damaged 1"), else the summary's
    // sentence; empty when the plug-in cannot tell.
    [[nodiscard]] std::string Text(bool brief) const;
    // Read fills `reception`; false when the plug-in cannot tell.
    [[nodiscard]] bool Read(NorvaneChannelReception& reception) const;
};

} // namespace vantrel::capture
