#include "recording/SilenceCutter.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <exception>
#include <optional>
#include <utility>
#include <vector>

#include "recording/CutChooser.h"
#include "recording/FrameIndex.h"
#include "recording/HeldAudio.h"
#include "stream/StreamBuffer.h"
#include "stream/StreamState.h"

namespace {

constexpr double kMicrosPerSecond = 1e6;
// A title change is decided once this much more than searchAfter is there,
// so that the parser, which hands a frame on only when it has seen its end,
// has found every frame of the range.
constexpr int64_t kDecideMarginUs = 100'000;
// What a held item costs beyond its audio bytes, for the hard bound.
constexpr int64_t kItemOverheadBytes = 64;
constexpr int64_t kReachUs = int64_t{SilenceCutter::kReachMs} * 1000;

}  // namespace

// The queue of what the cutter holds back: audio blocks and events, in the
// stream's order, each at its position in the response's audio. Frames are
// found (FrameIndex) as the audio comes, and a title change is decided
// (CutChooser) once enough audio after it is there; deciding moves the
// change, and the repeats that belong with it, to the chosen place.
//
// The queue is in the order of the items' positions, so an item is found by
// a binary search; the undecided changes are listed apart (`pending`), so
// that no piece of audio walks the queue, whose length only the hard bound
// limits.
struct SilenceCutter::Impl {
  // What an item of the queue is. A Title's Url has its Title's role.
  enum class Role : uint8_t {
    Audio,
    Event,   // any other event, also a title whose place is settled
    Change,  // a title change whose cut is not decided yet
    Repeat,  // a title equal to the one before it
  };
  struct Item {
    uint64_t id = 0;  // unique, in the order items came
    Role role = Role::Event;
    bool url = false;       // the Url that follows a Title
    int64_t position = 0;   // audio bytes of the response before it
    int32_t size = 0;       // audio bytes (Audio)
    StreamEvent kind = StreamEvent::Title;
    std::string text;
  };
  // An undecided change: the Item of this id, at this position.
  struct Pending {
    uint64_t id = 0;
    int64_t position = 0;
  };

  Impl(StreamObserver& observer, const RecordingOptions& recording) : next(observer), chooser(recording) {}

  // Constant after construction.
  StreamObserver& next;

  // The rest is the worker's (or, while the worker is stopped, the
  // controlling thread's); only heldBytes is read from elsewhere.
  CutChooser chooser;
  bool connected = false;
  bool audioInResponse = false;
  std::string lastTitle;  // the latest title in the stream's order

  std::deque<Item> items;
  std::deque<Pending> pending;  // the items of role Change but no Url, in order
  uint64_t nextId = 0;
  int64_t itemOverhead = 0;  // kItemOverheadBytes and texts of the items
  HeldAudio held;
  FrameIndex frames;    // of the held audio
  int64_t lastCut = 0;  // where the last title of this response went
  std::atomic<int64_t> heldBytes{0};

  void OnAudio(const uint8_t* data, int32_t size);
  void OnText(StreamEvent kind, std::string text);

  void BeginResponse(FrameCodec codec);
  void Ingest(const uint8_t* data, int32_t size);
  int64_t TimeAt(int64_t position) const { return frames.TimeAt(position); }

  void Hold(Item item);
  void HoldOrPass(StreamEvent kind, std::string text);
  std::exception_ptr FlushAll();
  void FlushAndEnd(StreamEvent kind, std::string text);
  void DecideDue();
  void Release();
  void HandOnBefore(int64_t keepFrom);
  void HandOnFront();
  int64_t KeepFrom() const;
  void DropBefore(int64_t position);
  void UpdateHeld() { heldBytes.store(held.End() - held.Base(), std::memory_order_relaxed); }
  int64_t HeldTotal() const { return (held.End() - held.Base()) + itemOverhead; }

  // Where the oldest undecided change is in the queue.
  std::optional<size_t> FirstChange() const;
  // The index of the first item for which `after` holds, items being
  // ordered so that it holds from some index on.
  template <typename After>
  size_t FirstWhere(After after) const;
  void Decide(size_t index);
  void Move(size_t index, int64_t cut);
  size_t SplitAt(int64_t position);
  void Settle(size_t index, int64_t cut);
};

SilenceCutter::SilenceCutter(StreamObserver& next, const RecordingOptions& options)
    : impl(std::make_unique<Impl>(next, options)) {}

SilenceCutter::~SilenceCutter() = default;

void SilenceCutter::Reset() {
  Flush();
  impl->BeginResponse(FrameCodec::None);
  impl->chooser.Forget();
  impl->connected = false;
  impl->lastTitle.clear();
  impl->frames.SetFallbackBytesPerSecond(0);
}

