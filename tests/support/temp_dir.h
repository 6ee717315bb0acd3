// temp_dir.h - a temporary working folder for one test, removed afterwards.
#pragma once

#include <string>

#include "platform/platform.h"

// Makes a fresh folder and changes into it; the destructor changes back and
// removes the folder with everything in it.
struct TempWorkDir {
    TempWorkDir();
    ~TempWorkDir();
    std::string path;
    std::string previous;
    // A name inside the folder, joined with the system's separator as the
    // program joins the paths it builds.
    std::string file(const std::string &name) const { return path + plat_path_separator() + name; }
};

// Writes bytes to a file, replacing it.
void write_file(const std::string &path, const std::string &bytes);
// The whole file, or "" when it cannot be read.
std::string read_file(const std::string &path);
