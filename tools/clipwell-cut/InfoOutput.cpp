// Formatting of clipwell-cut info.
#include "InfoOutput.h"

#include <cstdio>

namespace {

// A JSON string literal. Bytes from 0x80 up are passed through: the values are UTF-8.
std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        unsigned char byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (byte < 0x20 || byte == 0x7f) {
                char escaped[8];
                std::snprintf(escaped, sizeof(escaped), "\\u%04x", byte);
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

} // namespace

std::string FormatInfoLines(const TInfoFields& fields) {
    std::string out;
    for (const TInfoField& field : fields)
        out += field.Key + "=" + field.Value + "\n";
    return out;
}

std::string FormatInfoJson(const TInfoFields& fields) {
    std::string out = "{";
    for (const TInfoField& field : fields) {
        if (out.size() > 1) out += ", ";
        out += JsonString(field.Key) + ": ";
        out += field.Number ? field.Value : JsonString(field.Value);
    }
    return out + "}\n";
}
