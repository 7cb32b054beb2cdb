#pragma once

#include <memory>

class QSignalSpy;

namespace PelkPlus {

class DeviceAgent;
class DeviceMonitor;
struct DeviceInfo;

// Takes the monitor's next connection from the spy on its connected signal (waiting for one when
// none came yet), brings an agent up on it and gives the device's record; null when either the
// connection or the agent's answer does not come in time.
std::unique_ptr<DeviceAgent> connectAgent(DeviceMonitor& monitor, QSignalSpy& connected, DeviceInfo* info);
// The same for the first connection from now on.
std::unique_ptr<DeviceAgent> connectAgent(DeviceMonitor& monitor, DeviceInfo* info);

} // namespace PelkPlus
