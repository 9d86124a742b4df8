// wlan_evt: the wifi manager's bus events as text.
//
// Builds an event record from named fields and sends it the way the wifi
// manager does (one attribute named after the event, carrying the whole
// 640-byte record), or listens and prints every event as one line of JSON,
// the records it knows as named fields. Only the public bus library API is
// used.

#include <libubus.h>

#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "record_text.h"

namespace {

using wlan_evt::EventKind;

constexpr int kBadUsage = 2;
constexpr int kFailed = 1;

volatile sig_atomic_t g_stop = 0;

void on_signal(int)
{
    g_stop = 1;
}

void usage(FILE *to)
{
    fprintf(to,
            "usage: wlan_evt [-s SOCKET] EVENT --FIELD VALUE...   build the event's record and send it\n"
            "       wlan_evt EVENT --FIELD VALUE... --out FILE    write the 640-byte record to FILE instead\n"
            "       wlan_evt [-s SOCKET] listen [-c COUNT] [-t SECONDS] [PATTERN...]\n"
            "                                    print each event as one line of JSON (PATTERN: a name,\n"
            "                                    or a prefix ending in '*'; default every event)\n"
            "       wlan_evt decode EVENT FILE   print a record file as listen would\n"
            "EVENT: sta_authorized sta_ip sta_leave channel_changed ssid\n"
            "  sta_authorized and sta_leave need --ifname and --mac, sta_ip also --ip,\n"
            "  channel_changed --ifname and --channel, ssid --ifname. Other fields are 0.\n"
            "  Fields may be written --name VALUE or --name=VALUE (needed for a value that begins\n"
            "  with \"--\"); '-' and '_' in names are alike.\n"
            "-s SOCKET: the bus socket (default: the bus library's default).\n"
            "listen prints the records of these events as their fields; fields that are 0 or\n"
            "empty are left out, except ifname, subtype and len. Other messages print as JSON,\n"
            "raw values as null.\n"
            "Exit status: 0 done, 1 not sent (no bus, file not written), 2 bad usage or value.\n\n");
    wlan_evt::print_fields(to);
}

int refuse(const std::string &why)
{
    fprintf(stderr, "wlan_evt: %s\n", why.c_str());
    return kBadUsage;
}

// --- Plain JSON of a message -------------------------------------------------

std::string list_json(const void *data, size_t len, bool array, int depth);

std::string value_json(struct blob_attr *a, int depth)
{
    char num[48];
    switch (blobmsg_type(a)) {
    case BLOBMSG_TYPE_TABLE:
    case BLOBMSG_TYPE_ARRAY:
        if (depth > 16)
            return "null";
        return list_json(blobmsg_data(a), blobmsg_data_len(a), blobmsg_type(a) == BLOBMSG_TYPE_ARRAY,
                         depth + 1);
    case BLOBMSG_TYPE_STRING:
        return wlan_evt::json_quote(blobmsg_get_string(a), strlen(blobmsg_get_string(a)));
    case BLOBMSG_TYPE_INT8:
        return blobmsg_get_u8(a) ? "true" : "false";
    case BLOBMSG_TYPE_INT16:
        snprintf(num, sizeof num, "%d", static_cast<int16_t>(blobmsg_get_u16(a)));
        return num;
    case BLOBMSG_TYPE_INT32:
        snprintf(num, sizeof num, "%d", static_cast<int32_t>(blobmsg_get_u32(a)));
        return num;
    case BLOBMSG_TYPE_INT64:
        snprintf(num, sizeof num, "%lld", static_cast<long long>(blobmsg_get_u64(a)));
        return num;
    case BLOBMSG_TYPE_DOUBLE:
        snprintf(num, sizeof num, "%.17g", blobmsg_get_double(a));
        return num;
    default:
        return "null";
    }
}

// A list of blobmsg attributes as "{ "name": value, ... }" or "[ value, ... ]";
// an attribute that does not check out ends the list.
std::string list_json(const void *data, size_t len, bool array, int depth)
{
    std::string out = array ? "[" : "{";
    struct blob_attr *pos;
    size_t rem = len;
    bool first = true;
    __blob_for_each_attr(pos, data, rem)
    {
        if (!blobmsg_check_attr(pos, !array))
            break;
        out += first ? " " : ", ";
        first = false;
        if (!array)
            out += wlan_evt::json_quote(blobmsg_name(pos), strlen(blobmsg_name(pos))) + ": ";
        out += value_json(pos, depth);
    }
    return out + (first ? "" : " ") + (array ? "]" : "}");
}

// The event's record, when the message is exactly what the wifi manager
// sends: one attribute named after the event, holding one whole record.
bool known_record(const char *type, struct blob_attr *msg, hvUMAC_event_msg_t *rec)
{
    struct blob_attr *pos;
    size_t rem = blob_len(msg);
    struct blob_attr *only = nullptr;
    int count = 0;
    __blob_for_each_attr(pos, blob_data(msg), rem)
    {
        if (!blobmsg_check_attr(pos, true))
            return false;
        only = pos;
        ++count;
    }
    if (count != 1 || strcmp(blobmsg_name(only), type) != 0 ||
        static_cast<size_t>(blobmsg_data_len(only)) != sizeof *rec)
        return false;
    memcpy(rec, blobmsg_data(only), sizeof *rec);
    return true;
}

// --- listen -----------------------------------------------------------------

long g_left = -1; // events still to print, -1 for no limit

void on_event(struct ubus_context *, struct ubus_event_handler *, const char *type,
              struct blob_attr *msg)
{
    if (type == nullptr || msg == nullptr || g_left == 0)
        return;
    const EventKind *kind = wlan_evt::find_event(type);
    hvUMAC_event_msg_t rec;
    const std::string body = kind != nullptr && known_record(type, msg, &rec)
                                 ? wlan_evt::to_json(rec, *kind)
                                 : list_json(blob_data(msg), blob_len(msg), false, 0);
    printf("{ %s: %s }\n", wlan_evt::json_quote(type, strlen(type)).c_str(), body.c_str());
    fflush(stdout);
    if (g_left > 0)
        --g_left;
}

bool parse_count(const char *s, long *out)
{
    char *end = nullptr;
    errno = 0;
    long v = strtol(s, &end, 10);
    if (errno != 0 || end == s || *end != '\0' || v < 1 || v > 1000000000)
        return false;
    *out = v;
    return true;
}

long now_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

int cmd_listen(const char *socket, int argc, char **argv)
{
    long seconds = 0;
    std::vector<const char *> patterns;
    for (int i = 0; i < argc; ++i) {
        const bool c = strcmp(argv[i], "-c") == 0;
        if (c || strcmp(argv[i], "-t") == 0) {
            if (i + 1 >= argc || !parse_count(argv[i + 1], c ? &g_left : &seconds))
                return refuse(std::string(argv[i]) + " needs a whole number from 1 up");
            ++i;
        } else if (argv[i][0] == '-') {
            return refuse(std::string("listen: unknown option ") + argv[i]);
        } else {
            patterns.push_back(argv[i]);
        }
    }
    if (patterns.empty())
        patterns.push_back("*");

    struct ubus_context *ctx = ubus_connect(socket);
    if (ctx == nullptr) {
        fprintf(stderr, "wlan_evt: cannot connect to the bus at %s\n",
                socket != nullptr ? socket : "its default socket");
        return kFailed;
    }
    static struct ubus_event_handler listener;
    memset(&listener, 0, sizeof listener);
    listener.cb = on_event;
    for (const char *p : patterns) {
        const int ret = ubus_register_event_handler(ctx, &listener, p);
        if (ret != 0) {
            fprintf(stderr, "wlan_evt: cannot listen for '%s': %s\n", p, ubus_strerror(ret));
            ubus_free(ctx);
            return kFailed;
        }
    }
    fprintf(stderr, "wlan_evt: listening\n");

    const long end = seconds > 0 ? now_ms() + seconds * 1000 : 0;
    int status = 0;
    while (!g_stop && g_left != 0) {
        int wait = -1;
        if (end != 0) {
            const long left = end - now_ms();
            if (left <= 0)
                break;
            wait = static_cast<int>(left);
        }
        struct pollfd p = {ctx->sock.fd, POLLIN, 0};
        const int n = poll(&p, 1, wait);
        if (n < 0 && errno != EINTR)
            break;
        if (n > 0)
            ubus_handle_event(ctx);
        if (ctx->sock.eof) {
            fprintf(stderr, "wlan_evt: the bus went away\n");
            status = kFailed;
            break;
        }
    }
    ubus_free(ctx);
    return status;
}

// --- build, send, decode ---------------------------------------------------

int cmd_send(const char *socket, const EventKind &event, int argc, char **argv)
{
    hvUMAC_event_msg_t rec = wlan_evt::blank_record(event);
    std::vector<std::string> given;
    std::string out;
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.size() < 3 || arg.compare(0, 2, "--") != 0)
            return refuse("'" + arg + "' is not a --FIELD (wlan_evt --help lists them)");
        std::string name = arg.substr(2);
        std::string value;
        const size_t eq = name.find('=');
        if (eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        } else if (i + 1 < argc && strncmp(argv[i + 1], "--", 2) != 0) {
            value = argv[++i];
        } else {
            return refuse("--" + name + " needs a value");
        }
        if (name == "out") {
            out = value;
            continue;
        }
        for (char &ch : name)
            if (ch == '-')
                ch = '_';
        const std::string why = wlan_evt::set_field(rec, event, name, value.c_str());
        if (!why.empty())
            return refuse(why);
        given.push_back(name);
    }
    for (const char *need : event.required) {
        bool found = need == nullptr;
        for (const std::string &g : given)
            found = found || g == need;
        if (!found)
            return refuse(std::string(event.name) + " needs --" + need);
    }

    if (!out.empty()) {
        FILE *f = fopen(out.c_str(), "wb");
        bool ok = f != nullptr && fwrite(&rec, sizeof rec, 1, f) == 1;
        ok = (f != nullptr && fclose(f) == 0) && ok;
        if (!ok) {
            fprintf(stderr, "wlan_evt: cannot write %s: %s\n", out.c_str(), strerror(errno));
            return kFailed;
        }
        return 0;
    }

    struct ubus_context *ctx = ubus_connect(socket);
    if (ctx == nullptr) {
        fprintf(stderr, "wlan_evt: cannot connect to the bus at %s\n",
                socket != nullptr ? socket : "its default socket");
        return kFailed;
    }
    struct blob_buf b;
    memset(&b, 0, sizeof b);
    blob_buf_init(&b, 0);
    int ret = blobmsg_add_field(&b, BLOBMSG_TYPE_UNSPEC, event.name, &rec, sizeof rec);
    if (ret == 0)
        ret = ubus_send_event(ctx, event.name, b.head);
    if (ret != 0)
        fprintf(stderr, "wlan_evt: %s not sent: %s\n", event.name, ubus_strerror(ret));
    blob_buf_free(&b);
    ubus_free(ctx);
    return ret == 0 ? 0 : kFailed;
}

