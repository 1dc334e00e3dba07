#include "ogg/OggChainReader.h"

#include <algorithm>
#include <cstring>

#include "text/ByteText.h"

namespace {

constexpr char kCapturePattern[] = "OggS";
constexpr int32_t kCaptureLength = 4;
constexpr char kVorbisIdentification[] = "\x01vorbis";
constexpr char kVorbisComment[] = "\x03vorbis";
constexpr char kOpusIdentification[] = "OpusHead";
constexpr char kOpusComment[] = "OpusTags";
// Longer keys cannot be TITLE or ARTIST; their bytes are skipped unread.
constexpr size_t kLongestWantedKey = 6;

// Bytes to keep from a header that may be cut: the fixed part first, then
// the segment table it announces.
int32_t HeaderBytesWanted(const uint8_t* data, int32_t size) {
  return size < kOggFixedHeaderLength ? kOggFixedHeaderLength : kOggFixedHeaderLength + data[26];
}

// Where "OggS" next occurs in data, or where a prefix of it ends data; size
// when neither.
int32_t NextCapture(const uint8_t* data, int32_t size) {
  for (int32_t index = 0; index < size; ++index) {
    if (data[index] != 'O') {
      const void* next = std::memchr(data + index, 'O', static_cast<size_t>(size - index));
      if (next == nullptr) {
        return size;
      }
      index = static_cast<int32_t>(static_cast<const uint8_t*>(next) - data);
    }
    const int32_t length = std::min(kCaptureLength, size - index);
    if (std::memcmp(data + index, kCapturePattern, static_cast<size_t>(length)) == 0) {
      return index;
    }
  }
  return size;
}

}  // namespace

// ---------------------------------------------------------------------------
// CommentReader

void OggChainReader::CommentReader::Start(Codec codec) {
  *this = CommentReader();
  done = false;
  expectedMagic = codec == Codec::Opus ? kOpusComment : kVorbisComment;
  Begin(Field::Magic, static_cast<uint32_t>(expectedMagic.size()));
}

void OggChainReader::CommentReader::Begin(Field next, uint32_t length) {
  field = next;
  fieldLeft = length;
  numberBytes = 0;
  if (next == Field::Key) {
    key.clear();
    target = Target::None;
  }
}

void OggChainReader::CommentReader::Consume(const uint8_t* data, int32_t size) {
  while (size > 0 && !done) {
    switch (field) {
      case Field::Magic: {
        const auto take = static_cast<int32_t>(std::min<uint32_t>(fieldLeft, static_cast<uint32_t>(size)));
        magic.append(reinterpret_cast<const char*>(data), static_cast<size_t>(take));
        data += take;
        size -= take;
        fieldLeft -= static_cast<uint32_t>(take);
        if (fieldLeft == 0) {
          FinishField();
        }
        break;
      }
      case Field::VendorLength:
      case Field::Count:
      case Field::CommentLength:
        number[static_cast<size_t>(numberBytes++)] = *data;
        ++data;
        --size;
        if (numberBytes == 4) {
          FinishField();
        }
        break;
      case Field::Key: {
        const auto byte = static_cast<char>(*data);
        ++data;
        --size;
        --fieldLeft;
        if (byte == '=') {
          target = ByteText::EqualsNoCase(key, "TITLE")    ? Target::Title
                   : ByteText::EqualsNoCase(key, "ARTIST") ? Target::Artist
                                                           : Target::None;
          // The first value that is not empty counts.
          field = target != Target::None && Value().empty() ? Field::Value : Field::Skip;
        } else if (key.size() == kLongestWantedKey) {
          field = Field::Skip;
        } else {
          key.push_back(byte);
        }
        if (fieldLeft == 0) {
          FinishField();
        }
        break;
      }
      case Field::Value:
      case Field::Vendor:
      case Field::Skip: {
        const auto take = static_cast<int32_t>(std::min<uint32_t>(fieldLeft, static_cast<uint32_t>(size)));
        // One byte beyond the bound is kept, to tell where a character that
        // the bound cuts begins.
        if (field == Field::Value && Value().size() <= static_cast<size_t>(kMaxValueBytes)) {
          const size_t room = static_cast<size_t>(kMaxValueBytes) + 1 - Value().size();
          Value().append(reinterpret_cast<const char*>(data), std::min(room, static_cast<size_t>(take)));
        }
        data += take;
        size -= take;
        fieldLeft -= static_cast<uint32_t>(take);
        if (fieldLeft == 0) {
          FinishField();
        }
        break;
      }
    }
  }
}

