#include "support/HlsFixture.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
}

#include <fcntl.h>
#include <strings.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <stdexcept>
#include <utility>

#include "net/HttpConnection.h"
#include "base/UniqueFd.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace {

constexpr int kSampleRate = 44100;
constexpr int kSamplesPerAacFrame = 1024;

// Runs ffmpeg with the arguments after its quiet options; throws with its
// error output when it fails.
void RunFfmpeg(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), {"ffmpeg", "-nostdin", "-hide_banner", "-v", "error", "-y"});
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe2 failed");
  }
  UniqueFd readEnd(pipeEnds[0]);
  UniqueFd writeEnd(pipeEnds[1]);
  const pid_t pid = SpawnChild(arguments, "/dev/null", writeEnd.Get());
  writeEnd.Reset();  // so that the read below ends when the child does
  if (pid <= 0) {
    throw std::runtime_error("ffmpeg cannot be started");
  }
  std::string errors;
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(readEnd.Get(), buffer, sizeof buffer);
    if (got > 0) {
      errors.append(buffer, static_cast<size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      break;
    }
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::string command;
    for (const std::string& argument : arguments) {
      command += argument + " ";
    }
    throw std::runtime_error("ffmpeg failed: " + command + "\n" + errors);
  }
}

std::string Tone(double seconds, int frequency) {
  return "sine=frequency=" + std::to_string(frequency) + ":sample_rate=" + std::to_string(kSampleRate) +
         ":duration=" + std::to_string(seconds);
}

struct OutputContextFreer {
  void operator()(AVFormatContext* format) const { avformat_free_context(format); }
};
struct PacketFreer {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};

// A dynamic buffer AVIOContext; whatever it holds is freed with it.
class DynamicBuffer {
 public:
  DynamicBuffer() {
    if (avio_open_dyn_buf(&io) < 0) {
      throw std::runtime_error("avio_open_dyn_buf failed");
    }
  }
  ~DynamicBuffer() {
    if (io != nullptr) {
      uint8_t* bytes = nullptr;
      avio_close_dyn_buf(io, &bytes);
      av_free(bytes);
    }
  }
  DynamicBuffer(const DynamicBuffer&) = delete;
  DynamicBuffer& operator=(const DynamicBuffer&) = delete;

  AVIOContext* Get() const { return io; }
  std::string Take() {
    uint8_t* bytes = nullptr;
    const int size = avio_close_dyn_buf(io, &bytes);
    io = nullptr;
    std::string taken(reinterpret_cast<const char*>(bytes), static_cast<size_t>(std::max(size, 0)));
    av_free(bytes);
    return taken;
  }

 private:
  AVIOContext* io = nullptr;
};

void WritePacket(AVFormatContext* format, int streamIndex, const std::string& bytes, int64_t pts,
                 AVRational timeBase) {
  std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
  if (!packet || av_new_packet(packet.get(), static_cast<int>(bytes.size())) < 0) {
    throw std::runtime_error("cannot allocate a packet");
  }
  std::memcpy(packet->data, bytes.data(), bytes.size());
  packet->stream_index = streamIndex;
  packet->pts = av_rescale_q(pts, timeBase, format->streams[streamIndex]->time_base);
  packet->dts = packet->pts;
  if (av_interleaved_write_frame(format, packet.get()) < 0) {
    throw std::runtime_error("the TS muxer refused a packet");
  }
}

std::vector<std::string> SplitFrames(const std::string& stream, size_t (*lengthAt)(const std::string&, size_t)) {
  std::vector<std::string> frames;
  for (size_t at = 0; at < stream.size();) {
    const size_t length = lengthAt(stream, at);
    if (length == 0 || at + length > stream.size()) {
      throw std::runtime_error("not a clean frame sequence at byte " + std::to_string(at));
    }
    frames.push_back(stream.substr(at, length));
    at += length;
  }
  return frames;
}

size_t AdtsLengthAt(const std::string& stream, size_t at) {
  if (at + 7 > stream.size() || static_cast<uint8_t>(stream[at]) != 0xFF ||
      (static_cast<uint8_t>(stream[at + 1]) & 0xF6) != 0xF0) {
    return 0;
  }
  const auto byte = [&](size_t index) { return static_cast<size_t>(static_cast<uint8_t>(stream[at + index])); };
  return ((byte(3) & 0x03) << 11) | (byte(4) << 3) | (byte(5) >> 5);
}

