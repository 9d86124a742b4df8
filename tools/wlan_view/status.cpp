// The daemon's counters: one call of its bus object's "status" method, on a
// connection of its own that lives only for that call.
#include <libubus.h>

#include "wlan_view.h"

namespace wlan_view {
namespace {

constexpr const char *kObject = "wlan_module";
constexpr const char *kMethod = "status";

// Flattens a reply table into name paths ("pass.done"); open-ended tables
// ("dropped", "sta_lib") come out as one item per member.
void flatten(blob_attr *table, const std::string &prefix, std::vector<StatusItem> &out, int depth)
{
    blob_attr *cur;
    size_t rem;
    blobmsg_for_each_attr(cur, table, rem)
    {
        if (!blobmsg_check_attr(cur, true))
            continue;
        StatusItem item;
        item.name = prefix + blobmsg_name(cur);
        switch (blobmsg_type(cur)) {
        case BLOBMSG_TYPE_TABLE:
            if (depth < 4)
                flatten(cur, item.name + ".", out, depth + 1);
            continue;
        case BLOBMSG_TYPE_STRING:
            item.kind = StatusItem::kText;
            item.text.assign(static_cast<const char *>(blobmsg_data(cur)),
                             strnlen(static_cast<const char *>(blobmsg_data(cur)), blobmsg_data_len(cur)));
            break;
        case BLOBMSG_TYPE_INT64:
            item.number = blobmsg_get_int64(cur);
            break;
        case BLOBMSG_TYPE_INT32:
            item.number = blobmsg_get_int32(cur);
            break;
        case BLOBMSG_TYPE_INT16:
            item.number = blobmsg_get_int16(cur);
            break;
        case BLOBMSG_TYPE_INT8:
            item.kind = StatusItem::kBool;
            item.number = blobmsg_get_u8(cur) != 0;
            break;
        default:
            continue;  // arrays and doubles: not part of the reply
        }
        out.push_back(std::move(item));
    }
}

void on_reply(ubus_request *req, int, blob_attr *msg)
{
    auto *snap = static_cast<Snapshot *>(req->priv);
    if (msg == nullptr)
        return;
    snap->status.clear();
    flatten(msg, "", snap->status, 0);
    snap->status_ok = true;
}

}  // namespace

void read_status(const Options &opt, Snapshot &snap)
{
    const char *socket = opt.bus_socket.empty() ? nullptr : opt.bus_socket.c_str();
    const std::string where = socket != nullptr ? socket : "the default socket";
    ubus_context *ctx = ubus_connect(socket);
    if (ctx == nullptr) {
        snap.problems.push_back("daemon not answering: no bus at " + where);
        return;
    }
    uint32_t id = 0;
    int rc = ubus_lookup_id(ctx, kObject, &id);
    if (rc != 0) {
        snap.problems.push_back(std::string("daemon not answering: no object ") + kObject + " on the bus (" +
                                ubus_strerror(rc) + ")");
    } else {
        blob_buf b = {};
        blob_buf_init(&b, 0);
        rc = ubus_invoke(ctx, id, kMethod, b.head, on_reply, &snap, opt.status_timeout_ms);
        blob_buf_free(&b);
        if (rc != 0 || !snap.status_ok) {
            snap.status_ok = false;
            snap.status.clear();
            snap.problems.push_back(std::string("daemon not answering: ") + kObject + " " + kMethod + " (" +
                                    ubus_strerror(rc) + ")");
        }
    }
    ubus_free(ctx);
}

}  // namespace wlan_view