void OggChainReader::CommentReader::FinishField() {
  const uint32_t read = uint32_t{number[0]} | uint32_t{number[1]} << 8 | uint32_t{number[2]} << 16 |
                        uint32_t{number[3]} << 24;
  switch (field) {
    case Field::Magic:
      if (magic != expectedMagic) {
        done = true;
      } else {
        Begin(Field::VendorLength, 4);
      }
      return;
    case Field::VendorLength:
      if (read == 0) {
        Begin(Field::Count, 4);
      } else {
        Begin(Field::Vendor, read);
      }
      return;
    case Field::Vendor:
      Begin(Field::Count, 4);
      return;
    case Field::Count:
      commentsLeft = read;
      break;
    case Field::CommentLength:
      if (read > 0) {
        Begin(Field::Key, read);
        return;
      }
      commentsLeft--;  // an empty comment
      break;
    case Field::Value:
    case Field::Key:
    case Field::Skip:
      commentsLeft--;
      break;
  }
  // Between two comments.
  if (commentsLeft == 0) {
    done = true;
  } else {
    Begin(Field::CommentLength, 4);
  }
}

std::string OggChainReader::CommentReader::Title() const {
  const std::string_view song = ByteText::CutAtUtf8Boundary(title, static_cast<size_t>(kMaxValueBytes));
  const std::string_view by = ByteText::CutAtUtf8Boundary(artist, static_cast<size_t>(kMaxValueBytes));
  if (!by.empty() && !song.empty()) {
    return std::string(by) + " - " + std::string(song);
  }
  return std::string(song.empty() ? by : song);
}

// ---------------------------------------------------------------------------
// OggChainReader

OggChainReader::OggChainReader(Sink& sink) : sink(sink) {}

void OggChainReader::Reset() {
  sync = Sync::PageStart;
  pending.clear();
  pendingStart = 0;
  bodyLeft = 0;
  runData = nullptr;
  runSize = 0;
  lastPageBeganStream = false;
  holding = false;
  held.clear();
  ForgetGroup();
}

void OggChainReader::Feed(const uint8_t* data, int32_t size) {
  if (data == nullptr || size <= 0) {
    return;
  }
  Consume(data, size);
  FlushRun();
}

void OggChainReader::Finish() {
  FlushRun();
  if (holding) {
    Release();
  }
  if (PendingSize() > 0) {
    sink.OnOggAudio(PendingData(), PendingSize());
  }
  Reset();
}

void OggChainReader::Consume(const uint8_t* data, int32_t size) {
  const uint8_t* const end = data + size;
  bool more = true;
  while (more) {
    switch (sync) {
      case Sync::PageStart:
        more = StepPageStart(data, end);
        break;
      case Sync::Body:
        more = StepBody(data, end);
        break;
      case Sync::Search:
        more = StepSearch(data, end);
        break;
    }
  }
}

bool OggChainReader::StepPageStart(const uint8_t*& data, const uint8_t* end) {
  OggPageHeader header;
  if (PendingSize() == 0) {
    if (data == end) {
      return false;
    }
    const auto available = static_cast<int32_t>(end - data);
    switch (ParseOggPageHeader(data, available, header)) {
      case OggHeaderResult::Page: {
        const uint8_t* bytes = data;
        data += header.headerLength;
        StartPage(header, bytes, true);
        return true;
      }
      case OggHeaderResult::NotPage:
        sync = Sync::Search;
        return true;
      case OggHeaderResult::NeedMore:
        // The header is cut by the end of this call. Whether a song begins
        // here shows only in the header, so its start (fewer than
        // kOggMaxHeaderLength bytes) waits for the rest.
        FillPending(available, data, end);
        return false;
    }
  }
  while (true) {
    switch (ParseOggPageHeader(PendingData(), PendingSize(), header)) {
      case OggHeaderResult::Page:
        StartPage(header, PendingData(), false);
        DropPending(header.headerLength);
        return true;
      case OggHeaderResult::NotPage:
        sync = Sync::Search;
        return true;
      case OggHeaderResult::NeedMore:
        if (!FillPending(HeaderBytesWanted(PendingData(), PendingSize()), data, end)) {
          return false;
        }
        break;
    }
  }
}

bool OggChainReader::StepBody(const uint8_t*& data, const uint8_t* end) {
  if (PendingSize() > 0) {
    const int32_t size = std::min(bodyLeft, PendingSize());
    PageBody(PendingData(), size, false);
    DropPending(size);
    return true;
  }
  if (data == end) {
    return false;
  }
  const int32_t size = std::min(bodyLeft, static_cast<int32_t>(end - data));
  const uint8_t* bytes = data;
  data += size;
  PageBody(bytes, size, true);
  return true;
}

