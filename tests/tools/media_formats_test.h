// Readers of the metadata the data tools write, made here from the formats'
// published descriptions and not from the writer's code: a RIFF chunk walk,
// the broadcast-WAV `bext` chunk as EBU Tech 3285 lays it out, GUANO text as
// the GUANO format defines it, `LIST`/`adtl` labels as RIFF defines them.
#pragma once

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace mediaformats {

// A WAV or FLAC file's 24-bit codes as libsndfile reads them.
inline std::vector<int32_t> ReadCodes(const std::string& path, SF_INFO* info) {
  std::memset(info, 0, sizeof *info);
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, info);
  EXPECT_NE(f, nullptr) << path << ": " << sf_strerror(nullptr);
  if (f == nullptr) return {};
  std::vector<int32_t> v(static_cast<size_t>(info->frames));
  sf_read_int(f, v.data(), info->frames);
  sf_close(f);
  for (int32_t& x : v) x >>= 8;
  return v;
}

struct Chunk {
  std::string id;
  std::string data;
};

inline uint32_t Le32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int b = 3; b >= 0; --b) v = (v << 8) | static_cast<uint8_t>(s[at + b]);
  return v;
}

// The top-level chunks of a RIFF/WAVE file, in order; empty when it is none.
inline std::vector<Chunk> RiffChunks(const std::string& wav) {
  std::vector<Chunk> chunks;
  if (wav.size() < 12 || wav.compare(0, 4, "RIFF") != 0 || wav.compare(8, 4, "WAVE") != 0)
    return chunks;
  for (size_t at = 12; at + 8 <= wav.size();) {
    const uint32_t size = Le32(wav, at + 4);
    if (at + 8 + size > wav.size()) break;
    chunks.push_back({wav.substr(at, 4), wav.substr(at + 8, size)});
    at += 8 + size + (size & 1);  // chunks start on even offsets
  }
  return chunks;
}

inline std::string FirstChunk(const std::vector<Chunk>& chunks, const std::string& id) {
  for (const Chunk& c : chunks)
    if (c.id == id) return c.data;
  return "";
}

// A fixed ASCII field: up to its first NUL.
inline std::string Field(const std::string& data, size_t at, size_t size) {
  const std::string f = data.substr(at, size);
  return f.substr(0, f.find('\0'));
}

// EBU Tech 3285: Description 256, Originator 32, OriginatorReference 32,
// OriginationDate 10, OriginationTime 8, TimeReferenceLow/High 4+4,
// Version 2, UMID 64, loudness 5x2, reserved 180: 602 bytes, then the
// coding history.
struct Bext {
  bool valid = false;
  std::string description, originator, originatorReference, date, time, codingHistory;
  uint64_t timeReference = 0;
  uint16_t version = 0;
};

inline Bext ReadBext(const std::string& data) {
  Bext b;
  if (data.size() < 602) return b;
  b.valid = true;
  b.description = Field(data, 0, 256);
  b.originator = Field(data, 256, 32);
  b.originatorReference = Field(data, 288, 32);
  b.date = Field(data, 320, 10);
  b.time = Field(data, 330, 8);
  b.timeReference = Le32(data, 338) | (static_cast<uint64_t>(Le32(data, 342)) << 32);
  b.version = static_cast<uint16_t>(static_cast<uint8_t>(data[346]) |
                                    (static_cast<uint8_t>(data[347]) << 8));
  b.codingHistory = Field(data, 602, data.size() - 602);
  return b;
}

// GUANO: UTF-8 lines of "key: value", key up to the first ':', both trimmed
// of whitespace (NUL included); GUANO|Version must come first.
struct Guano {
  bool versionFirst = false;
  std::map<std::string, std::string> fields;
  std::vector<std::string> duplicates;
};

inline std::string Trim(const std::string& s) {
  const char* space = " \t\r\n\v\f";
  std::string t = s;
  while (!t.empty() && (std::strchr(space, t.back()) || t.back() == '\0')) t.pop_back();
  size_t start = 0;
  while (start < t.size() && (std::strchr(space, t[start]) || t[start] == '\0')) ++start;
  return t.substr(start);
}

inline Guano ReadGuano(const std::string& text) {
  Guano g;
  size_t at = 0;
  bool first = true;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    if (Trim(line).empty()) continue;
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string key = Trim(line.substr(0, colon)), value = Trim(line.substr(colon + 1));
    if (first) g.versionFirst = key == "GUANO|Version";
    first = false;
    if (g.fields.count(key)) g.duplicates.push_back(key);
    g.fields[key] = value;
  }
  return g;
}

// The labels of a LIST/adtl chunk: cue point id to text.
inline std::map<uint32_t, std::string> ReadLabels(const std::vector<Chunk>& chunks) {
  std::map<uint32_t, std::string> labels;
  for (const Chunk& c : chunks) {
    if (c.id != "LIST" || c.data.compare(0, 4, "adtl") != 0) continue;
    for (size_t at = 4; at + 8 <= c.data.size();) {
      const uint32_t size = Le32(c.data, at + 4);
      if (at + 8 + size > c.data.size()) break;
      if (c.data.compare(at, 4, "labl") == 0 && size >= 4)
        labels[Le32(c.data, at + 8)] = Field(c.data, at + 12, size - 4);
      at += 8 + size + (size & 1);
    }
  }
  return labels;
}

// The text of a PNG's "Title" (tEXt: keyword, NUL, text; iTXt: keyword, NUL,
// compression flag and method, language, NUL, translated keyword, NUL, text);
// "" when there is none. Chunks: big-endian length, type, data, CRC.
inline std::string PngTitle(const std::string& png) {
  if (png.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0) return "";
  for (size_t at = 8; at + 12 <= png.size();) {
    uint32_t size = 0;
    for (int b = 0; b < 4; ++b) size = (size << 8) | static_cast<uint8_t>(png[at + b]);
    if (at + 12 + size > png.size()) break;
    const std::string type = png.substr(at + 4, 4), data = png.substr(at + 8, size);
    at += 12 + size;
    if ((type != "tEXt" && type != "iTXt") || data.compare(0, 6, std::string("Title\0", 6)) != 0)
      continue;
    if (type == "tEXt") return data.substr(6);
    if (data.size() < 8 || data[6] != 0) return "";  // compressed: not written by us
    const size_t language = data.find('\0', 8), translated = data.find('\0', language + 1);
    return translated == std::string::npos ? "" : data.substr(translated + 1);
  }
  return "";
}

}  // namespace mediaformats
