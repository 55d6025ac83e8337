#include "json_text.h"

#include <cmath>
#include <cstdio>

namespace vantrel::capture {

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

JsonObject& JsonObject::AddRaw(const std::string& key, const std::string& json) {
    if (!m_members.empty()) {
        m_members += ", ";
    }
    m_members += JsonString(key) + ": " + json;
    return *this;
}

JsonObject& JsonObject::Add(const std::string& key, const std::string& value) {
    return AddRaw(key, JsonString(value));
}

JsonObject& JsonObject::Add(const std::string& key, const char* value) {
    return AddRaw(key, JsonString(value));
}

JsonObject& JsonObject::Add(const std::string& key, std::uint64_t value) {
    return AddRaw(key, std::to_string(value));
}

JsonObject& JsonObject::Add(const std::string& key, std::int64_t value) {
    return AddRaw(key, std::to_string(value));
}

JsonObject& JsonObject::Add(const std::string& key, std::uint32_t value) {
    return AddRaw(key, std::to_string(value));
}

JsonObject& JsonObject::Add(const std::string& key, int value) {
    return AddRaw(key, std::to_string(value));
}

JsonObject& JsonObject::Add(const std::string& key, bool value) {
    return AddRaw(key, value ? "true" : "false");
}

JsonObject& JsonObject::Add(const std::string& key, double value, int decimals) {
    if (!std::isfinite(value)) {
        return AddNull(key); // JSON has no infinity or NaN
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return AddRaw(key, text);
}

JsonObject& JsonObject::AddNull(const std::string& key) {
    return AddRaw(key, "null");
}

} // namespace vantrel::capture
