// main.cpp - quorvax-list: creates, shows and edits a list.o.
//
// The program only ever opens an existing list.o; this tool writes the first
// one and lets tests and demonstrations prepare lists.  Writers open the file
// the way the program does, so a list the running program holds is refused.
#include <cstdio>
#include <cstring>

#include "tools/list/list_tool.h"

static const char USAGE[] =
    "usage: quorvax-list COMMAND PATH [options]\n"
    "\n"
    "  init PATH [--folder DIR] [--force]\n"
    "      write a new empty list (max downloads 1); an existing file is\n"
    "      replaced only with --force\n"
    "  show PATH [--json]\n"
    "      print the settings and every download\n"
    "  add PATH --page ADDR --site N [--state NAME|CODE] [--total N] [--done N]\n"
    "           [--stream ADDR] [--file NAME]\n"
    "      append a download (state Queued unless given)\n"
    "  set PATH [--max N] [--proxy A.B.C.D:PORT] [--use-proxy 0|1]\n"
    "           [--show-finished 0|1] [--auto-remove 0|1] [--folder DIR] [--pos X,Y]\n"
    "      change settings\n"
    "\n"
    "exit status: 0 done, 1 usage error, 2 file error\n";

int list_tool_main(int argc, char **argv) {
    if (argc >= 2 && (!strcmp(argv[1], "--help") || !strcmp(argv[1], "help"))) {
        fputs(USAGE, stdout);
        return EXIT_OK;
    }
    if (argc < 3) {
        fputs(USAGE, stderr);
        return EXIT_USAGE;
    }
    const char *command = argv[1];
    int sub_argc = argc - 2;
    char **sub_argv = argv + 2;
    if (!strcmp(command, "init")) return command_init(sub_argc, sub_argv);
    if (!strcmp(command, "show")) return command_show(sub_argc, sub_argv);
    if (!strcmp(command, "add")) return command_add(sub_argc, sub_argv);
    if (!strcmp(command, "set")) return command_set(sub_argc, sub_argv);
    fprintf(stderr, "quorvax-list: unknown command '%s'\n\n", command);
    fputs(USAGE, stderr);
    return EXIT_USAGE;
}

int main(int argc, char **argv) { return list_tool_main(argc, argv); }
