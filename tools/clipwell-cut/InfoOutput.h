// What clipwell-cut info prints: the fields of a file as key=value lines or as one JSON object
// with the same keys in the same order.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct TInfoField {
    TInfoField(std::string key, std::string text) : Key(std::move(key)), Value(std::move(text)) {}
    TInfoField(std::string key, int64_t number)
        : Key(std::move(key)), Value(std::to_string(number)), Number(true) {}

    std::string Key;
    std::string Value;   // as printed in a key=value line
    bool Number = false; // a JSON number instead of a JSON string
};
using TInfoFields = std::vector<TInfoField>;

// "key=value\n" for each field.
std::string FormatInfoLines(const TInfoFields& fields);
// {"key": value, ...} on one line with a final newline.
std::string FormatInfoJson(const TInfoFields& fields);
