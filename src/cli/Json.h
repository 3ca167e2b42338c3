#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace marrowick::cli {

// A JSON string literal of text; bytes that are not UTF-8 become "?" so the output always parses.
[[nodiscard]] std::string JsonString(std::string_view text);

// Builds one JSON object field by field: JsonObject().Add("a", 1).Add("b", "x").Text() gives {"a":1,"b":"x"}.
class JsonObject final {
public:
    JsonObject& Add(std::string_view key, std::string_view value);
    JsonObject& Add(std::string_view key, const char* value) { return Add(key, std::string_view(value)); }
    JsonObject& Add(std::string_view key, std::int64_t value);
    JsonObject& Add(std::string_view key, std::uint64_t value);
    JsonObject& Add(std::string_view key, bool value);
    // value is JSON text already (an array or an object).
    JsonObject& AddRaw(std::string_view key, std::string_view value);
    [[nodiscard]] std::string Text() const { return text_ + "}"; }

private:
    void Key(std::string_view key);
    std::string text_ = "{";
};

} // namespace marrowick::cli
