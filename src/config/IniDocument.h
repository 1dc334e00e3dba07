#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "config/LineFile.h"

// One section of an INI file: key → value. Keys are unique.
using IniSection = std::map<std::string, std::string>;

// An INI file held entirely in memory: named sections of key/value strings,
// with the reader, the writer and typed access. The settings file
// Driftharbour.ini is one; short-lived documents serve to merge and to
// assemble what is saved.
//
// Syntax read: each line is trimmed of spaces, then of tabs; a line starting
// with "//" is a comment; "[name]" at the start of a space-trimmed line opens
// (or continues) the section name, text after the "]" is ignored; within a
// section "key = value" sets a key (first "=" splits; key and value trimmed
// of spaces, then tabs); the last value of a repeated key wins. Anything else
// is ignored: malformed text never makes a load fail.
//
// Order: section names and keys compare byte by byte as unsigned characters,
// case-sensitive ("Default" differs from "default"; "Server_10" comes before
// "Server_2"). Saving writes in that order, with CR LF line ends; keys that
// begin with "//" are written as lines of their own, without value, above
// their section's header; every section ends with an empty line. Line breaks
// inside names, keys or values cannot be stored: each is written only up to
// its first CR or LF.
//
// Owns every section and string; documents never share storage. Pointers
// returned by FindSection stay valid until that section is removed by
// Clear or the document is destroyed.
//
// Not thread-safe: a document is used from one thread (the user-interface
// thread in the program) and takes no locks. Errors as in LineFile: Load
// reports an unopenable file with false and throws std::system_error for a
// read error; Save reports every failure with false and then leaves the old
// file untouched.
class IniDocument : public LineFile {
 public:
  using SectionMap = std::map<std::string, IniSection>;

  IniDocument();
  ~IniDocument() override;

  // Reads and parses a file into this document. Sections already here stay;
  // keys from the file are added or replace equal keys. False when the file
  // cannot be opened; the document is then unchanged.
  bool Load(const std::string& filePath);

  // The path of fileName in the directory of the executable named by a
  // command line that holds the executable's path in double quotes, e.g.
  // "\"/opt/dh/driftharbour\" --x" gives "/opt/dh/" + fileName. Without a
  // quoted path, or without a separator in it, the directory is the root.
  // Doubled separators are collapsed.
  static std::string PathBesideExecutable(const std::string& commandLine, const std::string& fileName);

  // Load(PathBesideExecutable(commandLine, fileName)). When derivedPath is
  // not null it receives the path before loading, whether or not the load
  // succeeds.
  bool LoadBesideExecutable(const std::string& commandLine, const std::string& fileName,
                            std::string* derivedPath = nullptr);

  // Writes the document to filePath in the given encoding (the program uses
  // Ansi), replacing the old file atomically. A document without sections
  // writes an empty file. The recorded path is forgotten first and becomes
  // filePath on success; on failure it stays empty and the old file is left
  // exactly as it was.
  bool Save(const std::string& filePath, TextEncoding textEncoding);

  // The section of that exact name, or null.
  IniSection* FindSection(const std::string& name);
  const IniSection* FindSection(const std::string& name) const;
  // The section of that name, created empty when missing.
  IniSection& AddSection(const std::string& name);
  // Sets key to value in section; false only when section is null.
  static bool SetInSection(IniSection* section, const std::string& key, const std::string& value);

  void SetString(const std::string& name, const std::string& key, const std::string& value);
  // Stores value as decimal text ("-5").
  void SetInt(const std::string& name, const std::string& key, int32_t value);

  // When the section and the key exist: value := the stored text, true.
  // Otherwise false, and value is left untouched.
  bool GetString(const std::string& name, const std::string& key, std::string& value) const;
  // Like GetString, reading the text as atol does: leading white space, an
  // optional sign, digits up to the first non-digit; no digits give 0
  // ("12abc" → 12, "abc" → 0, both true). Values beyond the 32-bit range
  // give the nearest limit.
  bool GetInt(const std::string& name, const std::string& key, int32_t& value) const;

  // Sets every key of every section of other in this document. Sections of
  // other without keys are not created. Merging a document into itself
  // changes nothing.
  void MergeFrom(const IniDocument& other);
  // Sets every key of source's section name in this document's section
  // newName (name when newName is empty). Nothing happens when source has no
  // such section.
  void CopySection(const IniDocument& source, const std::string& name, const std::string& newName);

  // Forgets the file (ResetFile) and removes every section.
  void Clear();

  const SectionMap& Sections() const { return sections; }

 private:
  // Turns the lines read into sections and drops the lines afterwards.
  bool Parse();
  // Appends the sections to the line list in the written form.
  void Serialize();
  // Trims the line of spaces; true when it is a header, with its name.
  static bool ParseSectionHeader(std::string& line, std::string& name);
  // Splits at the first "="; false (key and value empty) without one.
  static bool SplitKeyValue(const std::string& line, std::string& key, std::string& value);

  SectionMap sections;
};
