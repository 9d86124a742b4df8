#include "fake_sta_lib.h"

namespace fake_sta {
std::vector<sta_module_msg> published;
std::vector<std::string> calls;
void reset()
{
    published.clear();
    calls.clear();
}
}  // namespace fake_sta

extern "C" {

int sub_info_init(sub_info_t *) { return -1; }
int subscribe_dispatch(sub_info_t *) { return -1; }

int sta_lib_check_ch(void *channel)
{
    fake_sta::calls.push_back(channel == nullptr ? "check" : "check(channel)");
    return 0;
}

int sta_lib_notify(sta_module_msg *msg)
{
    if (fake_sta::published.size() >= 1024)  // long fuzzing runs publish without end
        fake_sta::reset();
    fake_sta::published.push_back(*msg);
    fake_sta::calls.push_back("notify");
    return 0;
}

}  // extern "C"
