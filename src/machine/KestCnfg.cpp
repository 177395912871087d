#include "machine/KestCnfg.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace kestrel {

namespace {
constexpr size_t MaxProfileBytes = 4u << 20;

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// "[Name]" gives Name; any other line gives false.
bool SectionName(const std::string& line, std::string& name) {
  std::string t = Trim(line, " \t");
  if (t.size() < 2 || t.front() != '[') return false;
  size_t close = t.find(']');
  if (close == std::string::npos) return false;
  name = Trim(t.substr(1, close - 1), " \t");
  return true;
}

// "Key=Value" gives Key and Value, both without surrounding blanks.
bool KeyValue(const std::string& line, std::string& key, std::string& value) {
  size_t eq = line.find('=');
  if (eq == std::string::npos) return false;
  key = Trim(line.substr(0, eq), " \t");
  value = Trim(line.substr(eq + 1), " \t");
  return !key.empty();
}

bool ParseInteger(const std::string& text, int32_t& result) {
  std::string t = Trim(text, " \t");
  size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
  int base = 10;
  if (t.size() - i > 2 && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= t.size()) return false;
  int64_t value = 0;
  for (; i < t.size(); ++i) {
    char c = t[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    value = value * base + digit;
    if (value > (base == 16 ? int64_t{UINT32_MAX} : int64_t{INT32_MAX} + 1)) return false;
  }
  if (base == 16) value = static_cast<int32_t>(static_cast<uint32_t>(value));
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return false;
  result = static_cast<int32_t>(value);
  return true;
}

// The extension of a file name replaced (or added): from the last dot of its name part.
std::string ChangeFileExt(const std::string& name, const std::string& extension) {
  size_t slash = name.find_last_of("/\\");
  size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
    return name + extension;
  }
  return name.substr(0, dot) + extension;
}
}  // namespace

// ---- Profile file ---------------------------------------------------------------------------

void TProfileFile::Open(std::string path) {
  path_ = std::move(path);
  lines_.clear();
  lineEnd_ = "\n";
  refused_ = false;
  std::ifstream in(path_, std::ios::binary);
  if (!in) return;
  std::string text;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    text.append(buffer, static_cast<size_t>(in.gcount()));
    // A settings file is a few lines; anything this large is not one and reads as empty.  It is
    // not ours to replace either: Flush leaves it alone.
    if (text.size() > MaxProfileBytes) {
      refused_ = true;
      return;
    }
  }
  if (text.find("\r\n") != std::string::npos) lineEnd_ = "\r\n";
  // A line feed, a carriage return, or the pair of them ends a line, so no line keeps a stray
  // carriage return that writing it back would turn into a line end of its own.
  std::string line;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      lines_.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines_.push_back(line);
}

int TProfileFile::FindSection(const std::string& section) const {
  std::string name;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (SectionName(lines_[i], name) && SameName(name, section)) return static_cast<int>(i);
  }
  return -1;
}

int TProfileFile::FindKey(const std::string& section, const std::string& key) const {
  int header = FindSection(section);
  if (header < 0) return -1;
  std::string name, k, v;
  for (size_t i = static_cast<size_t>(header) + 1; i < lines_.size(); ++i) {
    if (SectionName(lines_[i], name)) break;
    if (KeyValue(lines_[i], k, v) && SameName(k, key)) return static_cast<int>(i);
  }
  return -1;
}

size_t TProfileFile::SectionEnd(int header) const {
  size_t end = static_cast<size_t>(header) + 1;
  std::string name, k, v;
  for (size_t i = end; i < lines_.size(); ++i) {
    if (SectionName(lines_[i], name)) break;
    if (KeyValue(lines_[i], k, v)) end = i + 1;
  }
  return end;
}

std::string TProfileFile::ReadString(const std::string& section, const std::string& key,
                                     const std::string& fallback) const {
  int index = FindKey(section, key);
  if (index < 0) return fallback;
  std::string k, v;
  KeyValue(lines_[static_cast<size_t>(index)], k, v);
  return v;
}

int32_t TProfileFile::ReadInteger(const std::string& section, const std::string& key,
                                  int32_t fallback) const {
  int index = FindKey(section, key);
  if (index < 0) return fallback;
  std::string k, v;
  KeyValue(lines_[static_cast<size_t>(index)], k, v);
  int32_t value = 0;
  return ParseInteger(v, value) ? value : fallback;
}

