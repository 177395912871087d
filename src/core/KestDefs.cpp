#include "core/KestDefs.h"

namespace kestrel {

void RaiseProcessCheck(const std::string& message, uint16_t address) {
  throw EProcessCheck(message, address);
}

void RaiseIOCheck(const std::string& message, uint16_t address) {
  throw EIOCheck(message, address);
}

}  // namespace kestrel
