// address_text.h - the few facts about web addresses and media file names
// that capture, requests, the list file's checks and the item actions share:
// which scheme an address begins with, and which names end in a media
// extension.
#pragma once

// Length of the scheme an address begins with: 7 for "http://", 8 for
// "https://" (either in any case), 0 for none.
int address_scheme_length(const char *address);
// 1 when the address begins with "https://" (in any case).
int address_scheme_is_tls(const char *address);

// 1 when the first length characters of text end in "." and one of the media
// extensions (mp4 m4v webm mov mkv mp3 m4a ogg ogv oga opus flac wav aac), in
// any case, with at least one character before the dot.
int ends_in_media_extension(const char *text, int length);
// The media extension (lower case, without its dot) the first length
// characters of text end in, by the same rule; "" for none.
const char *media_extension_of(const char *text, int length);
// 1 when the first length characters of text end in extension (given with
// its dot), in any case, with at least one character before the dot.
int ends_in_extension(const char *text, int length, const char *extension);
// 1 when a path names a streaming manifest rather than a file: it ends in
// ".m3u8", ".mpd" or ".f4m", or holds ".ism/manifest" or ".isml/manifest"
// (any case).
int path_names_manifest(const char *path, int length);
