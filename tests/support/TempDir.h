#pragma once

#include <filesystem>
#include <string>

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();

  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return path; }
  // Path() / name, as a string.
  std::string File(const std::string& name) const;

 private:
  std::filesystem::path path;
};

// The whole contents of a file as bytes; empty when it cannot be read.
std::string ReadFileBytes(const std::filesystem::path& file);
// Writes bytes to a file, replacing it.
void WriteFileBytes(const std::filesystem::path& file, const std::string& bytes);
