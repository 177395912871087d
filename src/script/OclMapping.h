// The character mapping as the scripts and the front panel use it: CHARMAP installs a mapping
// string, a script load, DECK and the start-up switch card loads back to the control file, and
// CHARSET names the convention loads use in its place.
#pragma once

#include <string>

#include "charset/IBMChars.h"
#include "script/KestIOCL.h"

namespace kestrel {

class TCharMapControl : public IMappingControl {
 public:
  explicit TCharMapControl(TCharMap& map) : map_(map) {}
  void SetMappingString(const std::string& text) override { map_.SetMappingString(text); }
  void SetUseCmcFile(bool on) override { map_.UseCmcFile = on; }
  void SetConvention(const TCharConvention* convention) override { map_.SetConvention(convention); }

 private:
  TCharMap& map_;
};

}  // namespace kestrel
