#pragma once

// The JSON text that `--json` prints: one object per run, members in the order they are added.

#include <cstdint>
#include <string>
#include <string_view>

namespace zel::cli {

/// A JSON string literal of the UTF-8 `text`, quotes included, with the escapes JSON requires.
std::string json_string(std::string_view text);

/// The shortest digits that read back as `value` (JSON has no NaN or infinity: those are
/// written as null).
std::string json_number(double value);

/// Builds one JSON object as text.
class JsonObject {
  public:
    JsonObject& add_string(std::string_view key, std::string_view value);
    JsonObject& add_number(std::string_view key, double value);
    JsonObject& add_integer(std::string_view key, std::int64_t value);
    JsonObject& add_bool(std::string_view key, bool value);
    JsonObject& add_null(std::string_view key);
    /// `json` must already be JSON text (an object, an array).
    JsonObject& add_raw(std::string_view key, std::string_view json);

    /// The object's text, "{" ... "}" on one line.
    std::string text() const;

  private:
    void key(std::string_view name);

    std::string members_;
};

}  // namespace zel::cli
