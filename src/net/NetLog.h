#pragma once
// The link's lines in the process log, attributed to "network".
#include <glog/logging.h>

#define NETLOG google::LogMessage("network", __LINE__).stream()
