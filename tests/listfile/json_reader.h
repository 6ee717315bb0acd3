// json_reader.h - a strict little JSON reader for checking the list tool's
// output: it refuses anything RFC 8259 refuses (raw control characters,
// invalid UTF-8, bad escapes, trailing text).
#pragma once

#include <map>
#include <string>
#include <vector>

struct Json {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    bool boolean = false;
    double number = 0;
    std::string text;                    // String: UTF-8
    std::vector<Json> items;             // Array
    std::map<std::string, Json> fields;  // Object

    // Member of an object; a Null value when absent.
    const Json &operator[](const std::string &name) const;
    const Json &operator[](size_t index) const { return items.at(index); }
};

// Parses the whole text; false (and where = byte offset) on any error.
bool parse_json(const std::string &text, Json *out, size_t *where = nullptr);
