#include "support/temp_dir.h"

#include <cstdio>
#include <cstdlib>
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
