// The loopback peers under the name bench/relay_bench.cpp includes them by; tests use
// support/Loopback.h. Goes once the benchmark includes that header itself.
#pragma once

#include "support/Loopback.h"

namespace ovelta::testkit {

using test::FreePort;
using test::Listener;
using test::Peer;

}  // namespace ovelta::testkit
