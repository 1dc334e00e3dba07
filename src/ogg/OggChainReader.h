#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "ogg/OggPage.h"

// Follows the Ogg pages in a stream's audio bytes and marks where each chained
// logical stream begins, with the title from its comment header.
//
// A station that streams Ogg starts every song as a new chained logical
// stream: a BOS page whose packet is the identification header, then the
// comment header ("\x03vorbis" or "OpusTags") with the song's TITLE and
// ARTIST. The reader decides only where those streams begin and what they
// are called; the bytes themselves pass on unchanged, in order, each exactly
// once (by Feed or by Finish).
//
// A BOS page that starts the response or follows pages that were not BOS
// (the consecutive BOS pages of a multiplexed group count as one) is a
// boundary: everything before it is handed on, then the bytes from it on are
// held until the comment header of the group's first Vorbis or Opus stream
// has been read, the title is announced and the held bytes follow. A group
// without such a stream is announced with "" at its first page that is not
// BOS. The comment packet is read as it arrives, across pages, without being
// kept: a packet larger than the bound (cover art) still names the song when
// TITLE and ARTIST come before the picture.
//
// Bytes that are not pages (garbage at the start, a lost sync) are handed on
// unchanged while the reader looks for the next "OggS" whose version is 0
// and whose checksum holds. Malformed input never throws or reads outside
// the bytes given.
//
// Memory: while a boundary waits, the held bytes and the bytes kept to find
// the next page stay within kMaxHeldBytes plus one page header; otherwise
// at most one page is kept, and only while the reader looks for its place
// again after a lost sync.
//
// Threads: none of its own. One thread at a time calls it (the stream's
// worker); the sink is called on that thread, from within Feed and Finish.
// An exception from the sink passes on to the caller; the reader must then
// be Reset before it is fed again.
class OggChainReader {
 public:
  // Where the reader hands bytes and titles, in stream order, on the caller's thread.
  class Sink {
   public:
    virtual ~Sink() = default;
    // Audio bytes, unchanged and in order; lent for the call.
    virtual void OnOggAudio(const uint8_t* data, int32_t size) = 0;
    // A logical stream begins with the next audio byte handed on (its BOS page).
    // title: "ARTIST - TITLE" when both comments exist, else TITLE, else ARTIST, else "".
    // A comment with an empty value counts as missing; the first of several counts.
    virtual void OnOggTitle(const std::string& title) = 0;
  };

  // Most bytes held back while a BOS page waits for its comment header; past it the
  // title is announced as far as known (possibly "") and the bytes go on.
  static constexpr int32_t kMaxHeldBytes = 256 * 1024;
  // A TITLE or ARTIST value is kept up to this many bytes (cut at a UTF-8
  // character boundary).
  static constexpr int32_t kMaxValueBytes = 1024;

  explicit OggChainReader(Sink& sink);  // sink must outlive the reader

  OggChainReader(const OggChainReader&) = delete;
  OggChainReader& operator=(const OggChainReader&) = delete;

  // The next bytes of the stream, cut anywhere (a page header may straddle two calls).
  // Nothing happens for a null pointer or a size of 0 or less.
  void Feed(const uint8_t* data, int32_t size);
  // The stream ended (connection lost or stopped): hands on everything still held,
  // a partial page included, after announcing a pending BOS's title if one waits.
  // The reader is then as after Reset.
  void Finish();
  // Forgets everything, for a new response (the next byte is expected to start a page).
  void Reset();

 private:
  enum class Codec { None, Vorbis, Opus };

  // Reads a Vorbis comment list as its bytes arrive, keeping only TITLE and
  // ARTIST.
  class CommentReader {
   public:
    void Start(Codec codec);
    // Bytes of the comment packet, in order.
    void Consume(const uint8_t* data, int32_t size);
    // The packet ended; whatever was read stands.
    void EndPacket() { done = true; }
    bool Done() const { return done; }
    std::string Title() const;

