// JSON text for --json output.
#include "json.h"

#include <array>
#include <cstddef>

namespace lkpctl {
namespace {

constexpr std::string_view REPLACEMENT = "\\ufffd";

// Length of the valid UTF-8 sequence starting at text[at], or 0 when the bytes
// there do not form one (overlong forms, surrogates and values above U+10FFFF
// included).
size_t utf8_sequence_length(std::string_view text, size_t at) {
    const auto byte = [&](size_t index) { return static_cast<unsigned char>(text[index]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high) {
        return 0;
    }
    for (size_t index = at + 2; index < at + length; ++index) {
        if (byte(index) < 0x80 || byte(index) > 0xBF) {
            return 0;
        }
    }
    return length;
}

void append_escaped_ascii(std::string &out, char character) {
    switch (character) {
        case '"':
            out += "\\\"";
            return;
        case '\\':
            out += "\\\\";
            return;
        case '\b':
            out += "\\b";
            return;
        case '\f':
            out += "\\f";
            return;
        case '\n':
            out += "\\n";
            return;
        case '\r':
            out += "\\r";
            return;
        case '\t':
            out += "\\t";
            return;
        default:
            break;
    }
    const auto code = static_cast<unsigned char>(character);
    if (code < 0x20 || code == 0x7F) {
        constexpr std::array<char, 17> HEX = {"0123456789abcdef"};
        out += "\\u00";
        out += HEX[code >> 4U];
        out += HEX[code & 0x0FU];
        return;
    }
    out += character;
}

}  // namespace

std::string json_quote(std::string_view text) {
    std::string out = "\"";
    size_t at = 0;
    while (at < text.size()) {
        if (static_cast<unsigned char>(text[at]) < 0x80) {
            append_escaped_ascii(out, text[at]);
            ++at;
            continue;
        }
        const size_t length = utf8_sequence_length(text, at);
        if (length == 0) {
            out += REPLACEMENT;
            ++at;
        } else {
            out.append(text.substr(at, length));
            at += length;
        }
    }
    out += '"';
    return out;
}

void JsonObject::key(std::string_view name) {
    if (!members_.empty()) {
        members_ += ',';
    }
    members_ += json_quote(name);
    members_ += ':';
}

JsonObject &JsonObject::string(std::string_view key_name, std::string_view value) {
    key(key_name);
    members_ += json_quote(value);
    return *this;
}

JsonObject &JsonObject::number(std::string_view key_name, int64_t value) {
    key(key_name);
    members_ += std::to_string(value);
    return *this;
}

JsonObject &JsonObject::raw(std::string_view key_name, std::string_view value) {
    key(key_name);
    members_ += value;
    return *this;
}

void JsonArray::separate() {
    if (!elements_.empty()) {
        elements_ += ',';
    }
}

JsonArray &JsonArray::string(std::string_view value) {
    separate();
    elements_ += json_quote(value);
    return *this;
}

JsonArray &JsonArray::raw(std::string_view value) {
    separate();
    elements_ += value;
    return *this;
}

std::string json_strings(const std::vector<std::string> &words) {
    JsonArray array;
    for (const std::string &word : words) {
        array.string(word);
    }
    return array.str();
}

}  // namespace lkpctl
