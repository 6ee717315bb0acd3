// make_string_table - turns the plain string table into the scrambled block.
//
//   make_string_table <plain table> <output .cpp>
//
// Reads app/string_table.txt (format described at its top), scrambles every
// entry with its running key and writes a C++ source that defines the
// writable block, its build-time image and the entry list declared in
// app/string_table.h.  The output holds bytes only, never the plain texts.
// Any fault in the table stops the build with a message naming the line.

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum EndForm { END_WRITTEN = 0, END_STORED = 1, END_FIXED_BYTE = 2 };

struct Entry {
    int number;
    int n;
    int t;
    int end_form;
    int seed;
    std::string text;
    int offset;
    int line;
};

const char *table_path = "";

[[noreturn]] void fail(int line, const char *what) {
    std::fprintf(stderr, "%s:%d: %s\n", table_path, line, what);
    std::exit(1);
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads a quoted text with the escapes \r \n \\ \" \xNN starting at p.
// Returns the position after the closing quote.
const char *read_quoted(const char *p, std::string &out, int line) {
    if (*p != '"') fail(line, "text must be in double quotes");
    p++;
    while (*p != '"') {
        if (*p == 0 || *p == '\n') fail(line, "unterminated text");
        if (*p != '\\') {
            out.push_back(*p++);
            continue;
        }
        p++;
        switch (*p) {
        case 'r': out.push_back('\r'); p++; break;
        case 'n': out.push_back('\n'); p++; break;
        case '\\': out.push_back('\\'); p++; break;
        case '"': out.push_back('"'); p++; break;
        case 'x': {
            int hi = hex_value(p[1]);
            int lo = hi < 0 ? -1 : hex_value(p[2]);
            if (hi < 0 || lo < 0) fail(line, "\\x needs two hexadecimal digits");
            out.push_back((char)(hi * 16 + lo));
            p += 3;
            break;
        }
        default: fail(line, "unknown escape");
        }
    }
    return p + 1;
}

const char *skip_spaces(const char *p) {
    while (*p == ' ' || *p == '\t') p++;
    return p;
}

// Reads one whitespace-delimited word.
const char *read_word(const char *p, std::string &out) {
    p = skip_spaces(p);
    while (*p && *p != ' ' && *p != '\t' && *p != '\n' && *p != '\r') out.push_back(*p++);
    return p;
}

long read_number(const std::string &word, int line, const char *what) {
    if (word.empty()) fail(line, what);
    char *end = nullptr;
    long v = std::strtol(word.c_str(), &end, 0);
    if (*end != 0) fail(line, what);
    return v;
}

Entry parse_line(const char *p, int line) {
    Entry e{};
    e.line = line;
    std::string number, n, t, end_word, seed;
    p = read_word(p, number);
    p = read_word(p, n);
    p = read_word(p, t);
    p = read_word(p, end_word);
    p = read_word(p, seed);
    e.number = (int)read_number(number, line, "bad entry number");
    e.n = (int)read_number(n, line, "bad unscrambled length");
    e.t = (int)read_number(t, line, "bad text length");
    long s = read_number(seed, line, "bad seed");
    if (s < 0 || s > 255) fail(line, "seed must be one byte");
    e.seed = (int)s;
    if (end_word == "nul") e.end_form = END_WRITTEN;
    else if (end_word == "kept") e.end_form = END_STORED;
    else if (end_word == "xor") e.end_form = END_FIXED_BYTE;
    else fail(line, "end must be nul, kept or xor");
    p = read_quoted(skip_spaces(p), e.text, line);
    p = skip_spaces(p);
    if (*p != 0 && *p != '\n' && *p != '\r') fail(line, "text after the closing quote");

    if (e.t < 1 || e.n > 60000) fail(line, "lengths out of range");
    if ((int)e.text.size() != e.t) fail(line, "text length differs from t");
    if (e.n < e.t) fail(line, "n is smaller than t");
    if (e.end_form == END_STORED && e.n != e.t) fail(line, "a kept terminator needs n = t");
    if (e.end_form == END_FIXED_BYTE && (e.n != 1 || e.t != 1))
        fail(line, "the fixed-byte entry is one character");
    if (e.text.find('\0') != std::string::npos) fail(line, "text holds a NUL");
    return e;
}

// Bytes the entry takes in the block: its unscrambled bytes and the byte
// that ends up as its terminator.
int slot_size(const Entry &e) {
    if (e.end_form == END_FIXED_BYTE) return 2;
    if (e.end_form == END_STORED) return e.n + 1;
    return e.n > e.t ? e.n : e.t + 1;
}

void scramble(const Entry &e, std::vector<unsigned char> &block) {
    unsigned char *out = block.data() + e.offset;
    if (e.end_form == END_FIXED_BYTE) {
        out[0] = (unsigned char)(e.text[0] ^ e.seed);
        out[1] = 0;
        return;
    }
    unsigned key = (unsigned)e.seed;
    for (int i = 0; i < e.n; i++) {
        unsigned char plain = i < e.t ? (unsigned char)e.text[i] : 0; // padding is NUL
        out[i] = (unsigned char)(plain ^ key);
        key = (key + 1) & 0xff;
    }
    // Terminator bytes outside the scrambled range are stored as NUL.
    for (int i = e.n; i < slot_size(e); i++) out[i] = 0;
}

void write_bytes(FILE *f, const char *head, const std::vector<unsigned char> &block) {
    std::fprintf(f, "%s[%zu] = {", head, block.size());
    for (size_t i = 0; i < block.size(); i++)
        std::fprintf(f, "%s0x%02x,", i % 16 == 0 ? "\n    " : " ", block[i]);
    std::fprintf(f, "\n};\n\n");
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <plain table> <output .cpp>\n", argv[0]);
        return 2;
    }
    table_path = argv[1];
    FILE *in = std::fopen(argv[1], "rb");
    if (!in) fail(0, "cannot open the table");

    std::vector<Entry> entries;
    char line_text[4096];
    int line = 0;
    while (std::fgets(line_text, sizeof line_text, in)) {
        line++;
        if (!std::strchr(line_text, '\n') && !std::feof(in)) fail(line, "line too long");
        const char *p = skip_spaces(line_text);
        if (*p == '#' || *p == '\n' || *p == '\r' || *p == 0) continue;
        Entry e = parse_line(p, line);
        if (e.number != (int)entries.size() + 1) fail(line, "entries must be numbered 1, 2, 3... in order");
        entries.push_back(e);
    }
    std::fclose(in);
    if (entries.empty()) fail(line, "no entries");

    int size = 0;
    for (Entry &e : entries) {
        e.offset = size;
        size += slot_size(e);
    }
    if (size > 65535) fail(line, "block too large for 16-bit offsets");
    std::vector<unsigned char> block((size_t)size, 0);
    for (const Entry &e : entries) scramble(e, block);

    // No plain text of four characters or more may survive scrambling.
    for (const Entry &e : entries) {
        if (e.t < 4) continue;
        const unsigned char *found = nullptr;
        for (int i = 0; i + e.t <= size && !found; i++)
            if (std::memcmp(block.data() + i, e.text.data(), (size_t)e.t) == 0) found = block.data() + i;
        if (found) fail(e.line, "plain text still visible after scrambling; choose another seed");
    }

    std::string temp = std::string(argv[2]) + ".tmp";
    FILE *out = std::fopen(temp.c_str(), "wb");
    if (!out) fail(0, "cannot write the output");
    std::fprintf(out, "// Generated by tools/strings/make_string_table from app/string_table.txt.\n"
                      "// Do not edit: change the plain table instead.\n\n"
                      "#include \"app/string_table.h\"\n\n");
    std::fprintf(out, "static_assert(STR_ENTRY_COUNT == %zu, \"string table and StringEntry differ\");\n\n",
                 entries.size());
    write_bytes(out, "unsigned char string_block", block);
    write_bytes(out, "const unsigned char string_block_image", block);
    std::fprintf(out, "const int string_block_size = %d;\n\n", size);
    std::fprintf(out, "const StringTableEntry string_table_entries[STR_ENTRY_COUNT] = {\n");
    for (const Entry &e : entries)
        std::fprintf(out, "    {%d, %d, %d, 0x%02x, %d}, // %d\n", e.offset, e.n, e.t, e.seed, e.end_form,
                     e.number);
    std::fprintf(out, "};\n");
    if (std::fclose(out) != 0 || std::rename(temp.c_str(), argv[2]) != 0) {
        std::remove(temp.c_str());
        fail(0, "cannot write the output");
    }
    return 0;
}
