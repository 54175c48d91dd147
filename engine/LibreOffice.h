// Starting LibreOffice headless the way the conversions do (engine/Conversion.h): found on
// PATH, without a shell, in a process group of its own that a terminating signal kills, with
// TMPDIR in its own folder, nothing on its input or outputs, and under a time limit.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace tabrend::automation {

// The first "soffice" on PATH, as a shell would find it; "" when there is none.
std::string LibreOfficeProgram();

// "file://" and the path, percent-encoded, for -env:UserInstallation.
std::string LibreOfficeFileUrl(const std::string& path);

// Writes the settings of a user profile (profile/user/...) under which LibreOffice calculates
// every formula of the workbooks it loads, as a spreadsheet program does for those that ask for
// it; false, with errno set, when they cannot be written.
bool WriteRecalculatingProfile(const std::string& profile);

// How long one start may take for `workbooks` inputs, by SetConversionTimeLimit's rule.
std::chrono::milliseconds LibreOfficeTimeLimit(std::size_t workbooks);

// Runs arguments (arguments[0] the program) in folder, with folder/tmp as TMPDIR; kills its
// process group when limit runs out. Empty when it ran and exited with status 0, else what
// went wrong, as "LibreOffice failed with exit status 1".
std::string RunLibreOfficeIn(const std::vector<std::string>& arguments, const std::string& folder,
                             std::chrono::milliseconds limit);

}  // namespace tabrend::automation