   private:
    enum class Field { Magic, VendorLength, Vendor, Count, CommentLength, Key, Value, Skip };
    enum class Target { None, Title, Artist };

    void Begin(Field next, uint32_t length);
    void FinishField();
    // The value being read; only while target is Title or Artist.
    std::string& Value() { return target == Target::Title ? title : artist; }

    Field field = Field::Magic;
    uint32_t fieldLeft = 0;      // bytes of the current field still to come
    uint32_t commentsLeft = 0;
    std::string magic;           // the packet's first bytes, compared once complete
    std::string expectedMagic;
    std::array<uint8_t, 4> number{};  // a little-endian length being read
    int32_t numberBytes = 0;
    std::string key;             // the current comment's key, as written
    Target target = Target::None;  // the comment whose value is being read
    std::string title;
    std::string artist;
    bool done = true;
  };

  // How the reader stands towards the page structure.
  enum class Sync {
    PageStart,  // a page header is expected next
    Body,       // inside a page's body
    Search,     // lost: looking for the next page
  };

  // Runs the bytes (this call's, after whatever pending keeps) through the
  // page structure.
  void Consume(const uint8_t* data, int32_t size);
  // One step at the front of the input; false when it needs more bytes.
  bool StepPageStart(const uint8_t*& data, const uint8_t* end);
  bool StepBody(const uint8_t*& data, const uint8_t* end);
  bool StepSearch(const uint8_t*& data, const uint8_t* end);

  // Front bytes kept in pending.
  const uint8_t* PendingData() const { return pending.data() + pendingStart; }
  int32_t PendingSize() const { return static_cast<int32_t>(pending.size()) - pendingStart; }
  void DropPending(int32_t count);
  // Moves bytes from the input into pending until it holds want bytes;
  // false when the input ran out first.
  bool FillPending(int32_t want, const uint8_t*& data, const uint8_t* end);

  // A page's header was found at header bytes (the page's own bytes,
  // headerLength of them); fromInput tells whether they lie in this call's input.
  void StartPage(const OggPageHeader& header, const uint8_t* bytes, bool fromInput);
  // Body bytes of the current page.
  void PageBody(const uint8_t* bytes, int32_t size, bool fromInput);
  void TrackSegments(const uint8_t* bytes, int32_t size);
  void PassSegmentEnds();
  void EndPacket();

  // Bytes decided on: held while a boundary waits, otherwise handed on
  // (bytes from this call's input gather into one run).
  void Route(const uint8_t* bytes, int32_t size, bool fromInput);
  void FlushRun();
  // Announces the waiting boundary's title and hands on what was held.
  void Release();
  void ForgetGroup();

  // Constant after construction.
  Sink& sink;

  Sync sync = Sync::PageStart;
  // Input bytes not decided on yet: a partial page header, or while
  // searching a candidate page (or the last bytes that may begin "OggS").
  std::vector<uint8_t> pending;
  int32_t pendingStart = 0;
  int32_t bodyLeft = 0;  // Body: bytes of the current page still to come

  // Pass-through bytes of this call's input not yet handed on.
  const uint8_t* runData = nullptr;
  int32_t runSize = 0;

  bool lastPageBeganStream = false;

  // The waiting boundary.
  bool holding = false;
  std::vector<uint8_t> held;
  bool chosen = false;          // a Vorbis or Opus stream of the group was found
  uint32_t chosenSerial = 0;
  int32_t chosenPacket = 0;     // index of the packet being read in the chosen stream
  CommentReader comments;

  // The current page, while a boundary waits.
  bool trackingPage = false;
  bool pageBeganStream = false;
  uint32_t pageSerial = 0;
  int32_t pagePacket = 0;  // packets that ended on this page so far
  std::array<uint8_t, 255> lacing{};
  int32_t segmentCount = 0;
  int32_t segmentIndex = 0;
  int32_t segmentLeft = 0;
  std::array<uint8_t, 8> firstBytes{};  // the start of a BOS page's first packet
  int32_t firstByteCount = 0;
};
