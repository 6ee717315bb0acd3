// commands.cpp - the init, show, add and set commands of quorvax-list.
//
// Sections: [OPTIONS] [FILES] [INIT] [SHOW] [ADD] [SET]
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "engine/download_table.h"
#include "platform/platform.h"
#include "tools/list/list_tool.h"

static_assert(sizeof(DownloadItem) == TOOL_RECORD_SIZE, "records are written as they stand");

// -------------------------------------------------------------- [OPTIONS]

struct OptionDef {
    const char *name;  // "--folder"
    bool takes_value;
};

// Reads "--name VALUE", "--name=VALUE" and flags after PATH into values[],
// one per option ("1" for a flag given, null for one absent).  0 on a usage
// error, which it reports.
static int parse_options(int argc, char **argv, const OptionDef *defs, int def_count,
                         const char **values) {
    for (int s = 0; s < def_count; s++) values[s] = nullptr;
    for (int a = 1; a < argc; a++) {
        const char *arg = argv[a];
        const char *eq = strchr(arg, '=');
        size_t name_len = eq ? (size_t)(eq - arg) : strlen(arg);
        int found = -1;
        for (int s = 0; s < def_count; s++)
            if (strlen(defs[s].name) == name_len && !strncmp(defs[s].name, arg, name_len))
                found = s;
        if (found < 0) {
            fprintf(stderr, "quorvax-list: unknown option '%s'\n", arg);
            return 0;
        }
        if (!defs[found].takes_value) {
            if (eq) {
                fprintf(stderr, "quorvax-list: %s takes no value\n", defs[found].name);
                return 0;
            }
            values[found] = "1";
        } else if (eq) {
            values[found] = eq + 1;
        } else if (a + 1 < argc) {
            values[found] = argv[++a];
        } else {
            fprintf(stderr, "quorvax-list: %s needs a value\n", defs[found].name);
            return 0;
        }
    }
    return 1;
}

// Whole-text decimal number within [low, high].
static int parse_number(const char *text, long long low, long long high, long long *out) {
    if (!text || !*text) return 0;
    errno = 0;
    char *end = nullptr;
    long long v = strtoll(text, &end, 10);
    if (errno || *end || v < low || v > high) return 0;
    *out = v;
    return 1;
}

static int bad_value(const char *option, const char *value, const char *expected) {
    fprintf(stderr, "quorvax-list: %s '%s': expected %s\n", option, value ? value : "", expected);
    return EXIT_USAGE;
}

static int check_length(const char *option, const char *value, size_t max) {
    if (strlen(value) <= max) return 1;
    fprintf(stderr, "quorvax-list: %s is %zu characters long; the list holds at most %zu\n",
            option, strlen(value), max);
    return 0;
}

// "a.b.c.d:port" into four octets and a port.
static int parse_proxy(const char *text, int octets[4], int *port) {
    unsigned a, b, c, d, p;
    char tail;
    if (sscanf(text, "%u.%u.%u.%u:%u%c", &a, &b, &c, &d, &p, &tail) != 5) return 0;
    if (a > 255 || b > 255 || c > 255 || d > 255 || p > 65535) return 0;
    octets[0] = (int)a;
    octets[1] = (int)b;
    octets[2] = (int)c;
    octets[3] = (int)d;
    *port = (int)p;
    return 1;
}

// "x,y" into two signed 32-bit values.
static int parse_position(const char *text, int32_t *x, int32_t *y) {
    const char *comma = strchr(text, ',');
    if (!comma) return 0;
    char first[32];
    size_t n = (size_t)(comma - text);
    if (n == 0 || n >= sizeof first) return 0;
    memcpy(first, text, n);
    first[n] = 0;
    long long vx, vy;
    if (!parse_number(first, INT32_MIN, INT32_MAX, &vx)) return 0;
    if (!parse_number(comma + 1, INT32_MIN, INT32_MAX, &vy)) return 0;
    *x = (int32_t)vx;
    *y = (int32_t)vy;
    return 1;
}

// A state by name (any case) or by its code.
static int parse_state(const char *text, uint32_t *state) {
    for (uint32_t code = 1; code <= (uint32_t)ITEM_STATE_COUNT; code++) {
        if (!strcasecmp(text, item_state_name(code))) {
            *state = code;
            return 1;
        }
    }
    long long v;
    if (!parse_number(text, 0, UINT32_MAX, &v)) return 0;
    *state = (uint32_t)v;
    return 1;
}

