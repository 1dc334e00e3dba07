#include "net/ResponseHead.h"

#include <algorithm>
#include <utility>

#include "text/ByteText.h"

namespace {

// The blanks around a header value.
constexpr std::string_view kValueBlanks = " \t";

// A "Location" header line with a value: curl follows it for a 3xx answer.
bool IsLocationLine(std::string_view line) {
  return ByteText::StartsWithNoCase(line, "location:") && !ByteText::Trim(line.substr(9), kValueBlanks).empty();
}

}  // namespace

long ResponseHead::ParseStatus(std::string_view line) {
  const size_t space = line.find(' ');
  if (space == std::string_view::npos) {
    return 0;
  }
  size_t position = line.find_first_not_of(' ', space);
  long code = 0;
  int digits = 0;
  while (position < line.size() && digits < 3 && line[position] >= '0' && line[position] <= '9') {
    code = code * 10 + (line[position] - '0');
    ++position;
    ++digits;
  }
  return digits == 3 ? code : 0;
}

ResponseHead::Step ResponseHead::Take(std::string_view line) {
  if (complete) {
    return Step::More;
  }
  if (!line.empty() && line.back() == '\n') {
    line.remove_suffix(1);
  }
  if (!line.empty() && line.back() == '\r') {
    line.remove_suffix(1);
  }
  if (!inBlock) {
    if (line.empty()) {
      return Step::More;
    }
    inBlock = true;
    block.clear();
    blockStatus = ParseStatus(line);
    blockHasLocation = false;
  } else if (line.empty()) {
    inBlock = false;
    block += "\r\n";
    const bool interim = blockStatus >= 100 && blockStatus < 200;
    const bool redirect = blockStatus >= 300 && blockStatus < 400 && blockStatus != 304 && blockHasLocation;
    if (!interim && !redirect) {
      Finish(block, blockStatus);
      return Step::Complete;
    }
    // curl goes on with the next response, or, should it not, TakeSetAside
    // takes this block after all.
    setAside.swap(block);
    setAsideStatus = blockStatus;
    return redirect ? Step::Redirect : Step::More;
  } else if (IsLocationLine(line)) {
    blockHasLocation = true;
  }
  block.append(line);
  block += "\r\n";
  return block.size() > maxBytes ? Step::TooLarge : Step::More;
}

bool ResponseHead::TakeSetAside() {
  if (complete || setAside.empty()) {
    return false;
  }
  Finish(setAside, setAsideStatus);
  return true;
}

void ResponseHead::Finish(std::string& text, long code) {
  final = std::move(text);
  text.clear();
  status = code;
  statusLine = final.substr(0, final.find("\r\n"));
  contentType.clear();
  for (size_t start = 0; start < final.size();) {
    const size_t end = std::min(final.find("\r\n", start), final.size());
    const std::string_view line(final.data() + start, end - start);
    if (ByteText::StartsWithNoCase(line, "content-type:")) {
      contentType = ByteText::Trim(line.substr(13), kValueBlanks);
    }
    start = end + 2;
  }
  complete = true;
}
