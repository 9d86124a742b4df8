// The station-event library's four calls, answered in-process so the unit
// tests see every message the daemon publishes.
#ifndef TESTS_DAEMON_FAKE_STA_LIB_H
#define TESTS_DAEMON_FAKE_STA_LIB_H

#include <vector>

#include "sta.h"

namespace fake_sta {

// Messages handed to sta_lib_notify, in order.
extern std::vector<sta_module_msg> notified;
// Calls of sta_lib_check_ch, with a null channel each time.
extern int check_calls;

void reset();

}  // namespace fake_sta

#endif