// ---------------------------------------------------------------- [FILES]

static int file_error(const char *path, const char *what) {
    fprintf(stderr, "quorvax-list: %s: %s\n", path, what);
    return EXIT_FILE;
}

// Opens an existing list for writing with the program's lock; reports why
// when it cannot.
static plat_file open_for_writing(const char *path) {
    if (!plat_file_exists(path)) {
        file_error(path, "no such list file");
        return PLAT_INVALID_FILE;
    }
    plat_file file = plat_open_existing_rw(path);
    if (file == PLAT_INVALID_FILE)
        file_error(path, "cannot open it for writing: it is held by a running Quorvax "
                         "(quit it first) or not writable");
    return file;
}

// Reads the header (up to 656 bytes; the rest zero) and checks the magic.
static int read_header(plat_file file, const char *path, uint8_t header[TOOL_HEADER_SIZE]) {
    memset(header, 0, TOOL_HEADER_SIZE);
    plat_seek(file, 0);
    uint32_t got = plat_read(file, header, TOOL_HEADER_SIZE);
    if (got < 4 || get_le32(header) != TOOL_LIST_MAGIC) {
        file_error(path, "not a list file (wrong magic)");
        return 0;
    }
    return 1;
}

static int write_at(plat_file file, int64_t offset, const void *data, uint32_t size) {
    return plat_seek(file, offset) && plat_write(file, data, size) == size;
}

static int write_byte(plat_file file, int64_t offset, long long value) {
    uint8_t b = (uint8_t)value;
    return write_at(file, offset, &b, 1);
}

// Writes a folder text and its NUL, nothing more (as the program does).
static int write_folder(plat_file file, const char *folder) {
    return write_at(file, OFF_FOLDER, folder, (uint32_t)strlen(folder) + 1);
}

// ----------------------------------------------------------------- [INIT]

int command_init(int argc, char **argv) {
    static const OptionDef defs[] = {{"--folder", true}, {"--force", false}};
    const char *v[2];
    if (!parse_options(argc, argv, defs, 2, v)) return EXIT_USAGE;
    const char *path = argv[0];
    const char *folder = v[0] ? v[0] : "";
    if (!check_length("--folder", folder, FOLDER_MAX)) return EXIT_USAGE;

    uint8_t header[TOOL_HEADER_SIZE];
    memset(header, 0, sizeof header);
    put_le32(header, TOOL_LIST_MAGIC);
    header[OFF_MAX_ACTIVE] = 1;
    memcpy(header + OFF_FOLDER, folder, strlen(folder));

    plat_file file;
    if (plat_file_exists(path)) {
        if (!v[1]) return file_error(path, "exists already; use --force to replace it");
        file = open_for_writing(path);
        if (file == PLAT_INVALID_FILE) return EXIT_FILE;
        if (!plat_truncate(file, 0)) {
            plat_close(file);
            return file_error(path, "cannot empty it");
        }
    } else {
        file = plat_create_new_rw(path);
        if (file == PLAT_INVALID_FILE) return file_error(path, "cannot create it");
    }
    int ok = write_at(file, 0, header, sizeof header);
    plat_close(file);
    if (!ok) return file_error(path, "write failed");
    return EXIT_OK;
}

// ----------------------------------------------------------------- [SHOW]

struct Settings {
    int32_t window_x, window_y;
    int max_active, auto_remove, show_finished, use_proxy;
    int32_t proxy_port;
    int octets[4];
    char folder[TOOL_HEADER_SIZE - OFF_FOLDER + 1];
    int32_t count;
};

static void decode_settings(const uint8_t *h, Settings *s) {
    s->window_x = (int32_t)get_le32(h + OFF_WINDOW_X);
    s->window_y = (int32_t)get_le32(h + OFF_WINDOW_Y);
    s->max_active = h[OFF_MAX_ACTIVE];
    s->auto_remove = h[OFF_AUTO_REMOVE];
    s->show_finished = h[OFF_SHOW_FINISHED];
    s->use_proxy = h[OFF_USE_PROXY];
    s->proxy_port = (int32_t)get_le32(h + OFF_PROXY_PORT);
    for (int i = 0; i < 4; i++) s->octets[i] = h[OFF_PROXY_ADDRESS + i];
    // The program reads the folder up to its NUL; a field without one is
    // shown up to the first record.
    memcpy(s->folder, h + OFF_FOLDER, TOOL_HEADER_SIZE - OFF_FOLDER);
    s->folder[TOOL_HEADER_SIZE - OFF_FOLDER] = 0;
    s->count = (int32_t)get_le32(h + OFF_COUNT);
}

