// Model library: the model's facts come from the environment or a model file,
// read afresh on every call so that a test or the simulated access point can
// change them while a process runs.

#include "hvkit.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// A whole decimal number in [lo, hi]; false for anything else.
bool parse_int(const char *s, long lo, long hi, int *out)
{
    if (s == nullptr || *s == '\0')
        return false;
    char *end = nullptr;
    errno = 0;
    long v = strtol(s, &end, 10);
    while (*end == ' ' || *end == '\t' || *end == '\n' || *end == '\r')
        ++end;
    if (errno != 0 || end == s || *end != '\0' || v < lo || v > hi)
        return false;
    *out = static_cast<int>(v);
    return true;
}

// Looks "key=value" up in the model file named by HVKIT_MODEL_FILE.
bool from_model_file(const char *key, long lo, long hi, int *out)
{
    const char *path = getenv("HVKIT_MODEL_FILE");
    if (path == nullptr || *path == '\0')
        return false;
    FILE *f = fopen(path, "re");
    if (f == nullptr)
        return false;
    char line[256];
    size_t klen = strlen(key);
    bool found = false;
    while (!found && fgets(line, sizeof line, f) != nullptr) {
        const char *p = line;
        while (*p == ' ' || *p == '\t')
            ++p;
        if (strncmp(p, key, klen) == 0 && p[klen] == '=')
            found = parse_int(p + klen + 1, lo, hi, out);
    }
    fclose(f);
    return found;
}

int lookup(const char *env_name, const char *file_key, long lo, long hi, int fallback)
{
    int v = 0;
    if (parse_int(getenv(env_name), lo, hi, &v))
        return v;
    if (from_model_file(file_key, lo, hi, &v))
        return v;
    return fallback;
}

}  // namespace

extern "C" int hvkit_get_current_model_slotnum(void)
{
    // Default: the access point's slot-count setting, itself "1" when unset.
    const char *setting = getenv("CAPWAP_MODEL_SLOT_NUM");
    int fallback = setting ? atoi(setting) : 1;
    if (fallback < 0)
        fallback = 0;
    return lookup("HVKIT_SLOT_NUM", "slotnum", 0, 64, fallback);
}

extern "C" int hvkit_wlan_get_hybridmode(void)
{
    return lookup("HVKIT_HYBRID_MODE", "hybridmode", 0, 255, 0);
}
