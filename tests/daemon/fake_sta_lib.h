// The station-event library answered in-process, so that the tests see every
// message the daemon publishes and the order of the library calls.
#ifndef TESTS_DAEMON_FAKE_STA_LIB_H
#define TESTS_DAEMON_FAKE_STA_LIB_H

#include <string>
#include <vector>

#include "sta.h"

namespace fake_sta {

// Messages handed to sta_lib_notify, in order.
extern std::vector<sta_module_msg> published;
// "check" and "notify" in the order the library was called.
extern std::vector<std::string> calls;
void reset();

}  // namespace fake_sta

#endif