// MPEG-1 layer III only, which is what EncodeMp3 makes.
size_t Mp3LengthAt(const std::string& stream, size_t at) {
  static constexpr int kBitRates[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
  static constexpr int kRates[4] = {44100, 48000, 32000, 0};
  if (at + 4 > stream.size() || static_cast<uint8_t>(stream[at]) != 0xFF ||
      (static_cast<uint8_t>(stream[at + 1]) & 0xFE) != 0xFA) {
    return 0;
  }
  const auto third = static_cast<uint8_t>(stream[at + 2]);
  const int bitRate = kBitRates[third >> 4];
  const int rate = kRates[(third >> 2) & 0x03];
  if (bitRate == 0 || rate == 0) {
    return 0;
  }
  return size_t{144} * static_cast<size_t>(bitRate) * 1000 / static_cast<size_t>(rate) + ((third >> 1) & 1U);
}

}  // namespace

std::string EncodeAdts(double seconds, const std::filesystem::path& workDirectory, int frequency) {
  const std::filesystem::path output = workDirectory / "hls-tone.aac";
  RunFfmpeg({"-f", "lavfi", "-i", Tone(seconds, frequency), "-ac", "1", "-c:a", "aac", "-b:a", "64k", "-f", "adts",
             output.string()});
  return ReadFileBytes(output);
}

std::string EncodeMp3(double seconds, const std::filesystem::path& workDirectory, int frequency) {
  const std::filesystem::path output = workDirectory / "hls-tone.mp3";
  RunFfmpeg({"-f", "lavfi", "-i", Tone(seconds, frequency), "-ac", "1", "-c:a", "libmp3lame", "-b:a", "64k",
             "-write_xing", "0", "-id3v2_version", "0", "-f", "mp3", output.string()});
  return ReadFileBytes(output);
}

std::string EncodeTs(double seconds, const std::string& codec, const std::filesystem::path& workDirectory) {
  const std::filesystem::path output = workDirectory / "hls-tone.ts";
  RunFfmpeg({"-f", "lavfi", "-i", Tone(seconds, 440), "-c:a", codec, "-f", "mpegts", output.string()});
  return ReadFileBytes(output);
}

std::vector<std::string> SplitAdtsFrames(const std::string& adts) { return SplitFrames(adts, &AdtsLengthAt); }

std::vector<std::string> SplitMpegAudioFrames(const std::string& mp3) { return SplitFrames(mp3, &Mp3LengthAt); }

std::vector<std::string> SyntheticAdtsFrames(size_t count, uint32_t seed, size_t payloadSize) {
  std::vector<std::string> frames;
  const size_t length = payloadSize + 7;
  // AAC-LC (profile 1), 44.1 kHz (index 4), mono, no CRC, fullness 0x7FF.
  const std::string header = {'\xFF',
                              '\xF1',
                              static_cast<char>(0x50),
                              static_cast<char>(0x40 | (length >> 11)),
                              static_cast<char>((length >> 3) & 0xFF),
                              static_cast<char>(((length & 0x07) << 5) | 0x1F),
                              '\xFC'};
  for (size_t index = 0; index < count; ++index) {
    frames.push_back(header + TestBytes(payloadSize, seed * 100003u + static_cast<uint32_t>(index)));
  }
  return frames;
}

std::string Id3Tag(const std::string& title, const std::string& artist, const std::filesystem::path& workDirectory) {
  static std::mutex cacheMutex;
  static std::map<std::pair<std::string, std::string>, std::string> cache;
  {
    std::lock_guard<std::mutex> lock(cacheMutex);
    const auto found = cache.find({title, artist});
    if (found != cache.end()) {
      return found->second;
    }
  }
  const std::filesystem::path output = workDirectory / "hls-id3.aac";
  std::vector<std::string> arguments = {"-f", "lavfi", "-i", "anullsrc=r=44100:cl=mono", "-t", "0.05",
                                        "-c:a", "aac", "-f", "adts", "-write_id3v2", "1"};
  if (!title.empty()) {
    arguments.insert(arguments.end(), {"-metadata", "title=" + title});
  }
  if (!artist.empty()) {
    arguments.insert(arguments.end(), {"-metadata", "artist=" + artist});
  }
  arguments.push_back(output.string());
  RunFfmpeg(arguments);
  const std::string file = ReadFileBytes(output);
  if (file.size() < 10 || file.compare(0, 3, "ID3") != 0) {
    throw std::runtime_error("ffmpeg wrote no ID3 tag");
  }
  size_t size = 10;
  for (size_t index = 6; index < 10; ++index) {
    size += static_cast<size_t>(static_cast<uint8_t>(file[index]) & 0x7F) << (7 * (9 - index));
  }
  std::string tag = file.substr(0, size);
  std::lock_guard<std::mutex> lock(cacheMutex);
  cache[{title, artist}] = tag;
  return tag;
}

