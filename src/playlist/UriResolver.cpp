#include "playlist/UriResolver.h"

#include <algorithm>

#include "text/ByteText.h"

namespace {

struct UrlParts {
  bool hasScheme = false;
  std::string_view scheme;
  bool hasAuthority = false;
  std::string_view authority;
  std::string_view path;
  bool hasQuery = false;
  std::string_view query;
  bool hasFragment = false;
  std::string_view fragment;
};

bool IsSchemeChar(char c, bool first) {
  const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  return first ? letter : (letter || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.');
}

// The five components, as the regular expression of RFC 3986 appendix B
// splits them.
UrlParts SplitUrl(std::string_view url) {
  UrlParts parts;
  const size_t colon = url.find(':');
  if (colon != std::string_view::npos && colon > 0 && colon < url.find_first_of("/?#")) {
    bool valid = true;
    for (size_t i = 0; i < colon && valid; ++i) {
      valid = IsSchemeChar(url[i], i == 0);
    }
    if (valid) {
      parts.hasScheme = true;
      parts.scheme = url.substr(0, colon);
      url.remove_prefix(colon + 1);
    }
  }
  if (url.substr(0, 2) == "//") {
    const size_t end = std::min(url.find_first_of("/?#", 2), url.size());
    parts.hasAuthority = true;
    parts.authority = url.substr(2, end - 2);
    url.remove_prefix(end);
  }
  const size_t hash = url.find('#');
  if (hash != std::string_view::npos) {
    parts.hasFragment = true;
    parts.fragment = url.substr(hash + 1);
    url = url.substr(0, hash);
  }
  const size_t question = url.find('?');
  if (question != std::string_view::npos) {
    parts.hasQuery = true;
    parts.query = url.substr(question + 1);
    url = url.substr(0, question);
  }
  parts.path = url;
  return parts;
}

void RemoveLastSegment(std::string& output) {
  const size_t slash = output.rfind('/');
  output.resize(slash == std::string::npos ? 0 : slash);
}

// RFC 3986, 5.2.4.
std::string RemoveDotSegments(std::string_view input) {
  std::string output;
  output.reserve(input.size());
  while (!input.empty()) {
    if (input.substr(0, 3) == "../") {
      input.remove_prefix(3);
    } else if (input.substr(0, 2) == "./" || input.substr(0, 3) == "/./") {
      input.remove_prefix(2);  // "/./" becomes "/"
    } else if (input == "/.") {
      input = "/";
    } else if (input.substr(0, 4) == "/../") {
      input.remove_prefix(3);
      RemoveLastSegment(output);
    } else if (input == "/..") {
      input = "/";
      RemoveLastSegment(output);
    } else if (input == "." || input == "..") {
      input = {};
    } else {
      const size_t end = std::min(input.find('/', 1), input.size());
      output.append(input.substr(0, end));
      input.remove_prefix(end);
    }
  }
  return output;
}

// RFC 3986, 5.2.3.
std::string MergePaths(const UrlParts& base, std::string_view path) {
  if (base.hasAuthority && base.path.empty()) {
    return "/" + std::string(path);
  }
  const size_t slash = base.path.rfind('/');
  return slash == std::string_view::npos ? std::string(path)
                                         : std::string(base.path.substr(0, slash + 1)) + std::string(path);
}

}  // namespace

std::string UriResolver::Resolve(std::string_view base, std::string_view reference) {
  reference = ByteText::Trim(reference);
  const UrlParts b = SplitUrl(ByteText::Trim(base));
  const UrlParts r = SplitUrl(reference);
  if (!b.hasScheme && !r.hasScheme) {
    return std::string(reference);
  }
  // RFC 3986, 5.2.2, strict: a reference with a scheme is taken as it is,
  // and the fragment is always the reference's.
  UrlParts target = r;
  std::string path;
  if (r.hasScheme || r.hasAuthority) {
    path = RemoveDotSegments(r.path);
  } else {
    target.hasAuthority = b.hasAuthority;
    target.authority = b.authority;
    if (r.path.empty()) {
      path = std::string(b.path);
      target.hasQuery = r.hasQuery || b.hasQuery;
      target.query = r.hasQuery ? r.query : b.query;
    } else {
      path = RemoveDotSegments(r.path.front() == '/' ? std::string(r.path) : MergePaths(b, r.path));
    }
  }
  if (!r.hasScheme) {
    target.scheme = b.scheme;
  }
  // RFC 3986, 5.3.
  std::string url;
  url.reserve(base.size() + reference.size());
  url.append(target.scheme).append(":");
  if (target.hasAuthority) {
    url.append("//").append(target.authority);
  }
  url += path;
  if (target.hasQuery) {
    url.append("?").append(target.query);
  }
  if (r.hasFragment) {
    url.append("#").append(r.fragment);
  }
  return url;
}

bool UriResolver::IsHttpUrl(std::string_view url) {
  const UrlParts parts = SplitUrl(url);
  if (!parts.hasScheme || !parts.hasAuthority) {
    return false;
  }
  if (!ByteText::EqualsNoCase(parts.scheme, "http") && !ByteText::EqualsNoCase(parts.scheme, "https")) {
    return false;
  }
  std::string_view host = parts.authority.substr(parts.authority.rfind('@') + 1);
  if (!host.empty() && host.front() != '[') {
    host = host.substr(0, host.find(':'));
  }
  return !host.empty();
}
