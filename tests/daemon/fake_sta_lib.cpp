#include "fake_sta_lib.h"

#include <string.h>

namespace fake_sta {
std::vector<sta_module_msg> notified;
int check_calls = 0;
void reset()
{
    notified.clear();
    check_calls = 0;
}
}  // namespace fake_sta

extern "C" {

int sub_info_init(sub_info_t *) { return -1; }
int subscribe_dispatch(sub_info_t *) { return -1; }

int sta_lib_check_ch(void *channel)
{
    if (channel == nullptr)
        ++fake_sta::check_calls;
    return 0;
}

int sta_lib_notify(sta_module_msg *msg)
{
    sta_module_msg copy;
    memcpy(&copy, msg, sizeof copy);
    if (fake_sta::notified.size() >= 4096)  // long fuzzing runs
        fake_sta::notified.clear();
    fake_sta::notified.push_back(copy);
    return 0;
}

}  // extern "C"
