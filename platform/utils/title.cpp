// Process title: the text ps shows for this process.
//
// The kernel shows the memory that held the arguments (and, once the title
// runs over their end, the environment strings after them). init_title moves
// the environment strings and the later arguments to the heap, so that the
// whole block can be written over; set_title then writes the prefix and the
// formatted text there.

#include "platform_utils.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char **environ;

namespace {

char *g_area = nullptr;      // start of the argument and environment block
size_t g_room = 0;           // bytes in it
size_t g_arg_room = 0;       // bytes of the argument part
char *g_prefix = nullptr;

bool inside(const char *p, const char *start, const char *end)
{
    return p >= start && p < end;
}

// Copies the strings of a null-ended array that lie in [start, end) to the
// heap and points the array at the copies.
bool move_strings(char **arr, const char *start, const char *end, int from)
{
    if (arr == nullptr)
        return true;
    for (int i = from; arr[i] != nullptr; ++i) {
        if (!inside(arr[i], start, end))
            continue;
        char *copy = strdup(arr[i]);
        if (copy == nullptr)
            return false;
        arr[i] = copy;
    }
    return true;
}

}  // namespace

extern "C" int init_title(int argc, char **argv, char **envp, const char *prefix)
{
    if (g_area != nullptr)
        return 0;
    if (argc < 1 || argv == nullptr || argv[0] == nullptr)
        return -1;

    // The block: argv strings one after another, then the environment strings
    // that follow directly.
    char *start = argv[0];
    char *end = argv[0] + strlen(argv[0]) + 1;
    for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
        if (argv[i] != end)
            break;
        end = argv[i] + strlen(argv[i]) + 1;
    }
    char *arg_end = end;
    char **env = envp ? envp : environ;
    for (int i = 0; env != nullptr && env[i] != nullptr; ++i) {
        if (env[i] != end)
            break;
        end = env[i] + strlen(env[i]) + 1;
    }

    // The process's environment array: a heap copy, with heap strings.
    size_t n = 0;
    while (environ != nullptr && environ[n] != nullptr)
        ++n;
    char **fresh = static_cast<char **>(calloc(n + 1, sizeof(char *)));
    if (fresh == nullptr)
        return -1;
    for (size_t i = 0; i < n; ++i)
        fresh[i] = environ[i];
    if (!move_strings(fresh, start, end, 0))
        return -1;
    // The caller's arrays keep working too.
    if (envp != nullptr && envp != environ && !move_strings(envp, start, end, 0))
        return -1;
    if (envp != nullptr && envp == environ) {
        for (size_t i = 0; i < n; ++i)
            envp[i] = fresh[i];
    }
    environ = fresh;
    if (!move_strings(argv, start, end, 1))
        return -1;

    g_prefix = strdup(prefix ? prefix : "");
    if (g_prefix == nullptr)
        return -1;
    g_area = start;
    g_room = static_cast<size_t>(end - start);
    g_arg_room = static_cast<size_t>(arg_end - start);
    if (g_room < 2) {
        g_area = nullptr;
        return -1;
    }
    return 0;
}

extern "C" void set_title(const char *fmt, ...)
{
    if (g_area == nullptr || fmt == nullptr)
        return;
    char text[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);

    size_t plen = strlen(g_prefix);
    size_t tlen = strlen(text);
    size_t max = g_room - 1;
    size_t used = 0;
    size_t take = plen < max ? plen : max;
    memcpy(g_area, g_prefix, take);
    used = take;
    take = tlen < max - used ? tlen : max - used;
    memcpy(g_area + used, text, take);
    used += take;
    memset(g_area + used, 0, g_room - used);
}
