// Sets its own process title and reports what the rest of the process sees
// afterwards: its environment, its later arguments and the title itself.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

#include "platform_utils.h"

int main(int argc, char **argv, char **envp)
{
    if (argc < 3)
        return 2;
    if (init_title(argc, argv, envp, "probe: ") != 0)
        return 3;
    std::string mode = argv[2];
    if (mode == "long") {
        std::string big(4000, 'x');
        set_title("%s", big.c_str());
    } else {
        set_title("%s running", argv[1]);
    }
    const char *v = getenv("PROBE_VAR");
    printf("env=%s\n", v ? v : "(none)");
    printf("envp=%s\n", envp[0] ? envp[0] : "(none)");
    printf("arg=%s\n", argv[1]);

    // The argument area as written. qemu-user answers /proc/self/ itself;
    // the kernel's answer through /proc/thread-self names the emulator.
    printf("area=%s\n", argv[0]);
    char self[4096] = {}, kern[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) > 0 &&
        readlink("/proc/thread-self/exe", kern, sizeof kern - 1) > 0 && std::string(self) != kern)
        printf("emulator=%s\n", kern);

    std::ifstream f("/proc/self/cmdline");
    if (!f)
        return 4;
    std::string cmd{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    while (!cmd.empty() && cmd.back() == '\0')
        cmd.pop_back();
    printf("title=%s\n", cmd.c_str());
    return 0;
}
