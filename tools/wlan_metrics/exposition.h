// The access point's figures in the Prometheus text exposition format
// (version 0.0.4): every family with HELP and TYPE, no timestamps.
#ifndef WLAN_METRICS_EXPOSITION_H
#define WLAN_METRICS_EXPOSITION_H

#include <string>
#include <vector>

#include "wlan_view.h"

namespace wlan_metrics {

// The exposition of SNAP; without STATIONS the per-station families are
// left out. Fields that are not numbers are named in PROBLEMS.
std::string exposition(const wlan_view::Snapshot &snap, bool stations, std::vector<std::string> *problems);

}  // namespace wlan_metrics

#endif
