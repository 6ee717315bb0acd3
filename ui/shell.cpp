// shell.cpp - hand-overs to the desktop: opening, and showing a file in its
// folder.
#include <cstring>

#include "app/app_state.h"
#include "app/strings.h"
#include "ui/shell.h"

// The item menu shows a file by handing over the string table's show-file
// program with its parameter prefix and the path.  That hand-over is one
// platform operation (the file manager selecting the file), so it is told
// apart here; everything else is opened as it comes.
void shell_open(const char *target, const char *params) {
    if (!target || !target[0]) return;
    const char *program = string_entry(STR_SHOW_PROGRAM);
    const char *prefix = string_entry(STR_SHOW_PARAM_PREFIX);
    const size_t program_length = (size_t)string_length(STR_SHOW_PROGRAM);
    const size_t prefix_length = (size_t)string_length(STR_SHOW_PARAM_PREFIX);
    if (params && strncmp(target, program, program_length) == 0 && target[program_length] == 0 &&
        strncmp(params, prefix, prefix_length) == 0) {
        plat_show_in_folder(target, prefix, params + prefix_length);
        return;
    }
    plat_shell_open(target, params);
}
