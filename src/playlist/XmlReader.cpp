#include "playlist/XmlReader.h"

#include <algorithm>
#include <array>

#include "text/ByteText.h"

namespace {

// Appends the character an entity reference (without '&' and ';') stands
// for; false for one that is not expanded.
bool DecodeReference(std::string_view entity, std::string& out) {
  static constexpr std::array<std::pair<std::string_view, char>, 5> kNamed = {{
      {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''},
  }};
  for (const auto& [name, character] : kNamed) {
    if (entity == name) {
      out += character;
      return true;
    }
  }
  if (entity.size() < 2 || entity[0] != '#') {
    return false;  // nothing else is expanded, so no DTD can make text grow
  }
  const bool hex = entity[1] == 'x' || entity[1] == 'X';
  const std::string_view digits = entity.substr(hex ? 2 : 1);
  if (digits.empty() || digits.size() > 8) {
    return false;
  }
  char32_t code = 0;
  for (const char c : digits) {
    int value = -1;
    if (c >= '0' && c <= '9') {
      value = c - '0';
    } else if (hex && ByteText::LowerAscii(c) >= 'a' && ByteText::LowerAscii(c) <= 'f') {
      value = ByteText::LowerAscii(c) - 'a' + 10;
    }
    if (value < 0) {
      return false;
    }
    code = code * (hex ? 16 : 10) + static_cast<char32_t>(value);
  }
  if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) {
    return false;
  }
  ByteText::AppendUtf8(out, code);
  return true;
}

std::string LocalName(std::string_view name) {
  const size_t colon = name.rfind(':');
  return ByteText::Lower(colon == std::string_view::npos ? name : name.substr(colon + 1));
}

bool IsNameChar(char c) { return !ByteText::IsBlank(c) && c != '>' && c != '/' && c != '=' && c != '<'; }

}  // namespace

std::string XmlEvent::Attribute(std::string_view key) const {
  for (const auto& [name, value] : attributes) {
    if (name == key) {
      return value;
    }
  }
  return "";
}

std::string XmlReader::DecodeText(std::string_view raw) {
  std::string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '&') {
      const size_t end = raw.find(';', i + 1);
      if (end != std::string_view::npos && end - i <= 12 && DecodeReference(raw.substr(i + 1, end - i - 1), out)) {
        i = end;
        continue;
      }
    }
    out += raw[i];
  }
  return out;
}

void XmlReader::Read(std::string_view text, const std::function<bool(const XmlEvent&)>& emit) {
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    if (text[i] != '<') {
      const size_t next = std::min(text.find('<', i), n);
      XmlEvent event;
      event.text = DecodeText(text.substr(i, next - i));
      if (!emit(event)) {
        return;
      }
      i = next;
      continue;
    }
    const std::string_view rest = text.substr(i);
    if (rest.substr(0, 4) == "<!--") {
      const size_t end = text.find("-->", i + 4);
      i = end == std::string_view::npos ? n : end + 3;
    } else if (rest.substr(0, 9) == "<![CDATA[") {
      const size_t end = text.find("]]>", i + 9);
      XmlEvent event;
      event.text = std::string(text.substr(i + 9, (end == std::string_view::npos ? n : end) - i - 9));
      if (!emit(event)) {
        return;
      }
      i = end == std::string_view::npos ? n : end + 3;
    } else if (rest.substr(0, 2) == "<!") {
      // A declaration; a DOCTYPE's internal subset may hold '>' in brackets.
      int depth = 0;
      for (i += 2; i < n && (text[i] != '>' || depth > 0); ++i) {
        depth += text[i] == '[' ? 1 : (text[i] == ']' && depth > 0 ? -1 : 0);
      }
      ++i;
    } else if (rest.substr(0, 2) == "<?") {
      const size_t end = text.find("?>", i + 2);
      i = end == std::string_view::npos ? n : end + 2;
    } else if (rest.substr(0, 2) == "</") {
      const size_t end = std::min(text.find('>', i), n);
      XmlEvent event;
      event.type = XmlEvent::Type::End;
      event.name = LocalName(ByteText::Trim(text.substr(i + 2, end - i - 2)));
      if (!emit(event)) {
        return;
      }
      i = end + 1;
    } else {
      size_t at = i + 1;
      while (at < n && IsNameChar(text[at])) {
        ++at;
      }
      if (at == i + 1) {
        XmlEvent event;
        event.text = "<";
        if (!emit(event)) {
          return;
        }
        ++i;
        continue;
      }
      XmlEvent event;
      event.type = XmlEvent::Type::Start;
      event.name = LocalName(text.substr(i + 1, at - i - 1));
      bool selfClosing = false;
      while (at < n && text[at] != '>') {
        if (ByteText::IsBlank(text[at])) {
          ++at;
          continue;
        }
        if (text[at] == '/') {
          selfClosing = at + 1 < n && text[at + 1] == '>';
          ++at;
          continue;
        }
        const size_t nameStart = at;
        while (at < n && IsNameChar(text[at])) {
          ++at;
        }
        if (at == nameStart) {
          ++at;  // a stray '=' or '<': skipped
          continue;
        }
        std::string name = ByteText::Lower(text.substr(nameStart, at - nameStart));
        while (at < n && ByteText::IsBlank(text[at])) {
          ++at;
        }
        std::string value;
        if (at < n && text[at] == '=') {
          ++at;
          while (at < n && ByteText::IsBlank(text[at])) {
            ++at;
          }
          if (at < n && (text[at] == '"' || text[at] == '\'')) {
            const size_t close = std::min(text.find(text[at], at + 1), n);
            value = DecodeText(text.substr(at + 1, close - at - 1));
            at = std::min(close + 1, n);
          } else {
            const size_t start = at;
            while (at < n && !ByteText::IsBlank(text[at]) && text[at] != '>') {
              ++at;
            }
            value = DecodeText(text.substr(start, at - start));
          }
        }
        event.attributes.emplace_back(std::move(name), std::move(value));
      }
      i = at + 1;
      if (!emit(event)) {
        return;
      }
      if (selfClosing) {
        XmlEvent end;
        end.type = XmlEvent::Type::End;
        end.name = event.name;
        if (!emit(end)) {
          return;
        }
      }
    }
  }
}

std::string XmlReader::RootName(std::string_view text) {
  std::string root;
  Read(text, [&](const XmlEvent& event) {
    if (event.type != XmlEvent::Type::Start) {
      return true;
    }
    root = event.name;
    return false;
  });
  return root;
}

void XmlWalker::Take(const XmlEvent& event) {
  switch (event.type) {
    case XmlEvent::Type::Start:
      if (stack.size() < kMaxDepth) {
        stack.push_back(event.name);
      }
      text.clear();
      break;
    case XmlEvent::Type::End:
      for (size_t depth = stack.size(); depth > 0; --depth) {
        if (stack[depth - 1] == event.name) {
          stack.resize(depth - 1);
          break;
        }
      }
      break;
    case XmlEvent::Type::Text:
      if (text.size() < kMaxTextBytes) {
        text += event.text;
      }
      break;
  }
}

std::string XmlWalker::Parent(size_t depth) const {
  return depth < stack.size() ? stack[stack.size() - 1 - depth] : "";
}

std::string XmlWalker::Text() const { return std::string(ByteText::Trim(text)); }
