// The special features IBM sold for the 1401 that this machine can have installed.  Each adds op
// codes (or forms of one) to the basic machine; with a feature off its op codes are invalid, so
// the basic machine is what runs when none is on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel {

// One bit per feature; a set of them is a TFeatureSet.
enum TFeature : uint8_t {
  FEMultiplyDivide = 1,     // M (@) and D (%)
  FEMoveRecord = 2,         // MCM (P)
  FEBitTest = 4,            // BBE (W)
  FEExpandedPrintEdit = 8,  // MCE with asterisk protection and the floating dollar sign
  FEBinaryCode = 16,        // MCW with d-character A (binary decode) or B (binary code)
  FEPrintStorage = 32,      // the print buffer: a print frees the processor, B P and B R test it
};
using TFeatureSet = uint8_t;
inline constexpr TFeatureSet AllFeatures = 63;

// Each feature's key in the initialisation file, its name on the command line and its caption.
struct TFeatureName {
  TFeature Feature;
  const char* Key;
  const char* Option;
  const char* Caption;
};
inline constexpr TFeatureName FeatureNames[] = {
    {FEMultiplyDivide, "MultiplyDivide", "multiply-divide", "Multiply/Divide"},
    {FEMoveRecord, "MoveRecord", "move-record", "Move Record"},
    {FEBitTest, "BitTest", "bit-test", "Bit Test"},
    {FEExpandedPrintEdit, "ExpandedPrintEdit", "expanded-print-edit", "Expanded Print Edit"},
    {FEBinaryCode, "BinaryCode", "binary-code", "Binary Code and Decode"},
    {FEPrintStorage, "PrintStorage", "print-storage", "Print Storage"},
};

// "all", "none", or option names separated by commas.  Returns an empty text, or what is wrong.
std::string ParseFeatureList(std::string_view text, TFeatureSet& features);

}  // namespace kestrel
