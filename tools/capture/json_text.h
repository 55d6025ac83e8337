// JsonObject builds one JSON object as text, its members in the order they are added: the
// tool's machine-readable output (capture summary and progress, probe results, errors).
#pragma once

#include <cstdint>
#include <string>

namespace vantrel::capture {

// JsonString quotes `text` as a JSON string.
[[nodiscard]] std::string JsonString(const std::string& text);

class JsonObject {
public:
    JsonObject& Add(const std::string& key, const std::string& value);
    JsonObject& Add(const std::string& key, const char* value);
    JsonObject& Add(const std::string& key, std::uint64_t value);
    JsonObject& Add(const std::string& key, std::int64_t value);
    JsonObject& Add(const std::string& key, std::uint32_t value);
    JsonObject& Add(const std::string& key, int value);
    JsonObject& Add(const std::string& key, bool value);
    // A number with `decimals` digits after the point.
    JsonObject& Add(const std::string& key, double value, int decimals);
    JsonObject& AddNull(const std::string& key);
    // AddRaw adds text that already is JSON (an object or an array).
    JsonObject& AddRaw(const std::string& key, const std::string& json);

    // Text is the object on one line.
    [[nodiscard]] std::string Text() const { return "{" + m_members + "}"; }

private:
    std::string m_members;
};

} // namespace vantrel::capture
