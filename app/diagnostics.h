// Texts for the technician's quiet channel (tooltips and --trace): what the
// last scan tried and why each port failed, and which device a COM number
// stands for. Never shown in a caption; the window's texts stay as they are.
#pragma once
#include <string>
#include <utility>
#include <vector>

#include "app/window_model.h"

namespace torvik::app {

// What the scan tried: "The scan tried:", then one line per port in the
// order tried:
//   "COM1 (/dev/ttyS0) at 4800,n,8,1 to 230400,e,8,1 (14 settings): no answer"
//   "COM3 (/dev/ttyUSB0) at 19200,e,8,1: busy: held by ModemManager (pid 812)"
//   "COM4 to COM16: no such device"
// Consecutive openings of one port with the same outcome share a line, as
// do consecutive ports without a device that failed alike. When no serial
// device exists (`present_devices` is empty and nothing opened), a hint on
// the adapter and brltty follows. Serial devices the system uses, which
// have no COM number, follow the ports tried, one line each:
//   "/dev/ttyS0: skipped: system console"
std::string DescribeScan(
    const std::vector<PortAttempt>& attempts, const std::vector<std::string>& present_devices,
    const std::vector<std::pair<std::string, std::string>>& skipped_devices = {});

// The device behind the stored COM number: "COM3 = /dev/ttyUSB0", "COM3: no
// device", or "no COM port yet" before any scan found the reader.
std::string DescribeLink(int port, const std::string& device);

}  // namespace torvik::app
