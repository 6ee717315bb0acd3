// file_bytes.cpp - write_file and read_file of support/temp_dir.h: plain
// C++ streams, the same on every system.
#include <fstream>
#include <sstream>

#include "support/temp_dir.h"

void write_file(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), (std::streamsize)bytes.size());
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}