static void show_settings_text(const char *path, const Settings *s) {
    printf("list file:        ");
    print_plain_text(stdout, path, strlen(path));
    printf("\nwindow position:  %d,%d\n", s->window_x, s->window_y);
    printf("max downloads:    %d\n", s->max_active);
    printf("remove finished:  %d\n", s->auto_remove);
    printf("show finished:    %d\n", s->show_finished);
    printf("use proxy:        %d\n", s->use_proxy);
    printf("proxy:            %d.%d.%d.%d:%d\n", s->octets[0], s->octets[1], s->octets[2],
           s->octets[3], s->proxy_port);
    printf("folder:           ");
    if (s->folder[0])
        print_plain_text(stdout, s->folder, sizeof s->folder);
    else
        printf("(the working folder)");
    printf("\nitems:            %d\n", s->count);
}

static void show_settings_json(const Settings *s) {
    printf("{\"window_x\":%d,\"window_y\":%d,\"max_active_edit\":%d,"
           "\"auto_remove_finished\":%d,\"show_finished\":%d,\"use_proxy\":%d,"
           "\"proxy_address\":\"%d.%d.%d.%d\",\"proxy_port\":%d,\"download_folder\":",
           s->window_x, s->window_y, s->max_active, s->auto_remove, s->show_finished,
           s->use_proxy, s->octets[0], s->octets[1], s->octets[2], s->octets[3], s->proxy_port);
    print_json_string(stdout, s->folder, sizeof s->folder);
    printf(",\"item_count\":%d,\"items\":[", s->count);
}

static void show_item_text(int index, const DownloadItem *item) {
    const char *name = item_state_name(item->state);
    printf("#%d  ", index);
    if (name)
        printf("%s", name);
    else
        printf("state %u", item->state);
    printf("  done %u of %u bytes  site %d  retries %d", item->doneSize, item->totalSize,
           item->siteKind, item->retryCount);
    const char *stage = request_stage_name(item->requestStage);
    if (stage)
        printf("  stage %s", stage);
    else
        printf("  stage %d", item->requestStage);
    printf("  user %d\n", item->userStarted);
    printf("    page:   ");
    print_plain_text(stdout, item->pageAddress, sizeof item->pageAddress);
    printf("\n    stream: ");
    print_plain_text(stdout, item->streamAddress, sizeof item->streamAddress);
    printf("\n    file:   ");
    print_plain_text(stdout, item->fileName, sizeof item->fileName);
    printf("\n");
}

static void show_item_json(int index, const DownloadItem *item) {
    const char *name = item_state_name(item->state);
    printf("%s{\"index\":%d,\"state\":%u,\"stateName\":", index ? "," : "", index, item->state);
    if (name)
        print_json_string(stdout, name, strlen(name));
    else
        printf("null");
    printf(",\"totalSize\":%u,\"doneSize\":%u,\"siteKind\":%d,\"retryCount\":%d,"
           "\"requestStage\":%d,\"userStarted\":%d,\"pageAddress\":",
           item->totalSize, item->doneSize, item->siteKind, item->retryCount,
           item->requestStage, item->userStarted);
    print_json_string(stdout, item->pageAddress, sizeof item->pageAddress);
    printf(",\"streamAddress\":");
    print_json_string(stdout, item->streamAddress, sizeof item->streamAddress);
    printf(",\"fileName\":");
    print_json_string(stdout, item->fileName, sizeof item->fileName);
    printf("}");
}

