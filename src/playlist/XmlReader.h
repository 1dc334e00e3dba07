#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One step of an XML text as XmlReader hands it on: a start tag, an end tag
// or a run of text.
struct XmlEvent {
  enum class Type { Start, End, Text };
  Type type = Type::Text;
  std::string name;  // Start and End: the local name, lower case
  std::vector<std::pair<std::string, std::string>> attributes;  // Start: names lower case, values decoded
  std::string text;  // Text: with its character references decoded

  // The value of the attribute key (lower case); "" when the tag has none.
  std::string Attribute(std::string_view key) const;
};

// A small tolerant XML reader for the playlist forms that are XML (XSPF,
// ASX). No entity other than the five predefined and numeric references is
// expanded, nothing is fetched, a DOCTYPE is skipped, and broken markup
// (unquoted attributes, unclosed tags, a bare '&') yields whatever can still
// be read. Never throws on any input.
//
// Stateless; any thread.
class XmlReader {
 public:
  // Hands each tag and text run of text to emit, in document order, until
  // emit returns false. Comments, processing instructions and declarations
  // are skipped; a self-closing tag gives a Start and an End; CDATA gives
  // its text as it stands.
  static void Read(std::string_view text, const std::function<bool(const XmlEvent&)>& emit);

  // The local name of the first element of text, lower case; "" when there
  // is none.
  static std::string RootName(std::string_view text);

  // raw with its character references decoded; an '&' that starts none
  // stays as it is, as browsers read broken ASX files.
  static std::string DecodeText(std::string_view raw);
};

// Follows the element nesting of XmlReader's events, tolerating end tags
// that never come or that close something never opened. Holds at most
// kMaxDepth open elements and kMaxTextBytes of text.
//
// A plain value; one thread at a time.
class XmlWalker {
 public:
  static constexpr size_t kMaxDepth = 64;
  static constexpr size_t kMaxTextBytes = size_t{64} * 1024;

  // Every event, after the caller has looked at it with the state before it.
  void Take(const XmlEvent& event);
  // The name of the element depth levels above the innermost ("" if none).
  std::string Parent(size_t depth = 0) const;
  // The text since the last start tag, blanks trimmed.
  std::string Text() const;

 private:
  std::vector<std::string> stack;
  std::string text;
};
