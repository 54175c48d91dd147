// Which files of a folder are workbooks: the one listing rule both programs apply to a folder
// source.
#pragma once

#include <string>
#include <vector>

namespace tabrend {

// True when the name's last extension begins with "xls" in any letter case: what "*.xls"
// took on the original platform, where short names made .xlsx, .xlsm and .xlsb match too.
bool HasWorkbookExtension(const std::string& name);

// True for the owner file Excel leaves beside a workbook someone has open ("~$Book.xlsx"):
// not a workbook, and hidden where Excel runs, so no listing of workbooks takes it.
bool IsLockFileName(const std::string& name);

// The names (without folder) of the folder's ordinary, non-hidden files that carry a workbook
// extension, lock files left out, in name order (byte order: the listing's own order differs between runs).
// Returns false when the folder cannot be opened or reading it fails; names then holds, in
// name order, what was read before the failure.
bool ListWorkbookFiles(const std::string& folder, std::vector<std::string>& names);

}  // namespace tabrend
