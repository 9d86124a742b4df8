// Arbitrary 272-byte station-library records into the library callback.
#include <stdint.h>
#include <string.h>

#include "fuzz_world.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_world_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    sta_module_msg msg = {};
    memcpy(&msg, data, size < sizeof msg ? size : sizeof msg);
    sta_evt_proc(&msg, nullptr);
    return 0;
}
