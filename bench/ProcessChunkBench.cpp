// Demultiplexer throughput: an ICY stream cut into 50000-byte reads, audio
// handed to an observer that does nothing. Beside it, a plain memcpy of the
// same bytes in the same reads, the floor for any demultiplexer.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "stream/ServerStream.h"
#include "stream/StreamBuffer.h"

namespace {

constexpr int32_t kReadSize = 50000;
constexpr size_t kStreamBytes = 16 * 1024 * 1024;

class NullObserver : public StreamObserver {};

// A response header block, then audio with a metadata block after every
// interval; a title change every 64 blocks, empty metadata otherwise.
std::string MakeStream(int32_t interval) {
  std::string bytes = "ICY 200 OK\r\nicy-name:Bench\r\nicy-br:128\r\nicy-metaint:" + std::to_string(interval) +
                      "\r\n\r\n";
  bytes.reserve(kStreamBytes + 65536);
  int block = 0;
  while (bytes.size() < kStreamBytes) {
    bytes.append(static_cast<size_t>(interval), static_cast<char>('a' + block % 26));
    if (block % 64 == 0) {
      std::string meta = "StreamTitle='Title " + std::to_string(block) + "';StreamUrl='';";
      meta.resize((meta.size() + 15) / 16 * 16, '\0');
      bytes.push_back(static_cast<char>(meta.size() / 16));
      bytes += meta;
    } else {
      bytes.push_back('\0');
    }
    ++block;
  }
  return bytes;
}

void BM_ProcessChunk(benchmark::State& state) {
  const std::string bytes = MakeStream(static_cast<int32_t>(state.range(0)));
  NullObserver observer;
  for (auto _ : state) {
    ServerStream stream;
    stream.AddObserver(&observer);
    stream.BeginResponse();
    for (size_t offset = 0; offset < bytes.size(); offset += kReadSize) {
      const size_t n = std::min<size_t>(kReadSize, bytes.size() - offset);
      StreamBuffer chunk(bytes.data() + offset, static_cast<int32_t>(n));
      stream.ProcessChunk(&chunk);
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_ProcessChunk)->Arg(8192)->Arg(16000)->Unit(benchmark::kMillisecond);

void BM_Memcpy(benchmark::State& state) {
  const std::string bytes = MakeStream(16000);
  std::vector<char> target(kReadSize);
  for (auto _ : state) {
    for (size_t offset = 0; offset < bytes.size(); offset += kReadSize) {
      const size_t n = std::min<size_t>(kReadSize, bytes.size() - offset);
      std::memcpy(target.data(), bytes.data() + offset, n);
      benchmark::DoNotOptimize(target.data());
      benchmark::ClobberMemory();
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);

}  // namespace
