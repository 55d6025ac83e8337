// CDebugInfo: the message record handed to the host's debug sink; it lives only for that call.
#pragma once

#include <string>

#include "norvane/debug_info.h"

class CDebugInfo final : public CDebugInfoIf {
    NORVANE_IMPLEMENT_SLOT0(CDebugInfo)

public:
    CDebugInfo(unsigned char level, std::string text) : m_level(level), m_text(std::move(text)) {}

    uint8_t GetLevel() override { return m_level; }

    const char* GetText() override { return m_text.c_str(); }

    unsigned char m_level;
    std::string m_text;
};
