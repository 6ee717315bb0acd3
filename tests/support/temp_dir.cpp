#include "support/temp_dir.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>

TempWorkDir::TempWorkDir() {
    char buf[4096];
    previous = getcwd(buf, sizeof buf) ? buf : ".";
    char pattern[] = "/tmp/quorvax-test-XXXXXX";
    char *made = mkdtemp(pattern);
    path = made ? made : "/tmp";
    if (chdir(path.c_str()) != 0) perror("chdir");
}

TempWorkDir::~TempWorkDir() {
    if (chdir(previous.c_str()) != 0) perror("chdir");
    std::string cmd = "rm -rf '" + path + "'";
    if (path.rfind("/tmp/quorvax-test-", 0) == 0 && std::system(cmd.c_str()) != 0) perror("rm");
}

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
