#include "config/IniDocument.h"

#include <limits>
#include <string_view>

namespace {

// The text up to its first line break: all of it that one line can hold.
std::string_view FirstLine(std::string_view text) {
  return text.substr(0, text.find_first_of("\r\n"));
}

bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// atol's reading of a number, held to the 32-bit range.
int32_t ReadLeadingInteger(const std::string& text) {
  size_t position = 0;
  while (position < text.size() && IsCSpace(text[position])) {
    ++position;
  }
  bool negative = false;
  if (position < text.size() && (text[position] == '+' || text[position] == '-')) {
    negative = text[position] == '-';
    ++position;
  }
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  int64_t magnitude = 0;
  while (position < text.size() && text[position] >= '0' && text[position] <= '9') {
    magnitude = magnitude * 10 + (text[position] - '0');
    if (magnitude > kLimit) {
      magnitude = kLimit;  // saturated; further digits cannot bring it back
    }
    ++position;
  }
  const int64_t signedValue = negative ? -magnitude : magnitude;
  if (signedValue > std::numeric_limits<int32_t>::max()) {
    return std::numeric_limits<int32_t>::max();
  }
  return static_cast<int32_t>(signedValue);
}

}  // namespace

IniDocument::IniDocument() { Clear(); }

IniDocument::~IniDocument() { Clear(); }

bool IniDocument::Load(const std::string& filePath) {
  if (!ReadLines(filePath)) {
    return false;
  }
  return Parse();
}

std::string IniDocument::PathBesideExecutable(const std::string& commandLine, const std::string& fileName) {
  std::string text = commandLine;
  const size_t openingQuote = text.find('"');
  if (openingQuote != std::string::npos) {
    text.erase(0, openingQuote + 1);
  }
  const size_t closingQuote = text.find('"');
  text = closingQuote == std::string::npos ? std::string() : text.substr(0, closingQuote);
  const size_t lastSeparator = text.rfind(kPathSeparator);
  text = lastSeparator == std::string::npos ? std::string() : text.substr(0, lastSeparator);
  text += kPathSeparator;
  text += fileName;
  const std::string doubled(2, kPathSeparator);
  for (size_t pair = text.find(doubled); pair != std::string::npos; pair = text.find(doubled, pair)) {
    text.erase(pair, 1);
  }
  return text;
}

bool IniDocument::LoadBesideExecutable(const std::string& commandLine, const std::string& fileName,
                                       std::string* derivedPath) {
  const std::string filePath = PathBesideExecutable(commandLine, fileName);
  if (derivedPath != nullptr) {
    *derivedPath = filePath;
  }
  return Load(filePath);
}

bool IniDocument::Save(const std::string& filePath, TextEncoding textEncoding) {
  ResetFile();
  Serialize();
  return WriteLines(filePath, textEncoding);
}

IniSection* IniDocument::FindSection(const std::string& name) {
  const auto found = sections.find(name);
  return found == sections.end() ? nullptr : &found->second;
}

const IniSection* IniDocument::FindSection(const std::string& name) const {
  const auto found = sections.find(name);
  return found == sections.end() ? nullptr : &found->second;
}

IniSection& IniDocument::AddSection(const std::string& name) { return sections[name]; }

bool IniDocument::SetInSection(IniSection* section, const std::string& key, const std::string& value) {
  if (section == nullptr) {
    return false;
  }
  // Assigning in place rather than erasing and inserting keeps iterators
  // valid, so a section may be copied onto itself.
  section->insert_or_assign(key, value);
  return true;
}

void IniDocument::SetString(const std::string& name, const std::string& key, const std::string& value) {
  SetInSection(&AddSection(name), key, value);
}

void IniDocument::SetInt(const std::string& name, const std::string& key, int32_t value) {
  SetString(name, key, std::to_string(value));
}

bool IniDocument::GetString(const std::string& name, const std::string& key, std::string& value) const {
  const IniSection* section = FindSection(name);
  if (section == nullptr) {
    return false;
  }
  const auto found = section->find(key);
  if (found == section->end()) {
    return false;
  }
  value = found->second;
  return true;
}

bool IniDocument::GetInt(const std::string& name, const std::string& key, int32_t& value) const {
  std::string text;
  if (!GetString(name, key, text)) {
    return false;
  }
  value = ReadLeadingInteger(text);
  return true;
}

void IniDocument::MergeFrom(const IniDocument& other) {
  if (&other == this) {
    return;
  }
  for (const auto& [name, section] : other.sections) {
    for (const auto& [key, value] : section) {
      SetString(name, key, value);
    }
  }
}

void IniDocument::CopySection(const IniDocument& source, const std::string& name, const std::string& newName) {
  const IniSection* from = source.FindSection(name);
  if (from == nullptr) {
    return;
  }
  const std::string& targetName = newName.empty() ? name : newName;
  // Map insertions leave other sections in place, so from stays valid even
  // when source is this document.
  IniSection& to = AddSection(targetName);
  if (&to == from) {
    return;
  }
  for (const auto& [key, value] : *from) {
    SetInSection(&to, key, value);
  }
}

void IniDocument::Clear() {
  ResetFile();
  sections.clear();
}

bool IniDocument::Parse() {
  IniSection* current = nullptr;
  std::string name;
  std::string key;
  std::string value;
  for (std::string line : Lines()) {
    TrimChar(line, ' ');
    TrimChar(line, '\t');
    if (line.empty() || line.starts_with("//")) {
      continue;
    }
    if (ParseSectionHeader(line, name)) {
      // A repeated header continues the earlier section.
      current = &AddSection(name);
    } else if (current != nullptr && SplitKeyValue(line, key, value)) {
      SetInSection(current, key, value);
    }
  }
  const std::string filePath = Path();
  ResetFile();
  SetPath(filePath);
  return true;
}

void IniDocument::Serialize() {
  for (const auto& [name, section] : sections) {
    for (const auto& [key, value] : section) {
      if (key.starts_with("//")) {
        AppendLine(std::string(FirstLine(key)));
      }
    }
    AppendLine("[" + std::string(FirstLine(name)) + "]");
    for (const auto& [key, value] : section) {
      if (!key.starts_with("//")) {
        AppendLine(std::string(FirstLine(key)) + "=" + std::string(FirstLine(value)));
      }
    }
    AppendLine("");
  }
}

bool IniDocument::ParseSectionHeader(std::string& line, std::string& name) {
  TrimChar(line, ' ');
  const size_t opening = line.find('[');
  const size_t closing = line.find(']');
  if (opening != 0 || closing == std::string::npos) {
    return false;
  }
  name = line.substr(1, closing - 1);
  return true;
}

bool IniDocument::SplitKeyValue(const std::string& line, std::string& key, std::string& value) {
  const size_t equals = line.find('=');
  if (equals == std::string::npos) {
    key.clear();
    value.clear();
    return false;
  }
  key = line.substr(0, equals);
  value = line.substr(equals + 1);
  TrimChar(key, ' ');
  TrimChar(key, '\t');
  TrimChar(value, ' ');
  TrimChar(value, '\t');
  return true;
}
