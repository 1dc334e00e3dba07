#include "text/ByteText.h"

#include <array>
#include <cstdint>

namespace {

// Windows-1252 0x80..0x9F; the rest of the code page equals Latin-1.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

bool ByteText::IsValidUtf8(std::string_view bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<uint8_t>(bytes[i]);
    int length = 0;
    uint32_t value = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2;
      value = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3;
      value = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4;
      value = lead & 0x07;
    } else {
      return false;
    }
    if (bytes.size() - i < static_cast<size_t>(length)) {
      return false;
    }
    for (int k = 1; k < length; ++k) {
      const auto next = static_cast<uint8_t>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) {
        return false;
      }
      value = (value << 6) | (next & 0x3F);
    }
    constexpr std::array<uint32_t, 5> kSmallest = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
      return false;
    }
    i += length;
  }
  return true;
}

char32_t ByteText::Windows1252CodePoint(unsigned char byte) {
  if (byte >= 0x80 && byte < 0xA0) {
    return kHighControls[byte - 0x80];
  }
  return byte;
}

std::string ByteText::Windows1252ToUtf8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size() + bytes.size() / 2);
  for (const char c : bytes) {
    AppendUtf8(text, Windows1252CodePoint(static_cast<unsigned char>(c)));
  }
  return text;
}

std::string ByteText::ToUtf8(std::string_view bytes) {
  if (IsValidUtf8(bytes)) {
    return std::string(bytes);
  }
  return Windows1252ToUtf8(bytes);
}

std::string ByteText::EscapeControls(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  const std::string utf8 = ToUtf8(bytes);
  std::string text;
  text.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto byte = static_cast<uint8_t>(utf8[i]);
    if (byte < 0x20 || byte == 0x7F) {
      text += "\\x";
      text += kHex[byte >> 4];
      text += kHex[byte & 0x0F];
    } else if (byte == 0xC2 && i + 1 < utf8.size() && static_cast<uint8_t>(utf8[i + 1]) < 0xA0) {
      // U+0080..U+009F: the C1 controls, which some terminals obey as well.
      const auto code = static_cast<uint8_t>(utf8[++i]);
      text += "\\u00";
      text += kHex[code >> 4];
      text += kHex[code & 0x0F];
    } else {
      text += utf8[i];
    }
  }
  return text;
}

std::string ByteText::Utf16ToUtf8(std::string_view bytes, bool bigEndian) {
  std::string text;
  text.reserve(bytes.size());
  auto unitAt = [&](size_t at) -> char32_t {
    const auto first = static_cast<uint8_t>(bytes[at]);
    const auto second = static_cast<uint8_t>(bytes[at + 1]);
    return bigEndian ? (first << 8 | second) : (second << 8 | first);
  };
  for (size_t at = 0; at + 1 < bytes.size(); at += 2) {
    const char32_t unit = unitAt(at);
    if (unit >= 0xD800 && unit < 0xDC00 && at + 3 < bytes.size()) {
      const char32_t low = unitAt(at + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        AppendUtf8(text, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        at += 2;
        continue;
      }
    }
    AppendUtf8(text, (unit >= 0xD800 && unit < 0xE000) ? 0xFFFD : unit);
  }
  return text;
}

void ByteText::AppendUtf8(std::string& text, char32_t code) {
  if (code < 0x80) {
    text += static_cast<char>(code);
  } else if (code < 0x800) {
    text += static_cast<char>(0xC0 | (code >> 6));
    text += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    text += static_cast<char>(0xE0 | (code >> 12));
    text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    text += static_cast<char>(0xF0 | (code >> 18));
    text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
    text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (code & 0x3F));
  }
}

std::string_view ByteText::TrimStart(std::string_view text, std::string_view blanks) {
  const size_t first = text.find_first_not_of(blanks);
  return first == std::string_view::npos ? std::string_view{} : text.substr(first);
}

std::string_view ByteText::TrimEnd(std::string_view text, std::string_view blanks) {
  const size_t last = text.find_last_not_of(blanks);
  return last == std::string_view::npos ? std::string_view{} : text.substr(0, last + 1);
}

std::string_view ByteText::Trim(std::string_view text, std::string_view blanks) {
  return TrimEnd(TrimStart(text, blanks), blanks);
}

std::string ByteText::Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    c = LowerAscii(c);
  }
  return lower;
}

bool ByteText::EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && StartsWithNoCase(a, b);
}

bool ByteText::StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) {
    return false;
  }
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (LowerAscii(text[i]) != LowerAscii(prefix[i])) {
      return false;
    }
  }
  return true;
}

bool ByteText::EndsWithNoCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && EqualsNoCase(text.substr(text.size() - suffix.size()), suffix);
}

size_t ByteText::Utf8CutPoint(std::string_view text, size_t maxBytes) {
  if (text.size() <= maxBytes) {
    return text.size();
  }
  size_t cut = maxBytes;
  for (int i = 0; i < 3 && cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80; ++i) {
    --cut;
  }
  return cut;
}

namespace {

bool ContinuesSequence(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

size_t ByteText::Utf8Length(std::string_view text) {
  size_t length = 0;
  for (const char c : text) {
    length += ContinuesSequence(c) ? 0 : 1;
  }
  return length;
}

std::string_view ByteText::Utf8Prefix(std::string_view text, size_t maxCharacters) {
  size_t characters = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!ContinuesSequence(text[i]) && characters++ == maxCharacters) {
      return text.substr(0, i);
    }
  }
  return text;
}