int cmd_decode(int argc, char **argv)
{
    if (argc != 2)
        return refuse("decode needs EVENT FILE");
    const EventKind *event = wlan_evt::find_event(argv[0]);
    if (event == nullptr)
        return refuse(std::string("no record known for event '") + argv[0] + "'");
    FILE *f = fopen(argv[1], "rb");
    if (f == nullptr) {
        fprintf(stderr, "wlan_evt: cannot read %s: %s\n", argv[1], strerror(errno));
        return kFailed;
    }
    hvUMAC_event_msg_t rec;
    const size_t n = fread(&rec, 1, sizeof rec, f);
    const bool longer = fgetc(f) != EOF;
    fclose(f);
    if (n != sizeof rec || longer)
        return refuse(std::string(argv[1]) + " does not hold one record of " +
                      std::to_string(sizeof rec) + " bytes");
    printf("{ %s: %s }\n", wlan_evt::json_quote(event->name, strlen(event->name)).c_str(),
           wlan_evt::to_json(rec, *event).c_str());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const char *socket = nullptr;
    int i = 1;
    for (; i < argc; ++i) {
        if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0) {
            usage(stdout);
            return 0;
        }
        if (strcmp(argv[i], "-s") != 0)
            break;
        if (i + 1 >= argc)
            return refuse("-s needs a socket path");
        socket = argv[++i];
    }
    if (i >= argc) {
        usage(stderr);
        return kBadUsage;
    }

    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &sa, nullptr);
    sa.sa_handler = on_signal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    const char *verb = argv[i];
    if (strcmp(verb, "listen") == 0)
        return cmd_listen(socket, argc - i - 1, argv + i + 1);
    if (strcmp(verb, "decode") == 0)
        return cmd_decode(argc - i - 1, argv + i + 1);
    const EventKind *event = wlan_evt::find_event(verb);
    if (event == nullptr)
        return refuse(std::string("unknown event '") + verb + "' (wlan_evt --help lists them)");
    return cmd_send(socket, *event, argc - i - 1, argv + i + 1);
}