int command_show(int argc, char **argv) {
    static const OptionDef defs[] = {{"--json", false}};
    const char *v[1];
    if (!parse_options(argc, argv, defs, 1, v)) return EXIT_USAGE;
    const char *path = argv[0];
    bool json = v[0] != nullptr;

    // Reading needs no lock: the program shares reads.
    plat_file file = plat_open_read(path);
    if (file == PLAT_INVALID_FILE) return file_error(path, "cannot open it");
    uint8_t header[TOOL_HEADER_SIZE];
    if (!read_header(file, path, header)) {
        plat_close(file);
        return EXIT_FILE;
    }
    Settings s;
    decode_settings(header, &s);

    // Records are read one at a time: a count may be huge or a lie.
    int32_t wanted = s.count < 0 ? 0 : s.count;
    int32_t present = 0;
    if (json) show_settings_json(&s); else show_settings_text(path, &s);
    plat_seek(file, TOOL_HEADER_SIZE);
    DownloadItem item;
    while (present < wanted && plat_read(file, &item, sizeof item) == sizeof item) {
        if (json) show_item_json(present, &item); else show_item_text(present, &item);
        present++;
    }
    plat_close(file);
    if (json) printf("],\"records_in_file\":%d}\n", present);
    fflush(stdout);

    if (s.count < 0 || s.count > TOOL_MAX_ITEM_COUNT) {
        fprintf(stderr, "quorvax-list: %s: item count %d is outside 0..%d; Quorvax will not "
                        "start with this list\n", path, s.count, TOOL_MAX_ITEM_COUNT);
        return EXIT_FILE;
    }
    if (present < wanted)
        fprintf(stderr, "quorvax-list: %s: the file holds only %d of its %d records; Quorvax "
                        "loads those %d\n", path, present, wanted, present);
    return EXIT_OK;
}

// ------------------------------------------------------------------ [ADD]

int command_add(int argc, char **argv) {
    static const OptionDef defs[] = {{"--page", true},  {"--site", true},   {"--state", true},
                                       {"--total", true}, {"--done", true},   {"--stream", true},
                                       {"--file", true}};
    const char *v[7];
    if (!parse_options(argc, argv, defs, 7, v)) return EXIT_USAGE;
    const char *path = argv[0];
    if (!v[0] || !*v[0]) return bad_value("--page", v[0], "a page address");
    if (!v[1]) return bad_value("--site", v[1], "a site code 0..25, 26 (media link) or 27 (web page)");

    DownloadItem item;
    memset(&item, 0, sizeof item);
    item.state = Queued;
    long long n;
    if (!parse_number(v[1], 0, SITE_KIND_MAX, &n)) return bad_value("--site", v[1], "0..27");
    item.siteKind = (int32_t)n;
    if (v[2] && !parse_state(v[2], &item.state))
        return bad_value("--state", v[2], "a state name such as Queued, or a code");
    if (v[3]) {
        if (!parse_number(v[3], 0, UINT32_MAX, &n)) return bad_value("--total", v[3], "a byte count");
        item.totalSize = (uint32_t)n;
    }
    if (v[4]) {
        if (!parse_number(v[4], 0, UINT32_MAX, &n)) return bad_value("--done", v[4], "a byte count");
        item.doneSize = (uint32_t)n;
    }
    const int page_max = site_kind_keeps_scheme(item.siteKind) ? LINK_ADDRESS_MAX : PAGE_ADDRESS_MAX;
    if (!check_length("--page", v[0], page_max)) return EXIT_USAGE;
    if (v[5] && !check_length("--stream", v[5], STREAM_ADDRESS_MAX)) return EXIT_USAGE;
    if (v[6] && !check_length("--file", v[6], FILE_NAME_MAX)) return EXIT_USAGE;
    // The lengths are checked above; the copies stay bounded all the same.
    strncpy(item.pageAddress, v[0], (size_t)page_max);
    if (v[5]) strncpy(item.streamAddress, v[5], STREAM_ADDRESS_MAX);
    if (v[6]) strncpy(item.fileName, v[6], FILE_NAME_MAX);

    plat_file file = open_for_writing(path);
    if (file == PLAT_INVALID_FILE) return EXIT_FILE;
    uint8_t header[TOOL_HEADER_SIZE];
    int rc = EXIT_OK;
    if (!read_header(file, path, header)) {
        rc = EXIT_FILE;
    } else {
        int32_t count = (int32_t)get_le32(header + OFF_COUNT);
        int64_t needed = TOOL_HEADER_SIZE + (int64_t)TOOL_RECORD_SIZE * count;
        uint8_t c[4];
        put_le32(c, (uint32_t)count + 1);
        if (count < 0 || count >= TOOL_MAX_ITEM_COUNT) {
            rc = file_error(path, "its item count leaves no room for another item");
        } else if (plat_file_size(file) < needed) {
            // Appending after a gap would turn the missing records into items.
            rc = file_error(path, "the file holds fewer records than its count says");
        } else if (!write_at(file, needed, &item, sizeof item) ||
                   !write_at(file, OFF_COUNT, c, 4)) {
            rc = file_error(path, "write failed");
        } else {
            printf("added item %d\n", count);
        }
    }
    plat_close(file);
    return rc;
}

