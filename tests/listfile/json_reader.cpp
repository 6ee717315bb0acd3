// json_reader.cpp - strict JSON parsing for the tests.
#include "json_reader.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

const Json &Json::operator[](const std::string &name) const {
    static const Json missing;
    auto it = fields.find(name);
    return it == fields.end() ? missing : it->second;
}

namespace {

struct Reader {
    const std::string &s;
    size_t pos = 0;

    void skip_space() {
        while (pos < s.size() && strchr(" \t\r\n", s[pos])) pos++;
    }
    bool literal(const char *word) {
        size_t n = strlen(word);
        if (s.compare(pos, n, word) != 0) return false;
        pos += n;
        return true;
    }
    static void append_utf8(std::string &out, unsigned cp) {
        if (cp < 0x80) {
            out += (char)cp;
        } else if (cp < 0x800) {
            out += (char)(0xC0 | cp >> 6);
            out += (char)(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += (char)(0xE0 | cp >> 12);
            out += (char)(0x80 | ((cp >> 6) & 0x3F));
            out += (char)(0x80 | (cp & 0x3F));
        } else {
            out += (char)(0xF0 | cp >> 18);
            out += (char)(0x80 | ((cp >> 12) & 0x3F));
            out += (char)(0x80 | ((cp >> 6) & 0x3F));
            out += (char)(0x80 | (cp & 0x3F));
        }
    }
    bool hex4(unsigned *v) {
        if (pos + 4 > s.size()) return false;
        *v = 0;
        for (int i = 0; i < 4; i++) {
            char c = s[pos++];
            int d = c >= '0' && c <= '9' ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (d < 0) return false;
            *v = *v * 16 + (unsigned)d;
        }
        return true;
    }
    // One well-formed UTF-8 sequence copied through.
    bool utf8(std::string &out) {
        unsigned char c = (unsigned char)s[pos];
        int n = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3
                : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        if (n == 0 || pos + n > s.size()) return false;
        unsigned cp = n == 1 ? c : c & (0x7F >> n);
        for (int i = 1; i < n; i++) {
            unsigned char k = (unsigned char)s[pos + i];
            if ((k & 0xC0) != 0x80) return false;
            cp = cp << 6 | (k & 0x3F);
        }
        static const unsigned smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < smallest[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        out.append(s, pos, (size_t)n);
        pos += (size_t)n;
        return true;
    }
    bool string(std::string &out) {
        if (pos >= s.size() || s[pos] != '"') return false;
        pos++;
        while (pos < s.size()) {
            unsigned char c = (unsigned char)s[pos];
            if (c == '"') {
                pos++;
                return true;
            }
            if (c < 0x20) return false;
            if (c != '\\') {
                if (!utf8(out)) return false;
                continue;
            }
            if (++pos >= s.size()) return false;
            char e = s[pos++];
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                unsigned cp;
                if (!hex4(&cp)) return false;
                if (cp >= 0xD800 && cp <= 0xDBFF) {
                    unsigned low;
                    if (!literal("\\u") || !hex4(&low) || low < 0xDC00 || low > 0xDFFF) return false;
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                    return false;
                }
                append_utf8(out, cp);
                break;
            }
            default: return false;
            }
        }
        return false;
    }
    bool number(double *out) {
        size_t start = pos;
        if (pos < s.size() && s[pos] == '-') pos++;
        if (pos >= s.size() || !isdigit((unsigned char)s[pos])) return false;
        if (s[pos] == '0') pos++;
        else while (pos < s.size() && isdigit((unsigned char)s[pos])) pos++;
        if (pos < s.size() && s[pos] == '.') {
            pos++;
            if (pos >= s.size() || !isdigit((unsigned char)s[pos])) return false;
            while (pos < s.size() && isdigit((unsigned char)s[pos])) pos++;
        }
        if (pos < s.size() && (s[pos] == 'e' || s[pos] == 'E')) {
            pos++;
            if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) pos++;
            if (pos >= s.size() || !isdigit((unsigned char)s[pos])) return false;
            while (pos < s.size() && isdigit((unsigned char)s[pos])) pos++;
        }
        *out = strtod(s.substr(start, pos - start).c_str(), nullptr);
        return true;
    }
    bool value(Json &v, int depth) {
        if (depth > 64) return false;
        skip_space();
        if (pos >= s.size()) return false;
        char c = s[pos];
        if (c == '{') {
            v.kind = Json::Object;
            pos++;
            skip_space();
            if (pos < s.size() && s[pos] == '}') return ++pos, true;
            for (;;) {
                skip_space();
                std::string name;
                if (!string(name)) return false;
                skip_space();
                if (pos >= s.size() || s[pos++] != ':') return false;
                if (v.fields.count(name)) return false;  // duplicate member
                if (!value(v.fields[name], depth + 1)) return false;
                skip_space();
                if (pos >= s.size()) return false;
                if (s[pos] == ',') { pos++; continue; }
                if (s[pos] == '}') { pos++; return true; }
                return false;
            }
        }
        if (c == '[') {
            v.kind = Json::Array;
            pos++;
            skip_space();
            if (pos < s.size() && s[pos] == ']') return ++pos, true;
            for (;;) {
                v.items.emplace_back();
                if (!value(v.items.back(), depth + 1)) return false;
                skip_space();
                if (pos >= s.size()) return false;
                if (s[pos] == ',') { pos++; continue; }
                if (s[pos] == ']') { pos++; return true; }
                return false;
            }
        }
        if (c == '"') {
            v.kind = Json::String;
            return string(v.text);
        }
        if (literal("true")) { v.kind = Json::Bool; v.boolean = true; return true; }
        if (literal("false")) { v.kind = Json::Bool; return true; }
        if (literal("null")) { v.kind = Json::Null; return true; }
        v.kind = Json::Number;
        return number(&v.number);
    }
};

}  // namespace

bool parse_json(const std::string &text, Json *out, size_t *where) {
    Reader r{text};
    Json v;
    bool ok = r.value(v, 0);
    if (ok) {
        r.skip_space();
        ok = r.pos == text.size();
    }
    if (where) *where = r.pos;
    if (ok) *out = v;
    return ok;
}
