// address_text.cpp - schemes and media extensions (see address_text.h).
#include "listfile/address_text.h"

#include <cstring>

#include "app/text_copy.h"

namespace {

// 1 when text[0, n) equals word (lower case) in any case.
int same_letters(const char *text, const char *word, int n) {
    for (int k = 0; k < n; k++)
        if (ascii_lower(text[k]) != word[k]) return 0;
    return 1;
}

// 1 when text begins with prefix (lower case) in any case; stops at the
// text's NUL.
int begins_with(const char *text, const char *prefix) {
    for (int k = 0; prefix[k]; k++)
        if (ascii_lower(text[k]) != prefix[k]) return 0;
    return 1;
}

const char *const MEDIA_EXTENSIONS[] = {
    ".mp4", ".m4v", ".webm", ".mov", ".mkv", ".mp3", ".m4a",
    ".ogg", ".ogv", ".oga", ".opus", ".flac", ".wav", ".aac",
};

const char *const MANIFEST_ENDINGS[] = {".m3u8", ".mpd", ".f4m"};
const char *const MANIFEST_SEGMENTS[] = {".ism/manifest", ".isml/manifest"};

}  // namespace

int address_scheme_length(const char *address) {
    if (!address) return 0;
    if (begins_with(address, "http://")) return 7;
    if (begins_with(address, "https://")) return 8;
    return 0;
}

int address_scheme_is_tls(const char *address) { return address_scheme_length(address) == 8; }

int ends_in_extension(const char *text, int length, const char *extension) {
    int n = (int)strlen(extension);
    // A name that is only the extension names no file.
    if (!text || length <= n) return 0;
    return same_letters(text + length - n, extension, n);
}

const char *media_extension_of(const char *text, int length) {
    for (const char *extension : MEDIA_EXTENSIONS)
        if (ends_in_extension(text, length, extension)) return extension + 1;
    return "";
}

int ends_in_media_extension(const char *text, int length) { return media_extension_of(text, length)[0] != 0; }

int path_names_manifest(const char *path, int length) {
    for (const char *ending : MANIFEST_ENDINGS)
        if (ends_in_extension(path, length, ending)) return 1;
    for (const char *segment : MANIFEST_SEGMENTS) {
        const int n = (int)strlen(segment);
        for (int k = 0; k + n <= length; k++)
            if (same_letters(path + k, segment, n)) return 1;
    }
    return 0;
}