void SilenceCutter::OnAudio(const StreamBuffer& audio) { impl->OnAudio(audio.Data(), audio.Size()); }

void SilenceCutter::OnText(StreamEvent kind, std::string text) { impl->OnText(kind, std::move(text)); }

void SilenceCutter::OnReadEnd() { impl->next.OnReadEnd(); }

void SilenceCutter::Flush() { (void)impl->FlushAll(); }

int64_t SilenceCutter::HeldBytes() const { return impl->heldBytes.load(std::memory_order_relaxed); }

void SilenceCutter::Impl::OnAudio(const uint8_t* data, int32_t size) {
  if (size <= 0) {
    return;
  }
  if (frames.Codec() == FrameCodec::None) {
    if (!items.empty()) {
      if (const std::exception_ptr failure = FlushAll()) {
        std::rethrow_exception(failure);
      }
    }
    const StreamBuffer block(data, size);
    next.OnAudio(block);
    return;
  }
  while (size > 0) {
    const int32_t piece = std::min(size, kMaxPieceBytes);
    Ingest(data, piece);
    data += piece;
    size -= piece;
  }
}

void SilenceCutter::Impl::OnText(StreamEvent kind, std::string text) {
  switch (kind) {
    case StreamEvent::State:
      if (text == StreamStateText(StreamState::Connected)) {
        connected = true;
        HoldOrPass(kind, std::move(text));
        return;
      }
      connected = false;
      FlushAndEnd(kind, std::move(text));
      return;
    case StreamEvent::Format:
    case StreamEvent::Gap: {
      // A new response, or audio missing before the next block: no cut
      // moves across it, and what follows is timed and decoded afresh.
      const std::exception_ptr failure = FlushAll();
      BeginResponse(kind == StreamEvent::Gap  ? frames.Codec()
                    : text == "mp3"           ? FrameCodec::Mpeg
                    : text == "aac"           ? FrameCodec::Aac
                                              : FrameCodec::None);
      next.OnText(kind, std::move(text));
      if (failure) {
        std::rethrow_exception(failure);
      }
      return;
    }
    case StreamEvent::Bitrate: {
      // "128", sometimes "128,128": the leading number, in kbit/s.
      int64_t kbps = 0;
      for (const char digit : text) {
        if (digit < '0' || digit > '9' || kbps > 100000) {
          break;
        }
        kbps = kbps * 10 + (digit - '0');
      }
      frames.SetFallbackBytesPerSecond(kbps * 1000 / 8);
      HoldOrPass(kind, std::move(text));
      return;
    }
    case StreamEvent::Url:
      if (!items.empty() && items.back().role != Role::Audio && items.back().kind == StreamEvent::Title &&
          !items.back().url) {
        Item item;
        item.role = items.back().role;
        item.url = true;
        item.position = held.End();
        item.kind = kind;
        item.text = std::move(text);
        Hold(std::move(item));
        return;
      }
      HoldOrPass(kind, std::move(text));
      return;
    case StreamEvent::Title:
      break;
    default:
      HoldOrPass(kind, std::move(text));
      return;
  }
  if (!connected) {
    // The stop's final empty title: nothing more comes.
    FlushAndEnd(kind, std::move(text));
    return;
  }
  if (frames.Codec() == FrameCodec::None || !audioInResponse) {
    // Nothing to cut: no decodable audio, or the title of a response's first
    // audio, which has nothing before it to move to.
    lastTitle = text;
    HoldOrPass(kind, std::move(text));
    return;
  }
  Item item;
  item.role = text == lastTitle ? Role::Repeat : Role::Change;
  item.position = held.End();
  item.kind = kind;
  lastTitle = text;
  item.text = std::move(text);
  Hold(std::move(item));
}

void SilenceCutter::Impl::FlushAndEnd(StreamEvent kind, std::string text) {
  // The stream announces these outside any handler of its own: an error of
  // `next` here would end its worker. The writer keeps the reason.
  (void)FlushAll();
  try {
    next.OnText(kind, std::move(text));
  } catch (...) {
  }
}

void SilenceCutter::Impl::BeginResponse(FrameCodec codec) {
  connected = true;
  audioInResponse = false;
  held.Clear();
  lastCut = 0;
  chooser.Reset();
  frames.Begin(codec);
  UpdateHeld();
}

void SilenceCutter::Impl::Ingest(const uint8_t* data, int32_t size) {
  Item item;
  item.id = nextId++;
  item.role = Role::Audio;
  item.position = held.End();
  item.size = size;
  held.Append(data, size);
  items.push_back(std::move(item));
  itemOverhead += kItemOverheadBytes;
  audioInResponse = true;
  UpdateHeld();
  const int64_t before = TimeAt(held.End() - size);
  frames.Parse(data, size, held);
  chooser.Credit(TimeAt(held.End()) - before);
  DecideDue();
  Release();
}

