// Any received event payload: decoded or refused, never a fault.
#include <cstddef>
#include <cstdint>

#include "sta_lib_ext.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    sta_module_msg out;
    char why[128];
    sta_lib_decode(size > 0 && (data[0] & 1) ? "stalib.sta_asso" : nullptr, data, size, &out, why,
                   sizeof why);
    return 0;
}
