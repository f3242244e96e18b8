// The device file: a probed device and the driver parameters a recorder keeps
// for it, written by `quarnel probe --save FILE` and read by `--device FILE`
// of every command that opens a device.
//
//   # quarnel device file ...
//   address=127.0.0.1
//   port=8080
//   user=admin
//   model=Vista QSIM-100
//   codec=h264
//   channels=1
//   inputs=2
//   outputs=1
//   param1=0
//   ...
//   param9=0
//
// One name=value a line; '#' starts a comment line; blank lines are skipped.
// The password is not kept: give it with --password.
//
// Thread-safety: pure functions over text and files.
#pragma once

#include <string>
#include <string_view>

#include "tools/cli/Options.h"

namespace dravnel::cli {

// The file's text for these options (password left out). False when a value
// cannot be written on one line.
bool FormatDeviceFile(const DeviceOptions& device, std::string& text, std::string& error);
// Reads the text into `device`, over what it holds; false with a one-line
// error ("line 3: ...") on anything it does not know.
bool ParseDeviceFile(std::string_view text, DeviceOptions& device, std::string& error);

bool SaveDeviceFile(const std::string& path, const DeviceOptions& device, std::string& error);
bool LoadDeviceFile(const std::string& path, DeviceOptions& device, std::string& error);

}  // namespace dravnel::cli
