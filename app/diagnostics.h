// SPDX-License-Identifier: MIT
// Texts for the technician's quiet channel (tooltips, --trace and the port
// list): what the last scan tried and what came back on each port, and which
// device a COM number stands for. Never shown in a caption; the window's
// texts stay as they are. Written in the language in force, from a table of
// their own beside the message catalogue.
#pragma once
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/window_model.h"
#include "link/com_map.h"

namespace torvik::app {

// How the scan ran, beyond its record.
struct ScanContext {
    int language = 0;     // 0 English, 1 Simplified, 2 Traditional Chinese
    bool locked = false;  // chkLock was ticked: one setting per port
};

// What the scan tried: "The scan tried:", then one line per port in the
// order tried:
//   "COM1 (/dev/ttyS0) at 4800,n,8,1 to 230400,e,8,1 (14 settings): nothing arrived"
//   "COM2 (/dev/ttyUSB1) at 9600,n,8,1: garbled: wrong speed or parity, noise, or two
//    devices on the line (first bytes: 0A 7F 33)"
//   "COM3 (/dev/ttyUSB0) at 19200,e,8,1: busy: held by ModemManager (pid 812)"
//   "COM4 to COM16: no such device"
// Consecutive openings of one port with the same outcome share a line (a
// garbled run shows the bytes of its first opening), as do consecutive
// ports without a device that failed alike. Serial devices the system
// uses, which have no COM number, follow the ports tried, one line each:
//   "/dev/ttyS0: skipped: system console"
// When no serial device exists (`present_devices` is empty and nothing
// opened), a hint on the adapter and brltty follows; when the lock was
// ticked and nothing answered, the hint to clear it so that all fourteen
// settings are tried.
std::string DescribeScan(
    const std::vector<PortAttempt>& attempts, const std::vector<std::string>& present_devices,
    const std::vector<std::pair<std::string, std::string>>& skipped_devices = {},
    const ScanContext& context = {});

// The device behind the stored COM number: "COM3 = /dev/ttyUSB0", "COM3: no
// device", or "no COM port yet" before any scan found the reader.
std::string DescribeLink(int port, const std::string& device, int language = 0);

// The same with the adapter from the COM map: "COM3 = /dev/ttyUSB0, FTDI
// FT232R USB UART, by-id /dev/serial/by-id/...", "COM3 = /dev/pts/5
// (pinned)", "COM3: no device (kept for FTDI FT232R USB UART, last seen
// /dev/ttyUSB0)".
std::string DescribeLink(int port, const link::ComMap& map, int language = 0);

// Keeps the quiet channel in step with the window: the account of the last
// scan as the tooltip of pnMsg, the device behind the stored COM number as
// the tooltip of cmbBaudRate, written after each scan and again in the new
// language when btnEng, btnGB or btnBIG5 is pressed. `trace_line`, when
// set, receives each scan's account as well. Call after FormCreate, with a
// map that outlives the form's handlers.
void InstallDiagnostics(TfrmModule& form, const link::ComMap& map,
                        std::function<void(const std::string&)> trace_line = {});

// The entry of the status panel's context menu that copies the scan
// account, in the language in force.
std::string CopyScanAccountCaption(int language);

}  // namespace torvik::app
