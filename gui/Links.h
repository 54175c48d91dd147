// The maker's home page and support address, set when the program is built
// (TABREND_HOME_PAGE and TABREND_SUPPORT_EMAIL in the CMake cache).
#pragma once

namespace tabrend::gui {

inline constexpr const char* kHomePage = TABREND_HOME_PAGE;
inline constexpr const char* kSupportEmail = TABREND_SUPPORT_EMAIL;
// The help file: the compiled one when it is there, else the manual shipped with the program.
inline constexpr const char* kCompiledHelpFile = "help.chm";
inline constexpr const char* kHelpManual = "help.html";

}  // namespace tabrend::gui