HlsSegments SegmentWithFfmpeg(const std::string& audio, const std::string& extension, HlsContainer container,
                              double segmentSeconds, const std::filesystem::path& workDirectory) {
  const std::filesystem::path directory = workDirectory / "hls-segments";
  std::filesystem::remove_all(directory);
  std::filesystem::create_directories(directory);
  const std::filesystem::path input = workDirectory / ("hls-input." + extension);
  WriteFileBytes(input, audio);
  const bool fmp4 = container == HlsContainer::Fmp4;
  std::vector<std::string> arguments = {"-i", input.string(), "-c", "copy"};
  if (fmp4 && extension == "aac") {
    arguments.insert(arguments.end(), {"-bsf:a", "aac_adtstoasc"});
  }
  arguments.insert(arguments.end(),
                   {"-f", "hls", "-hls_time", std::to_string(segmentSeconds), "-hls_list_size", "0",
                    "-hls_segment_type", fmp4 ? "fmp4" : "mpegts", "-hls_segment_filename",
                    (directory / (fmp4 ? "seg%d.m4s" : "seg%d.ts")).string()});
  if (fmp4) {
    arguments.insert(arguments.end(), {"-hls_fmp4_init_filename", "init.mp4"});
  }
  arguments.push_back((directory / "list.m3u8").string());
  RunFfmpeg(arguments);

  HlsSegments result;
  result.playlist = ReadFileBytes(directory / "list.m3u8");
  if (fmp4) {
    result.init = ReadFileBytes(directory / "init.mp4");
  }
  size_t at = 0;
  while (at < result.playlist.size()) {
    const size_t end = std::min(result.playlist.find('\n', at), result.playlist.size());
    const std::string line = result.playlist.substr(at, end - at);
    if (!line.empty() && line[0] != '#') {
      result.segments.push_back(ReadFileBytes(directory / line));
    }
    at = end + 1;
  }
  return result;
}

std::string MuxTimedId3Ts(const std::vector<std::string>& adtsFrames, const std::vector<TimedId3>& tags) {
  AVFormatContext* raw = nullptr;
  if (avformat_alloc_output_context2(&raw, nullptr, "mpegts", nullptr) < 0) {
    throw std::runtime_error("no mpegts muxer");
  }
  std::unique_ptr<AVFormatContext, OutputContextFreer> format(raw);
  AVStream* audio = avformat_new_stream(format.get(), nullptr);
  AVStream* data = avformat_new_stream(format.get(), nullptr);
  if (audio == nullptr || data == nullptr) {
    throw std::runtime_error("cannot add streams");
  }
  const AVRational frameTime{1, kSampleRate};
  audio->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
  audio->codecpar->codec_id = AV_CODEC_ID_AAC;
  audio->codecpar->sample_rate = kSampleRate;
  av_channel_layout_default(&audio->codecpar->ch_layout, 1);
  audio->time_base = frameTime;
  data->codecpar->codec_type = AVMEDIA_TYPE_DATA;
  data->codecpar->codec_id = AV_CODEC_ID_TIMED_ID3;
  data->time_base = AVRational{1, 90000};

  DynamicBuffer buffer;
  format->pb = buffer.Get();
  if (avformat_write_header(format.get(), nullptr) < 0) {
    throw std::runtime_error("the TS muxer refused its header");
  }
  for (size_t frame = 0; frame < adtsFrames.size(); ++frame) {
    const auto pts = static_cast<int64_t>(frame) * kSamplesPerAacFrame;
    for (const TimedId3& tag : tags) {
      if (tag.frame == frame) {
        WritePacket(format.get(), 1, tag.tag, pts, frameTime);
      }
    }
    WritePacket(format.get(), 0, adtsFrames[frame], pts, frameTime);
  }
  if (av_write_trailer(format.get()) < 0) {
    throw std::runtime_error("the TS muxer failed at its end");
  }
  format->pb = nullptr;
  return buffer.Take();
}

std::string MediaPlaylistText(int64_t firstSequence, const std::vector<PlaylistSegment>& segments,
                              int targetDuration, bool endList, const std::string& mapUri) {
  std::string text = "#EXTM3U\n#EXT-X-VERSION:6\n#EXT-X-TARGETDURATION:" + std::to_string(targetDuration) +
                     "\n#EXT-X-MEDIA-SEQUENCE:" + std::to_string(firstSequence) + "\n";
  if (!mapUri.empty()) {
    text += "#EXT-X-MAP:URI=\"" + mapUri + "\"\n";
  }
  for (const PlaylistSegment& segment : segments) {
    if (segment.discontinuity) {
      text += "#EXT-X-DISCONTINUITY\n";
    }
    text += "#EXTINF:" + std::to_string(segment.duration) + "," + segment.title + "\n" + segment.uri + "\n";
  }
  if (endList) {
    text += "#EXT-X-ENDLIST\n";
  }
  return text;
}

std::vector<std::string> PackedAdtsSegments(const std::vector<std::string>& frames, size_t framesPerSegment,
                                            const std::vector<std::string>& id3Tags) {
  std::vector<std::string> segments;
  for (size_t first = 0; first < frames.size(); first += framesPerSegment) {
    const size_t index = segments.size();
    std::string segment = index < id3Tags.size() ? id3Tags[index] : "";
    for (size_t frame = first; frame < std::min(frames.size(), first + framesPerSegment); ++frame) {
      segment += frames[frame];
    }
    segments.push_back(std::move(segment));
  }
  return segments;
}

