// The maker's home page and support address, set when the program is built
// (TABREND_HOME_PAGE and TABREND_SUPPORT_EMAIL in the CMake cache), and the help file.
#pragma once

#include <QString>

namespace tabrend::gui {

inline constexpr const char* kHomePage = TABREND_HOME_PAGE;
inline constexpr const char* kSupportEmail = TABREND_SUPPORT_EMAIL;
// The help file: the compiled one when it is there, else the manual shipped with the program.
inline constexpr const char* kCompiledHelpFile = "help.chm";
inline constexpr const char* kHelpManual = "help.html";
// Where an installed program's manual lies, relative to the program folder (bin/).
inline constexpr const char* kInstalledHelpFolder = "../share/tabrend";

// The help file the Help command opens: help.chm in the program folder when it is there, else
// help.html there (a build tree), else the installed manual under share/tabrend. When none is
// there, help.html in the program folder, whose opening then shows nothing.
QString HelpFile(const QString& programFolder);

}  // namespace tabrend::gui
