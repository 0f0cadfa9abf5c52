#include "json.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

namespace zel::cli {

std::string json_string(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        switch (c) {
            case '"':
                quoted += "\\\"";
                break;
            case '\\':
                quoted += "\\\\";
                break;
            case '\n':
                quoted += "\\n";
                break;
            case '\r':
                quoted += "\\r";
                break;
            case '\t':
                quoted += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x",
                                  static_cast<unsigned>(static_cast<unsigned char>(c)));
                    quoted += escape;
                } else {
                    quoted += c;
                }
        }
    }
    return quoted + "\"";
}

std::string json_number(double value) {
    if (!std::isfinite(value)) {
        return "null";
    }
    char digits[32];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    return std::string(digits, result.ptr);
}

void JsonObject::key(std::string_view name) {
    if (!members_.empty()) {
        members_ += ", ";
    }
    members_ += json_string(name) + ": ";
}

JsonObject& JsonObject::add_string(std::string_view name, std::string_view value) {
    key(name);
    members_ += json_string(value);
    return *this;
}

JsonObject& JsonObject::add_number(std::string_view name, double value) {
    key(name);
    members_ += json_number(value);
    return *this;
}

JsonObject& JsonObject::add_integer(std::string_view name, std::int64_t value) {
    key(name);
    members_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::add_bool(std::string_view name, bool value) {
    key(name);
    members_ += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::add_null(std::string_view name) {
    key(name);
    members_ += "null";
    return *this;
}

JsonObject& JsonObject::add_raw(std::string_view name, std::string_view json) {
    key(name);
    members_ += json;
    return *this;
}

std::string JsonObject::text() const {
    return "{" + members_ + "}";
}

}  // namespace zel::cli
