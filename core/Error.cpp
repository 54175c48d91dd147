#include "core/Error.h"

namespace tabrend {

std::string Quoted(const std::string& pathOrName) {
  const auto slash = pathOrName.find_last_of('/');
  return "'" + (slash == std::string::npos ? pathOrName : pathOrName.substr(slash + 1)) + "'";
}

}  // namespace tabrend
