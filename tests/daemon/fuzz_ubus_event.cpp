// Arbitrary event message blobs into the bus event handler.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "fuzz_world.h"
#include "wlan_ubus.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_world_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The bus library hands over a well-framed attribute whose payload is
    // the event's attribute list; the list itself is arbitrary.
    if (size > BLOB_ATTR_LEN_MASK - sizeof(struct blob_attr))
        return 0;
    const size_t total = sizeof(struct blob_attr) + size;
    auto *msg = static_cast<struct blob_attr *>(malloc(total));
    if (msg == nullptr)
        return 0;
    msg->id_len = cpu_to_be32(static_cast<uint32_t>(total));
    memcpy(msg->data, data, size);
    const char *methods[] = {"sta_authorized", "sta_ip", "channel_changed", "ssid"};
    ubus_event_handle(nullptr, nullptr, methods[size % 4], msg);
    free(msg);
    return 0;
}
