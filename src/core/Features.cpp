#include "core/Features.h"

namespace kestrel {

std::string ParseFeatureList(std::string_view text, TFeatureSet& features) {
  if (text == "all") {
    features = AllFeatures;
    return {};
  }
  if (text == "none") {
    features = 0;
    return {};
  }
  TFeatureSet set = 0;
  size_t start = 0;
  while (true) {
    size_t comma = text.find(',', start);
    std::string_view name =
        text.substr(start, comma == std::string_view::npos ? text.npos : comma - start);
    bool known = false;
    for (const TFeatureName& f : FeatureNames) {
      if (name == f.Option) {
        set |= f.Feature;
        known = true;
      }
    }
    if (!known) {
      return "unknown feature \"" + std::string(name) +
             "\" (use all, none, multiply-divide, move-record, bit-test, expanded-print-edit,"
             " binary-code, print-storage)";
    }
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  features = set;
  return {};
}

}  // namespace kestrel