bool OggChainReader::StepSearch(const uint8_t*& data, const uint8_t* end) {
  OggPageHeader header;
  if (PendingSize() > 0) {
    // pending starts with a candidate: judge it once its whole page is here.
    while (true) {
      const OggHeaderResult result = ParseOggPageHeader(PendingData(), PendingSize(), header);
      if (result == OggHeaderResult::NotPage) {
        break;
      }
      const int32_t want = result == OggHeaderResult::NeedMore ? HeaderBytesWanted(PendingData(), PendingSize())
                                                                : header.pageLength;
      if (PendingSize() >= want) {
        if (OggChecksumMatches(PendingData(), PendingSize())) {
          sync = Sync::PageStart;
          return true;
        }
        break;
      }
      if (!FillPending(want, data, end)) {
        return false;
      }
    }
    // Not a page after all: its first byte is stray, and a page may begin
    // anywhere after it, also inside the bytes pulled in to judge it.
    const int32_t stray = 1 + NextCapture(PendingData() + 1, PendingSize() - 1);
    Route(PendingData(), stray, false);
    DropPending(stray);
    return true;
  }
  if (data == end) {
    return false;
  }
  const auto available = static_cast<int32_t>(end - data);
  const int32_t capture = NextCapture(data, available);
  Route(data, capture, true);
  data += capture;
  if (data == end) {
    return false;
  }
  const auto rest = static_cast<int32_t>(end - data);
  const OggHeaderResult result = ParseOggPageHeader(data, rest, header);
  if (result == OggHeaderResult::NotPage ||
      (result == OggHeaderResult::Page && rest >= header.pageLength && !OggChecksumMatches(data, rest))) {
    Route(data, 1, true);
    data += 1;
    return true;
  }
  if (result == OggHeaderResult::Page && rest >= header.pageLength) {
    sync = Sync::PageStart;
    return true;
  }
  // The candidate runs past this call (at most one page is kept).
  FillPending(rest, data, end);
  return false;
}

void OggChainReader::DropPending(int32_t count) {
  pendingStart += count;
  if (pendingStart >= static_cast<int32_t>(pending.size())) {
    pending.clear();
    pendingStart = 0;
  }
}

bool OggChainReader::FillPending(int32_t want, const uint8_t*& data, const uint8_t* end) {
  const int32_t missing = want - PendingSize();
  if (missing <= 0) {
    return true;
  }
  if (pendingStart > 0) {
    pending.erase(pending.begin(), pending.begin() + pendingStart);
    pendingStart = 0;
  }
  const int32_t take = std::min(missing, static_cast<int32_t>(end - data));
  pending.insert(pending.end(), data, data + take);
  data += take;
  // A candidate page kept to be judged counts against the bound, so that a
  // waiting boundary and a search never keep more than kMaxHeldBytes together.
  if (holding && static_cast<int64_t>(held.size()) + PendingSize() > kMaxHeldBytes) {
    Release();
  }
  return take == missing;
}

void OggChainReader::StartPage(const OggPageHeader& header, const uint8_t* bytes, bool fromInput) {
  const bool beginsStream = header.BeginsStream();
  if (beginsStream && !lastPageBeganStream) {
    if (holding) {
      Release();  // the previous group never completed its comment header
    }
    FlushRun();
    holding = true;
    ForgetGroup();
  } else if (!beginsStream && holding && !chosen) {
    Release();  // the group carries neither Vorbis nor Opus: no comment to wait for
  }
  lastPageBeganStream = beginsStream;

  trackingPage = holding;
  if (trackingPage) {
    pageBeganStream = beginsStream;
    pageSerial = header.serial;
    pagePacket = 0;
    segmentCount = header.segmentCount;
    std::memcpy(lacing.data(), bytes + kOggFixedHeaderLength, static_cast<size_t>(segmentCount));
    segmentIndex = 0;
    segmentLeft = segmentCount > 0 ? lacing[0] : 0;
    firstByteCount = 0;
  }
  Route(bytes, header.headerLength, fromInput);
  bodyLeft = header.pageLength - header.headerLength;
  sync = bodyLeft > 0 ? Sync::Body : Sync::PageStart;
  PassSegmentEnds();  // zero-length packets, or a page without body
}

