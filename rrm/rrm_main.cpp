// The WLAN status daemon's entry point: one argument, the access point's own
// MAC address; everything else happens in run.
#include <stdio.h>

#include "platform_utils.h"
#include "wlan.h"

int main(int argc, char **argv, char **envp)
{
    // Line-buffered, so each line reaches a pipe whole and in order and
    // none is lost when the process aborts.
    setvbuf(stdout, nullptr, _IOLBF, 0);

    unsigned char mac[6] = {};
    if (argc != 2 || str2mac(argv[1], mac) != 0) {
        fprintf(stderr, "usage: %s <access point MAC, xx:xx:xx:xx:xx:xx>\n",
                argc > 0 && argv[0] != nullptr ? argv[0] : "rrm");
        return 2;
    }
    run(argc, argv, envp, mac);
    return 0;
}
