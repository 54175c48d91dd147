// Drawings and other XML parts a sheet reaches, cleaned of what the output does not carry:
// shapes that show slicers or timelines, and elements that use a relationship the copy
// dropped. Each function returns the changed part, or nullopt when nothing had to change.
// Both throw AutomationError "<label>: part <part> is not well-formed XML ..." for a part
// they cannot read.
#pragma once

#include <optional>
#include <set>
#include <string>

namespace tabrend::spreadsheet {

// A drawing without its slicer and timeline shapes (their caches are the whole workbook's,
// and a shape left pointing at one makes the spreadsheet program repair the file); removed
// counts the shapes taken out.
std::optional<std::string> WithoutSlicerShapes(const std::string& drawing, const std::string& label,
                                               const std::string& part, int& removed);

// The part without the elements whose r:id, r:embed or r:link names one of the dropped
// relationships (a link on a shape, say), outermost first: none is left naming a
// relationship the part no longer has.
std::optional<std::string> WithoutUsesOf(const std::set<std::string>& dropped, const std::string& bytes,
                                         const std::string& label, const std::string& part);

}  // namespace tabrend::spreadsheet
