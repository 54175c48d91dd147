// What kind of workbook file a path holds, told by content, not by extension: the native
// engine reads OOXML packages; the other workbook formats are converted before opening.
#pragma once

#include <string>

namespace tabrend::spreadsheet {

enum class FileFormat {
  kOther,             // an OOXML package, or anything the native engine will describe itself
  kEncryptedPackage,  // an OOXML package encrypted into a compound file
  kExcel97,           // a BIFF workbook (.xls): a compound file with a Workbook or Book stream
  kBinaryPackage,     // a ZIP package whose workbook part is xl/workbook.bin (.xlsb)
  kOpenDocument,      // an OpenDocument spreadsheet (.ods)
};

// Never throws: a file that cannot be read or recognised is kOther, and opening it natively
// says what is wrong with it.
FileFormat DetectFileFormat(const std::string& path);

// True when path is a compound file (the OLE2 container of .xls and of encrypted packages)
// whose root storage holds a stream of that name.
bool CompoundHasStream(const std::string& path, const std::string& streamName);

// True when a workbook of the converted formats declares that it is encrypted, so that no
// reader can open it without its password: a BIFF workbook stream with a FILEPASS record, or
// an OpenDocument manifest with encryption data.
bool NeedsPassword(const std::string& path);

}  // namespace tabrend::spreadsheet