LiveHlsStation::LiveHlsStation(IcyTestServer& server, std::string prefix, std::vector<std::string> segments,
                               size_t window, int targetDuration, std::vector<std::string> titles)
    : server(server),
      prefix(std::move(prefix)),
      segments(std::move(segments)),
      titles(std::move(titles)),
      window(window),
      targetDuration(targetDuration) {
  std::lock_guard<std::mutex> lock(mutex);
  published = std::min(window, this->segments.size());
  Publish();
}

std::string LiveHlsStation::PlaylistUrl() const { return server.Url(prefix + "/live.m3u8"); }

std::string LiveHlsStation::SegmentPath(size_t index) const {
  return prefix + "/seg" + std::to_string(index) + ".aac";
}

std::string LiveHlsStation::PlaylistText() const {
  std::lock_guard<std::mutex> lock(mutex);
  return text;
}

void LiveHlsStation::Advance(size_t count) {
  std::lock_guard<std::mutex> lock(mutex);
  published = std::min(segments.size(), published + count);
  Publish();
}

void LiveHlsStation::End() {
  std::lock_guard<std::mutex> lock(mutex);
  ended = true;
  Publish();
}

void LiveHlsStation::SetKeepAlive(bool keep) {
  std::lock_guard<std::mutex> lock(mutex);
  keepAlive = keep;
  Publish();
}

size_t LiveHlsStation::Published() const {
  std::lock_guard<std::mutex> lock(mutex);
  return published;
}

void LiveHlsStation::Publish() {
  // Kept open after each answer, as HLS servers do.
  const auto answer = [this](const std::string& type, const std::string& body) {
    IcyResponse response{"HTTP/1.1 200 OK\r\nContent-Type: " + type +
                             "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n",
                         body};
    response.keepAlive = keepAlive;
    return response;
  };
  const size_t first = published > window ? published - window : 0;
  std::vector<PlaylistSegment> listed;
  for (size_t index = first; index < published; ++index) {
    // Segments are routed before the playlist names them.
    server.Route(SegmentPath(index), answer("audio/aac", segments[index]));
    // A relative URI, as stations write them.
    listed.push_back({"seg" + std::to_string(index) + ".aac", static_cast<double>(targetDuration),
                      index < titles.size() ? titles[index] : ""});
  }
  text = MediaPlaylistText(static_cast<int64_t>(first), listed, targetDuration, ended);
  server.Route(prefix + "/live.m3u8", answer("application/vnd.apple.mpegurl", text));
}

HlsReader::Fetched LoopbackFetcher::Fetch(const std::string& url, size_t maxBytes) {
  auto connection = std::make_shared<HttpConnection>();
  {
    std::lock_guard<std::mutex> lock(mutex);
    urls.push_back(url);
    current = connection;
  }
  // An abort between the check and the publication above is seen here.
  if (aborted.load()) {
    connection->Abort();
  }
  struct Release {
    LoopbackFetcher& fetcher;
    ~Release() {
      std::lock_guard<std::mutex> lock(fetcher.mutex);
      fetcher.current.reset();
    }
  } release{*this};

  connection->Open(url, "");
  std::string received;
  uint8_t buffer[16384];
  size_t headerEnd = std::string::npos;
  for (int32_t count; (count = connection->Read(buffer, sizeof buffer)) > 0;) {
    received.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(count));
    if (headerEnd == std::string::npos) {
      headerEnd = received.find("\r\n\r\n");
    }
    if (headerEnd != std::string::npos && received.size() - headerEnd - 4 > maxBytes) {
      throw ConnectionError("response larger than " + std::to_string(maxBytes) + " bytes");
    }
  }
  if (headerEnd == std::string::npos) {
    throw ConnectionError("no header block");
  }
  HlsReader::Fetched fetched;
  fetched.body = received.substr(headerEnd + 4);
  for (size_t at = 0; at < headerEnd;) {
    const size_t end = received.find("\r\n", at);
    const std::string line = received.substr(at, end - at);
    if (line.size() > 13 && strncasecmp(line.c_str(), "content-type:", 13) == 0) {
      fetched.contentType = line.substr(line.find_first_not_of(' ', 13));
    }
    at = end + 2;
  }
  return fetched;
}

void LoopbackFetcher::Abort() {
  aborted.store(true);
  std::lock_guard<std::mutex> lock(mutex);
  if (current) {
    current->Abort();
  }
}

std::vector<std::string> LoopbackFetcher::Urls() const {
  std::lock_guard<std::mutex> lock(mutex);
  return urls;
}
