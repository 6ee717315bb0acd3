// instance_name.h - the hash of a list's key (its file's absolute path)
// that every backend puts in the name under which instances on that list
// meet, so that the name stays short whatever the path's length.  Plain
// code with no system header, so that any backend may include it.
#pragma once

#include <cstdint>

// FNV-1a, 64 bits, over the key's bytes.
inline uint64_t instance_key_hash(const char *key) {
    uint64_t h = 1469598103934665603ull;
    for (const unsigned char *p = (const unsigned char *)key; *p; p++) {
        h ^= *p;
        h *= 1099511628211ull;
    }
    return h;
}
