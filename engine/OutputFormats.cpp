#include "engine/OutputFormats.h"

#include "engine/Naming.h"

namespace tabrend {

const OutputFormatRow& FormatRow(OutputFormat format) {
  for (const OutputFormatRow& row : kOutputFormats)
    if (row.format == format) return row;
  return kOutputFormats.front();
}

std::optional<OutputFormat> FormatNamed(std::string_view word) {
  for (const OutputFormatRow& row : kOutputFormats)
    if (row.word == word) return row.format;
  return std::nullopt;
}

std::string OutputExtensionFor(OutputFormat format, const std::string& versionText) {
  const OutputFormatRow& row = FormatRow(format);
  return row.extension.empty() ? OutputExtension(versionText) : std::string(row.extension);
}

}  // namespace tabrend
