#include "wlan_periodic.h"

#include "seam.h"

extern "C" void *periodic_func(void *arg)
{
    (void)arg;
    for (;;) {
        rrm_sleep(50);
    }
    return nullptr;
}
