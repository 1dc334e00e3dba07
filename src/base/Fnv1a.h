#pragma once

#include <cstdint>
#include <string_view>

// The 64-bit FNV-1a hash of text: fixed for good (it names streams in
// metrics and picks their shards), cheap, and the same on every platform.
// Not for anything an attacker may want to collide.
constexpr uint64_t Fnv1a(std::string_view text, uint64_t hash = 14695981039346656037ULL) {
  for (const char c : text) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
  }
  return hash;
}