void SilenceCutter::Impl::Hold(Item item) {
  itemOverhead += kItemOverheadBytes + static_cast<int64_t>(item.text.size());
  item.id = nextId++;
  if (item.role == Role::Change && !item.url) {
    pending.push_back({item.id, item.position});
  }
  items.push_back(std::move(item));
}

void SilenceCutter::Impl::HoldOrPass(StreamEvent kind, std::string text) {
  if (items.empty()) {
    next.OnText(kind, std::move(text));
    return;
  }
  Item item;
  item.position = held.End();
  item.kind = kind;
  item.text = std::move(text);
  Hold(std::move(item));
}

std::exception_ptr SilenceCutter::Impl::FlushAll() {
  while (const std::optional<size_t> change = FirstChange()) {
    Decide(*change);
  }
  pending.clear();
  std::exception_ptr failure;
  while (!items.empty()) {
    try {
      HandOnFront();
    } catch (...) {
      if (!failure) {
        failure = std::current_exception();
      }
    }
  }
  itemOverhead = 0;
  DropBefore(held.End());
  return failure;
}

template <typename After>
size_t SilenceCutter::Impl::FirstWhere(After after) const {
  return static_cast<size_t>(std::partition_point(items.begin(), items.end(),
                                                  [&](const Item& item) { return !after(item); }) -
                             items.begin());
}

std::optional<size_t> SilenceCutter::Impl::FirstChange() const {
  if (pending.empty()) {
    return std::nullopt;
  }
  const Pending& change = pending.front();
  // Past the events before it at the same position.
  for (size_t index = FirstWhere([&](const Item& item) { return item.position >= change.position; });
       index < items.size() && items[index].position == change.position; ++index) {
    if (items[index].id == change.id) {
      return index;
    }
  }
  return std::nullopt;  // never: a pending change stays where it came until it is decided
}

void SilenceCutter::Impl::DecideDue() {
  const int64_t now = TimeAt(held.End());
  while (const std::optional<size_t> change = FirstChange()) {
    if (now < TimeAt(items[*change].position) + chooser.SearchAfterUs() + kReachUs + kDecideMarginUs) {
      return;
    }
    Decide(*change);
  }
}

int64_t SilenceCutter::Impl::KeepFrom() const {
  // A title change that comes later arrives at `end` or after, and the
  // oldest undecided one is where it is; either may cut back to searchBefore
  // before it, looks kReachMs further, and its decoding starts kPrerollFrames
  // earlier still.
  const int64_t end = held.End();
  int64_t earliest = TimeAt(end);
  if (const std::optional<size_t> change = FirstChange()) {
    earliest = std::min(earliest, TimeAt(items[*change].position));
  }
  earliest -= chooser.SearchBeforeUs() + kReachUs;
  const std::deque<AudioFrame>& found = frames.Frames();
  if (found.empty()) {
    const auto back = static_cast<int64_t>((TimeAt(end) - earliest) * frames.BytesPerSecond() / kMicrosPerSecond);
    return std::max(held.Base(), end - back);
  }
  const auto first = std::lower_bound(found.begin(), found.end(), earliest,
                                      [](const AudioFrame& frame, int64_t at) { return frame.startUs < at; });
  const auto index = std::max<std::ptrdiff_t>(0, (first - found.begin()) - kPrerollFrames);
  return found[static_cast<size_t>(index)].offset;
}

void SilenceCutter::Impl::Release() {
  HandOnBefore(KeepFrom());
  while (HeldTotal() > kMaxHeldBytes) {
    // Past the hard bound: the oldest pending cut is decided with what is
    // here, and if that is not enough, the oldest audio goes on regardless.
    if (const std::optional<size_t> change = FirstChange()) {
      Decide(*change);
      HandOnBefore(KeepFrom());
      continue;
    }
    while (!items.empty() && HeldTotal() > kMaxHeldBytes * 3 / 4) {
      HandOnFront();
    }
    return;
  }
}

void SilenceCutter::Impl::HandOnBefore(int64_t keepFrom) {
  while (!items.empty()) {
    const Item& front = items.front();
    if (front.role == Role::Change) {
      return;
    }
    if (front.role == Role::Audio ? front.position + front.size > keepFrom : front.position > keepFrom) {
      return;
    }
    HandOnFront();
  }
}

