// A minimal JSON writer for lkpctl's --json output: quoted strings, numbers
// and nested objects and arrays built as text.
#ifndef LKPCTL_JSON_H
#define LKPCTL_JSON_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lkpctl {

// text as a JSON string literal, quotes included. Quotes, backslashes and
// control characters are escaped; bytes that are not valid UTF-8 become U+FFFD
// so that the output is always valid JSON.
std::string json_quote(std::string_view text);

// Builds "{...}" one member at a time, in the order given.
class JsonObject {
public:
    JsonObject &string(std::string_view key, std::string_view value);
    JsonObject &number(std::string_view key, int64_t value);
    // value must already be JSON text (an object, an array, null...).
    JsonObject &raw(std::string_view key, std::string_view value);
    std::string str() const { return "{" + members_ + "}"; }

private:
    void key(std::string_view name);
    std::string members_;
};

// Builds "[...]" one element at a time.
class JsonArray {
public:
    JsonArray &string(std::string_view value);
    JsonArray &raw(std::string_view value);
    std::string str() const { return "[" + elements_ + "]"; }

private:
    void separate();
    std::string elements_;
};

// words as a JSON array of strings.
std::string json_strings(const std::vector<std::string> &words);

}  // namespace lkpctl

#endif
