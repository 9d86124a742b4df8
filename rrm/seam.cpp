#include "seam.h"

#include <unistd.h>

namespace {

FILE *real_cmd_open(const char *command, const char *mode) { return popen(command, mode); }
int real_cmd_close(FILE *stream) { return pclose(stream); }
unsigned int real_sleep(unsigned int seconds) { return sleep(seconds); }
time_t real_now(time_t *out) { return time(out); }

constexpr rrm_seam_ops kRealOps = {real_cmd_open, real_cmd_close, real_sleep, real_now};

}  // namespace

extern "C" {

rrm_seam_ops rrm_seam = kRealOps;

void rrm_seam_reset(void) { rrm_seam = kRealOps; }

FILE *rrm_cmd_open(const char *command, const char *mode) { return rrm_seam.cmd_open(command, mode); }
int rrm_cmd_close(FILE *stream) { return rrm_seam.cmd_close(stream); }
unsigned int rrm_sleep(unsigned int seconds) { return rrm_seam.sleep_s(seconds); }
time_t rrm_now(time_t *out) { return rrm_seam.now(out); }

}