void SilenceCutter::Impl::HandOnFront() {
  // Off the queue before `next` sees it: a `next` that throws loses this
  // item only.
  Item item = std::move(items.front());
  items.pop_front();
  itemOverhead -= kItemOverheadBytes + static_cast<int64_t>(item.text.size());
  if (item.role == Role::Audio) {
    const StreamBuffer block(held.At(item.position), item.size);
    DropBefore(item.position + item.size);
    next.OnAudio(block);
    return;
  }
  next.OnText(item.kind, std::move(item.text));
}

void SilenceCutter::Impl::DropBefore(int64_t position) {
  held.DropBefore(position);
  frames.DropBefore(held.Base());
  UpdateHeld();
}

void SilenceCutter::Impl::Decide(size_t index) {
  // The change decided is always the oldest one: the next tells where its cut
  // must stop.
  const int64_t before = pending.size() > 1 ? pending[1].position : held.End();
  std::optional<size_t> chosen;
  try {
    chosen = chooser.Choose(frames, held, TimeAt(items[index].position), lastCut, before);
  } catch (const std::exception&) {
    // Out of memory while decoding: the title stays where it came.
  }
  Settle(index, chosen ? frames.Frames()[*chosen].offset : items[index].position);
}

size_t SilenceCutter::Impl::SplitAt(int64_t position) {
  // The index before which an item placed at `position` goes: after the
  // events already there, before the audio from there on.
  const size_t index = FirstWhere([&](const Item& item) {
    return item.role == Role::Audio ? item.position + item.size > position : item.position > position;
  });
  if (index == items.size() || items[index].role != Role::Audio || items[index].position >= position) {
    return index;
  }
  Item& item = items[index];
  Item tail = item;
  tail.id = nextId++;
  tail.position = position;
  tail.size = static_cast<int32_t>(item.position + item.size - position);
  item.size = static_cast<int32_t>(position - item.position);
  items.insert(items.begin() + static_cast<std::ptrdiff_t>(index) + 1, tail);
  itemOverhead += kItemOverheadBytes;
  return index + 1;
}

void SilenceCutter::Impl::Settle(size_t index, int64_t cut) {
  pending.pop_front();
  const int64_t position = items[index].position;
  if (cut == position) {
    items[index].role = Role::Event;
    if (index + 1 < items.size() && items[index + 1].url && items[index + 1].role == Role::Change) {
      items[index + 1].role = Role::Event;
    }
    lastCut = cut;
    return;
  }
  Move(index, cut);
  lastCut = cut;
}

void SilenceCutter::Impl::Move(size_t index, int64_t cut) {
  const uint64_t change = items[index].id;
  const int64_t position = items[index].position;
  // No audio item spans the cut from here on; the change may have shifted.
  SplitAt(cut);
  // Take out the change, its Url, and the repeated titles between its old and
  // its new place: those before it repeat the old title and stay before it,
  // those after it repeat the new one and stay after it. Only the items
  // placed from `from` to `to` can move, and they are rearranged where they
  // are: nothing else in the queue shifts.
  const int64_t from = std::min(cut, position);
  const int64_t to = std::max(cut, position);
  const size_t first = FirstWhere([&](const Item& item) { return item.position >= from; });
  const size_t last = FirstWhere([&](const Item& item) { return item.position > to; });
  std::vector<Item> earlier;
  std::vector<Item> moving;
  std::vector<Item> later;
  std::vector<Item> kept;
  std::optional<size_t> changeAt;  // once the change is behind
  for (size_t at = first; at < last; ++at) {
    Item& item = items[at];
    const bool seen = changeAt.has_value();
    const bool inRange = item.role == Role::Repeat && item.position >= from && item.position <= to;
    if (item.id == change || (seen && at == *changeAt + 1 && item.url && item.role == Role::Change)) {
      changeAt = changeAt.value_or(at);
      item.role = Role::Event;
      moving.push_back(std::move(item));
    } else if (inRange && !seen && cut < position) {
      item.role = Role::Event;
      earlier.push_back(std::move(item));
    } else if (inRange && seen && cut > position) {
      item.role = Role::Event;
      later.push_back(std::move(item));
    } else {
      kept.push_back(std::move(item));
    }
  }
  // After the events at the cut, before the audio from there on.
  const auto insertAt = std::partition_point(kept.begin(), kept.end(), [&](const Item& item) {
    return item.role == Role::Audio ? item.position < cut : item.position <= cut;
  });
  size_t at = first;
  for (auto keep = kept.begin(); keep != insertAt; ++keep) {
    items[at++] = std::move(*keep);
  }
  for (std::vector<Item>* group : {&earlier, &moving, &later}) {
    for (Item& item : *group) {
      item.position = cut;
      items[at++] = std::move(item);
    }
  }
  for (auto keep = insertAt; keep != kept.end(); ++keep) {
    items[at++] = std::move(*keep);
  }
}
