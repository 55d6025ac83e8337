// CDebugInfoIf: one diagnostic message as the driver hands it to the host's debug sink. The
// record lives only for the duration of IDebugSink::OnDebugInfo; a sink copies what it keeps.
#pragma once

#include "norvane/abi.h"

class CDebugInfoIf {
    NORVANE_SLOT0(CDebugInfoIf)

    // GetLevel returns 1 for an error or loss, 2 for information, 3 for a CGI request that could
    // not be sent.
    virtual uint8_t GetLevel() = 0;

    // GetText returns the message, terminated, valid while the record lives.
    virtual const char* GetText() = 0;
};