void OggChainReader::PageBody(const uint8_t* bytes, int32_t size, bool fromInput) {
  // Read before routing: bytes that complete the comment header then follow
  // the title at once instead of counting against the bound.
  TrackSegments(bytes, size);
  Route(bytes, size, fromInput);
  bodyLeft -= size;
  if (bodyLeft == 0) {
    sync = Sync::PageStart;
  }
}

void OggChainReader::TrackSegments(const uint8_t* bytes, int32_t size) {
  while (size > 0 && trackingPage && segmentIndex < segmentCount) {
    const int32_t take = std::min(size, segmentLeft);
    const bool chosenPage = chosen && pageSerial == chosenSerial;
    if (!chosen && pageBeganStream && pagePacket == 0) {
      const int32_t copy = std::min(take, static_cast<int32_t>(firstBytes.size()) - firstByteCount);
      std::memcpy(firstBytes.data() + firstByteCount, bytes, static_cast<size_t>(copy));
      firstByteCount += copy;
    } else if (chosenPage && chosenPacket == 1) {
      comments.Consume(bytes, take);
      if (comments.Done()) {
        Release();
        return;
      }
    }
    bytes += take;
    size -= take;
    segmentLeft -= take;
    PassSegmentEnds();
  }
}

void OggChainReader::PassSegmentEnds() {
  while (trackingPage && segmentIndex < segmentCount && segmentLeft == 0) {
    const bool endsPacket = lacing[static_cast<size_t>(segmentIndex)] < 255;
    ++segmentIndex;
    if (segmentIndex < segmentCount) {
      segmentLeft = lacing[static_cast<size_t>(segmentIndex)];
    }
    if (endsPacket) {
      EndPacket();
    }
  }
}

void OggChainReader::EndPacket() {
  if (!chosen) {
    if (pageBeganStream && pagePacket == 0) {
      // The identification header names the codec; only Vorbis and Opus
      // carry the comment list read here.
      const auto count = static_cast<size_t>(firstByteCount);
      Codec codec = Codec::None;
      if (count >= 7 && std::memcmp(firstBytes.data(), kVorbisIdentification, 7) == 0) {
        codec = Codec::Vorbis;
      } else if (count >= 8 && std::memcmp(firstBytes.data(), kOpusIdentification, 8) == 0) {
        codec = Codec::Opus;
      }
      if (codec != Codec::None) {
        chosen = true;
        chosenSerial = pageSerial;
        chosenPacket = 1;
        comments.Start(codec);
      }
    }
  } else if (pageSerial == chosenSerial) {
    if (chosenPacket == 1) {
      comments.EndPacket();
      Release();
      return;
    }
    ++chosenPacket;
  }
  ++pagePacket;
}

void OggChainReader::Route(const uint8_t* bytes, int32_t size, bool fromInput) {
  if (size <= 0) {
    return;
  }
  if (holding) {
    // Bytes from pending are counted with the rest of pending, which stays
    // in memory meanwhile.
    const int64_t kept = static_cast<int64_t>(held.size()) + (fromInput ? size : PendingSize());
    if (kept <= kMaxHeldBytes) {
      if (held.capacity() < held.size() + static_cast<size_t>(size)) {
        // Grow by doubling, but never past the bound.
        held.reserve(std::min(std::max(held.size() + static_cast<size_t>(size), 2 * held.capacity()),
                              static_cast<size_t>(kMaxHeldBytes)));
      }
      held.insert(held.end(), bytes, bytes + size);
      return;
    }
    Release();
  }
  if (!fromInput) {
    FlushRun();
    sink.OnOggAudio(bytes, size);
    return;
  }
  if (runSize > 0 && runData + runSize == bytes) {
    runSize += size;
    return;
  }
  FlushRun();
  runData = bytes;
  runSize = size;
}

void OggChainReader::FlushRun() {
  if (runSize == 0) {
    return;
  }
  // Cleared first: the run points into the caller's bytes, which an
  // exception from the sink would leave behind.
  const uint8_t* bytes = runData;
  const int32_t size = runSize;
  runData = nullptr;
  runSize = 0;
  sink.OnOggAudio(bytes, size);
}

void OggChainReader::Release() {
  const std::string title = comments.Title();
  holding = false;
  ForgetGroup();
  sink.OnOggTitle(title);
  if (!held.empty()) {
    sink.OnOggAudio(held.data(), static_cast<int32_t>(held.size()));
  }
  held.clear();
}

void OggChainReader::ForgetGroup() {
  chosen = false;
  chosenSerial = 0;
  chosenPacket = 0;
  comments = CommentReader();
  trackingPage = false;
}