// ------------------------------------------------------------------ [SET]

int command_set(int argc, char **argv) {
    enum { MAX, PROXY, USE_PROXY, SHOW_FINISHED, AUTO_REMOVE, FOLDER, POS, COUNT };
    static const OptionDef defs[COUNT] = {
        {"--max", true},         {"--proxy", true},  {"--use-proxy", true}, {"--show-finished", true},
        {"--auto-remove", true}, {"--folder", true}, {"--pos", true}};
    const char *v[COUNT];
    if (!parse_options(argc, argv, defs, COUNT, v)) return EXIT_USAGE;
    const char *path = argv[0];
    bool any = false;
    for (int i = 0; i < COUNT; i++) any = any || v[i];
    if (!any) {
        fprintf(stderr, "quorvax-list: set: nothing to change\n");
        return EXIT_USAGE;
    }

    // Every value is checked before the file is touched.
    long long max = 0, use_proxy = 0, show_finished = 0, auto_remove = 0;
    int octets[4] = {0, 0, 0, 0}, port = 0;
    int32_t x = 0, y = 0;
    if (v[MAX] && !parse_number(v[MAX], 0, 9, &max)) return bad_value("--max", v[MAX], "0..9");
    if (v[PROXY] && !parse_proxy(v[PROXY], octets, &port))
        return bad_value("--proxy", v[PROXY], "A.B.C.D:PORT");
    if (v[USE_PROXY] && !parse_number(v[USE_PROXY], 0, 1, &use_proxy))
        return bad_value("--use-proxy", v[USE_PROXY], "0 or 1");
    if (v[SHOW_FINISHED] && !parse_number(v[SHOW_FINISHED], 0, 1, &show_finished))
        return bad_value("--show-finished", v[SHOW_FINISHED], "0 or 1");
    if (v[AUTO_REMOVE] && !parse_number(v[AUTO_REMOVE], 0, 1, &auto_remove))
        return bad_value("--auto-remove", v[AUTO_REMOVE], "0 or 1");
    if (v[FOLDER] && !check_length("--folder", v[FOLDER], FOLDER_MAX)) return EXIT_USAGE;
    if (v[POS] && !parse_position(v[POS], &x, &y)) return bad_value("--pos", v[POS], "X,Y");

    plat_file file = open_for_writing(path);
    if (file == PLAT_INVALID_FILE) return EXIT_FILE;
    uint8_t header[TOOL_HEADER_SIZE];
    if (!read_header(file, path, header)) {
        plat_close(file);
        return EXIT_FILE;
    }
    bool ok = true;
    uint8_t word[4];
    if (v[MAX]) ok = ok && write_byte(file, OFF_MAX_ACTIVE, max);
    if (v[AUTO_REMOVE]) ok = ok && write_byte(file, OFF_AUTO_REMOVE, auto_remove);
    if (v[SHOW_FINISHED]) ok = ok && write_byte(file, OFF_SHOW_FINISHED, show_finished);
    if (v[USE_PROXY]) ok = ok && write_byte(file, OFF_USE_PROXY, use_proxy);
    if (v[PROXY]) {
        uint8_t address[4] = {(uint8_t)octets[0], (uint8_t)octets[1], (uint8_t)octets[2],
                              (uint8_t)octets[3]};
        put_le32(word, (uint32_t)port);
        ok = ok && write_at(file, OFF_PROXY_PORT, word, 4) &&
             write_at(file, OFF_PROXY_ADDRESS, address, 4);
    }
    if (v[POS]) {
        put_le32(word, (uint32_t)x);
        ok = ok && write_at(file, OFF_WINDOW_X, word, 4);
        put_le32(word, (uint32_t)y);
        ok = ok && write_at(file, OFF_WINDOW_Y, word, 4);
    }
    if (v[FOLDER]) ok = ok && write_folder(file, v[FOLDER]);
    plat_close(file);
    if (!ok) return file_error(path, "write failed");
    return EXIT_OK;
}
