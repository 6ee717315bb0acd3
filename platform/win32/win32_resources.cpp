// win32_resources.cpp - the skin and the icons, taken from the resources of
// the program's own module (platform/win32/resources/quorvax.rc).
//
// The Windows program carries the pictures once, as resources; the arrays
// the Linux program compiles in are not linked here.  The icons are read
// back from their icon resources into the top-down pixel arrays the core
// asks for.
#include "resources/resources.h"

#include <windows.h>

#include <cstring>
#include <vector>

namespace {

const int SKIN_RESOURCE_ID = 1234;

// The directory of an icon resource (RT_GROUP_ICON): a header, then one
// entry per image, whose last field names the RT_ICON resource.
#pragma pack(push, 2)
struct GroupIconHeader {
    WORD reserved;
    WORD type;
    WORD count;
};
struct GroupIconEntry {
    BYTE width;
    BYTE height;
    BYTE colours;
    BYTE reserved;
    WORD planes;
    WORD bit_count;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)
static_assert(sizeof(GroupIconHeader) == 6 && sizeof(GroupIconEntry) == 14,
              "the directory layout of icon resources");

struct IconPixels {
    bool loaded = false;
    std::vector<uint32_t> pixels;   // top-down, alpha in the top byte
    int width = 0;
    int height = 0;
};

IconPixels window_icon, tray_icon;

const void *resource_bytes(LPCWSTR name, LPCWSTR type, DWORD *size) {
    HRSRC found = FindResourceW(nullptr, name, type);
    if (!found) return nullptr;
    HGLOBAL loaded = LoadResource(nullptr, found);
    if (!loaded) return nullptr;
    *size = SizeofResource(nullptr, found);
    return LockResource(loaded);
}

// Reads the 32-bit image of the icon resource: a bitmap of twice the
// height, colour rows bottom-up in blue, green, red, alpha order (the
// core's pixel word read little-endian), then the AND mask, which is not
// needed since the alpha says the same.  false for anything else.
bool read_icon(const wchar_t *name, IconPixels *icon) {
    DWORD size = 0;
    const BYTE *dir = (const BYTE *)resource_bytes(name, MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */, &size);
    if (!dir || size < sizeof(GroupIconHeader)) return false;
    GroupIconHeader header;
    memcpy(&header, dir, sizeof header);
    if (header.type != 1 || size < sizeof header + header.count * sizeof(GroupIconEntry)) return false;
    for (WORD i = 0; i < header.count; i++) {
        GroupIconEntry entry;
        memcpy(&entry, dir + sizeof header + i * sizeof entry, sizeof entry);
        if (entry.bit_count != 32) continue;
        DWORD image_size = 0;
        const BYTE *image = (const BYTE *)resource_bytes(MAKEINTRESOURCEW(entry.id),
                                                         MAKEINTRESOURCEW(3) /* RT_ICON */, &image_size);
        BITMAPINFOHEADER bih;
        if (!image || image_size < sizeof bih) continue;
        memcpy(&bih, image, sizeof bih);
        const int w = bih.biWidth, h = bih.biHeight / 2;
        if (bih.biBitCount != 32 || bih.biCompression != BI_RGB || w <= 0 || h <= 0 || w > 256 || h > 256 ||
            bih.biSize + (DWORD)(w * h) * 4 > image_size)
            continue;
        const BYTE *rows = image + bih.biSize;
        icon->pixels.resize((size_t)w * h);
        for (int y = 0; y < h; y++)
            memcpy(&icon->pixels[(size_t)y * w], rows + (size_t)(h - 1 - y) * w * 4, (size_t)w * 4);
        icon->width = w;
        icon->height = h;
        return true;
    }
    return false;
}

}  // namespace

// Looked up by type and number only, in the program's own module.  The
// resource stays mapped for the life of the process.
const uint8_t *find_skin_resource(uint32_t *size_bytes) {
    DWORD size = 0;
    const void *bytes = resource_bytes(MAKEINTRESOURCEW(SKIN_RESOURCE_ID), MAKEINTRESOURCEW(10) /* RT_RCDATA */,
                                       &size);
    if (size_bytes) *size_bytes = bytes ? (uint32_t)size : 0;
    return (const uint8_t *)bytes;
}

// Read once; the arrays live as long as the process, as the core expects of
// resources.
const uint32_t *find_icon_resource(const char *name, int *width, int *height) {
    IconPixels *icon = nullptr;
    const wchar_t *resource = nullptr;
    if (name && strcmp(name, "iCOO1") == 0) {
        icon = &window_icon;
        resource = L"iCOO1";
    } else if (name && strcmp(name, "iCOO2") == 0) {
        icon = &tray_icon;
        resource = L"iCOO2";
    }
    if (icon && !icon->loaded) icon->loaded = read_icon(resource, icon);
    const bool ok = icon && icon->loaded;
    if (width) *width = ok ? icon->width : 0;
    if (height) *height = ok ? icon->height : 0;
    return ok ? icon->pixels.data() : nullptr;
}