bool TProfileFile::ReadBool(const std::string& section, const std::string& key,
                            bool fallback) const {
  return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

void TProfileFile::WriteString(const std::string& section, const std::string& key,
                               const std::string& value) {
  std::string line = key + "=" + value;
  if (int index = FindKey(section, key); index >= 0) {
    lines_[static_cast<size_t>(index)] = line;
    return;
  }
  int header = FindSection(section);
  if (header < 0) {
    if (!lines_.empty() && !Trim(lines_.back(), " \t").empty()) lines_.emplace_back();
    lines_.push_back("[" + section + "]");
    lines_.push_back(line);
    return;
  }
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(SectionEnd(header)), line);
}

void TProfileFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
  WriteString(section, key, std::to_string(value));
}

void TProfileFile::WriteBool(const std::string& section, const std::string& key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void TProfileFile::DeleteKey(const std::string& section, const std::string& key) {
  if (int index = FindKey(section, key); index >= 0) {
    lines_.erase(lines_.begin() + index);
  }
}

bool TProfileFile::Flush() {
  if (path_.empty() || refused_) return false;
  // Written beside the file and renamed over it, so a failed write never leaves half a file.
  std::string temp = path_ + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    for (const std::string& line : lines_)
      out << line << lineEnd_;
    out.flush();
    if (!out) {
      std::remove(temp.c_str());
      return false;
    }
  }
  if (std::rename(temp.c_str(), path_.c_str()) != 0) {
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

std::string IniFileName(const std::string& programPath) {
  size_t slash = programPath.find_last_of("/\\");
  std::string dir = slash == std::string::npos ? std::string() : programPath.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? programPath : programPath.substr(slash + 1);
  size_t dot = name.find('.');
  if (dot != std::string::npos) name.resize(dot);
  return dir + name + ".INI";
}

// ---- Configuration --------------------------------------------------------------------------

void TConfiguration::SelectCoreSize(int size) {
  if (std::find(std::begin(Sizes), std::end(Sizes), size) == std::end(Sizes)) return;
  selectedSize_ = static_cast<uint16_t>(size);
}

void TConfiguration::LoadConfiguration() {
  file_.Open(file_.Path());  // every showing reads the file afresh
  EBPOSName = file_.ReadString("Operation", "StartupScript", "PowerOn.OCL");
  startupScript_ = EBPOSName;
  CBCoreInitCheck = file_.ReadBool("Operation", "CoreInitCheck", false);
  const std::string chain = file_.ReadString("Printer", "Chain", "A");
  printChain_ = chain == "H" || chain == "h" ? 'H' : 'A';
  core_.UninitializedCheck = CBCoreInitCheck;
  SelectCoreSize(file_.ReadInteger("Core Storage", "Size", 1400));
  carriageTape_ = Trim(file_.ReadString("Printer", "CarriageTape", ""), " \t");
  formFeeds_ = file_.ReadBool("Printer", "FormFeeds", false);
  for (size_t i = 0; i < tapeFiles_.size(); ++i) {
    tapeFiles_[i] = Trim(file_.ReadString("Tapes", "Tape" + std::to_string(i + 1), ""), " \t");
  }
  checkTapeParity_ = file_.ReadBool("Tapes", "CheckParity", false);
  CBFeatures = 0;
  for (const TFeatureName& f : FeatureNames) {
    if (file_.ReadBool("Features", f.Key, false)) CBFeatures |= f.Feature;
  }
  ApplyFeatures();
}

bool TConfiguration::SaveConfiguration() {
  std::string name = Trim(EBPOSName, " \t");
  if (!name.empty()) name = ChangeFileExt(name, ".OCL");
  EBPOSName = name;
  file_.Open(file_.Path());  // what others wrote meanwhile is kept
  file_.DeleteKey("Operation", "PowerOn");
  file_.WriteString("Operation", "StartupScript", name);
  file_.WriteBool("Operation", "CoreInitCheck", CBCoreInitCheck);
  // With no size selected (the file held none of the six) the size is neither written nor
  // applied: the machine keeps its size.
  if (selectedSize_ != 0) file_.WriteInteger("Core Storage", "Size", selectedSize_);
  for (const TFeatureName& f : FeatureNames)
    file_.WriteBool("Features", f.Key, (CBFeatures & f.Feature) != 0);
  bool written = file_.Flush();
  core_.UninitializedCheck = CBCoreInitCheck;
  if (selectedSize_ != 0) core_.SetCoreSize(selectedSize_);
  ApplyFeatures();
  return written;
}

void TConfiguration::OverrideFeatures(TFeatureSet features) {
  overridden_ = true;
  override_ = features;
  ApplyFeatures();
}

TFeatureSet TConfiguration::AppliedFeatures() const {
  return overridden_ ? override_ : CBFeatures;
}

void TConfiguration::ApplyFeatures() {
  if (registers_ != nullptr) registers_->Features = AppliedFeatures();
}

}  // namespace kestrel
