// The station-event library answered in-process, so that the tests see every
// message the daemon publishes and the order of the two publishing calls.
#ifndef TESTS_NETLINK_FAKE_STA_H
#define TESTS_NETLINK_FAKE_STA_H

#include <string>
#include <vector>

#include "sta.h"

namespace fake_sta {

extern std::vector<sta_module_msg> published;
// "check" and "notify" in the order the library was called.
extern std::vector<std::string> calls;
void reset();

}  // namespace fake_sta

#endif
