#include "recording/ReconnectJoin.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string_view>

#include "ogg/OggPage.h"

namespace {

// Header pages this large are not an Ogg stream's start: compare from the
// first byte instead.
constexpr size_t kMaxOggHeaderBytes = size_t{256} * 1024;

}  // namespace

ReconnectJoin::ReconnectJoin(std::string fileTail, bool withOggHeaders)
    : tail(std::move(fileTail)), oggHeaders(withOggHeaders) {
  if (tail.size() > static_cast<size_t>(kTailBytes)) {
    tail.erase(0, tail.size() - static_cast<size_t>(kTailBytes));
  }
  if (!oggHeaders) {
    headerBytes = 0;
  }
}

ReconnectJoin::Outcome ReconnectJoin::Add(const uint8_t* data, int32_t size) {
  if (data != nullptr && size > 0) {
    held.append(reinterpret_cast<const char*>(data), static_cast<size_t>(size));
  }
  return Decide(false);
}

ReconnectJoin::Outcome ReconnectJoin::Finish() { return Decide(true); }

ReconnectJoin::Outcome ReconnectJoin::Decide(bool final) {
  skip = 0;
  if (headerBytes < 0) {
    const int32_t length = OggHeaderPagesLength(reinterpret_cast<const uint8_t*>(held.data()),
                                                static_cast<int32_t>(std::min(held.size(), kMaxOggHeaderBytes)));
    if (length >= 0) {
      headerBytes = length;
    } else if (final || held.size() >= kMaxOggHeaderBytes) {
      // Nothing but header pages came: they repeat what the file begins with.
      headerBytes = static_cast<int32_t>(std::min(held.size(), kMaxOggHeaderBytes));
      if (final && headerBytes == static_cast<int32_t>(held.size())) {
        skip = held.size();
        return Outcome::Overlap;
      }
    } else {
      return Outcome::Undecided;
    }
  }
  const size_t body = BodySize();
  if (!searched) {
    const size_t probe = std::min({static_cast<size_t>(kProbeBytes), tail.size()});
    if (body < probe && !final) {
      return Outcome::Undecided;
    }
    if (body == 0) {
      skip = held.size();  // nothing new arrived
      return Outcome::Overlap;
    }
    Search(std::min(probe, body));
  }
  Verify();
  if (candidates.empty()) {
    return Outcome::Gap;
  }
  const size_t overlap = tail.size() - candidates.front().position;
  if (body >= overlap) {
    skip = BodyStart() + overlap;
    return Outcome::Overlap;
  }
  if (final) {
    // The connection ended inside the repeated part: nothing of it is new.
    skip = held.size();
    return Outcome::Overlap;
  }
  return Outcome::Undecided;
}

void ReconnectJoin::Search(size_t probe) {
  searched = true;
  candidates.clear();
  const std::string_view bodyView = std::string_view(held).substr(BodyStart());
  if (probe == 0 || tail.size() < static_cast<size_t>(kMinOverlap)) {
    return;
  }
  const std::string_view pattern = bodyView.substr(0, probe);
  // Overlaps of at least probe bytes: where the probe occurs in the tail.
  const std::boyer_moore_horspool_searcher searcher(pattern.begin(), pattern.end());
  auto from = tail.cbegin();
  while (candidates.size() < kMaxCandidates) {
    const auto found = std::search(from, tail.cend(), searcher);
    if (found == tail.cend()) {
      break;
    }
    const auto position = static_cast<size_t>(found - tail.cbegin());
    if (tail.size() - position >= static_cast<size_t>(kMinOverlap)) {
      candidates.push_back({position, probe});
    }
    from = found + 1;
  }
  // Shorter overlaps: the tail's last bytes equal the new audio's first.
  const size_t shortest = static_cast<size_t>(kMinOverlap);
  for (size_t length = std::min(probe, tail.size()) - 1; length >= shortest && candidates.size() < kMaxCandidates;
       --length) {
    if (std::memcmp(tail.data() + tail.size() - length, bodyView.data(), length) == 0) {
      candidates.push_back({tail.size() - length, length});
    }
  }
}

void ReconnectJoin::Verify() {
  const std::string_view bodyView = std::string_view(held).substr(BodyStart());
  std::erase_if(candidates, [&](Candidate& candidate) {
    const size_t overlap = tail.size() - candidate.position;
    const size_t until = std::min(overlap, bodyView.size());
    if (until > candidate.verified) {
      if (std::memcmp(tail.data() + candidate.position + candidate.verified, bodyView.data() + candidate.verified,
                      until - candidate.verified) != 0) {
        return true;
      }
      candidate.verified = until;
    }
    return false;
  });
}
