// A joined export past 4 GiB: RF64 (EBU Tech 3306) with its bext, GUANO and
// cue chunks, read back by libsndfile (samples, bext, and the chunks through
// its own RF64 parser) and by sox (samples past the 4 GiB mark). The data
// files are sparse: zeros but for marked codes at each record's ends.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "tests/test_support.h"
#include "tests/tools/media_formats_test.h"
#include "tests/tools/tool_process.h"

namespace {

using toolprocess::Quote;

constexpr uint64_t kRecord = 120000000;             // samples per data file: 1200 s at 100 kHz
constexpr int kFiles = 12;                          // 1.44e9 samples, 4.32e9 bytes of 24-bit PCM
constexpr int64_t kFirstWrite = 1775779200 + 1200;  // 2026-04-10T00:20:00Z

std::string DataName(int64_t utc) {
  const time_t t = static_cast<time_t>(utc);
  std::tm tm{};
  gmtime_r(&t, &tm);
  return std::to_string(tm.tm_year) + "-" + std::to_string(tm.tm_yday) + "-" +
         std::to_string(tm.tm_hour) + "-" + std::to_string(tm.tm_min) + "-" +
         std::to_string(tm.tm_sec);
}

// The marked samples of file k: its first, second-last and last, as (index in
// the joined file, code); negative codes too.
std::vector<std::pair<uint64_t, int32_t>> Marks(int k) {
  const uint64_t base = static_cast<uint64_t>(k) * kRecord;
  return {{base, 1000 + k}, {base + kRecord - 2, -8388608 + k}, {base + kRecord - 1, 8388607 - k}};
}

void WriteSparseDataFile(const std::string& path, int k) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(ftruncate(fd, static_cast<off_t>(kRecord * 4)), 0);
  for (const auto& [index, code] : Marks(k)) {
    const uint32_t word = static_cast<uint32_t>(code) & 0xFFFFFFu;  // the port's register as read
    const off_t at = static_cast<off_t>((index - static_cast<uint64_t>(k) * kRecord) * 4);
    ASSERT_EQ(pwrite(fd, &word, 4, at), 4);
  }
  close(fd);
}

// A chunk as libsndfile's own parser found it.
std::string LibsndfileChunk(SNDFILE* f, const char* id) {
  SF_CHUNK_INFO info;
  std::memset(&info, 0, sizeof info);
  std::memcpy(info.id, id, 4);
  info.id_size = 4;
  SF_CHUNK_ITERATOR* it = sf_get_chunk_iterator(f, &info);
  if (it == nullptr || sf_get_chunk_size(it, &info) != SF_ERR_NO_ERROR) return "";
  std::string data(info.datalen, '\0');
  info.data = data.data();
  return sf_get_chunk_data(it, &info) == SF_ERR_NO_ERROR ? data : "";
}

TEST(JoinedRf64, PastFourGibTheJoinedFileIsRf64WithEveryCuePointAndTheCodes) {
  testsupport::ScratchDir scratch;
  struct statvfs fs;
  ASSERT_EQ(statvfs(scratch.path().c_str(), &fs), 0);
  if (static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize < (6ull << 30))
    GTEST_SKIP() << "needs 6 GiB free in " << scratch.path();
  scratch.MakeDirs("data");
  for (int k = 0; k < kFiles; ++k)
    WriteSparseDataFile(scratch.path() + "/data/" + DataName(kFirstWrite + 1200 * k), k);
  const std::string out = scratch.path() + "/joined.wav";
  const toolprocess::Outcome o = toolprocess::Run(
      Quote(PELMOK_DATA_PATH) +
          " export --rate 100000 --samples-per-record 120000000 --time-zone UTC0 --join -o " +
          Quote(out) + " " + Quote(scratch.path() + "/data"),
      scratch.path());
  ASSERT_EQ(o.status, 0) << o.err;

  SF_INFO info{};
  SNDFILE* f = sf_open(out.c_str(), SFM_READ, &info);
  ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
  EXPECT_EQ(info.format, SF_FORMAT_RF64 | SF_FORMAT_PCM_24);
  EXPECT_EQ(static_cast<uint64_t>(info.frames), kFiles * kRecord);
  SF_BROADCAST_INFO bext{};
  EXPECT_EQ(sf_command(f, SFC_GET_BROADCAST_INFO, &bext, sizeof bext), SF_TRUE);
  EXPECT_EQ(std::string(bext.origination_date, 10), "2026-04-10");
  EXPECT_EQ(std::string(bext.origination_time, 8), "00:00:00");
  const mediaformats::Guano guano = mediaformats::ReadGuano(LibsndfileChunk(f, "guan"));
  EXPECT_EQ(guano.fields.count("Pelmok|Software"), 1u);
  EXPECT_EQ(guano.fields.at("Timestamp"), "2026-04-10T00:00:00+00:00");
  // Every cue point at its record's start, each labelled with its data file.
  const std::string cue = LibsndfileChunk(f, "cue ");
  ASSERT_EQ(cue.size(), 4u + 24u * kFiles);
  ASSERT_EQ(mediaformats::Le32(cue, 0), static_cast<uint32_t>(kFiles));
  const std::map<uint32_t, std::string> labels =
      mediaformats::ReadLabels({{"LIST", LibsndfileChunk(f, "LIST")}});
  for (int k = 0; k < kFiles; ++k) {
    const size_t at = 4 + 24 * static_cast<size_t>(k);
    EXPECT_EQ(mediaformats::Le32(cue, at + 20), static_cast<uint32_t>(k * kRecord)) << k;
    EXPECT_EQ(cue.compare(at + 8, 4, "data"), 0);
    const uint32_t id = mediaformats::Le32(cue, at);
    ASSERT_EQ(labels.count(id), 1u) << k;
    EXPECT_NE(labels.at(id).find(DataName(kFirstWrite + 1200 * k) + "#0"), std::string::npos)
        << labels.at(id);
  }
  // Every sample: zero but the marks, read by libsndfile to the end.
  std::vector<std::pair<uint64_t, int32_t>> marks;
  for (int k = 0; k < kFiles; ++k)
    for (const auto& m : Marks(k)) marks.push_back(m);
  std::vector<int> block(1 << 20);
  uint64_t index = 0, wrong = 0;
  size_t next = 0;
  for (sf_count_t n;
       (n = sf_readf_int(f, block.data(), static_cast<sf_count_t>(block.size()))) > 0;) {
    for (sf_count_t i = 0; i < n; ++i, ++index) {
      int32_t expected = 0;
      if (next < marks.size() && marks[next].first == index) expected = marks[next++].second;
      wrong += (block[static_cast<size_t>(i)] >> 8) != expected;
    }
  }
  sf_close(f);
  EXPECT_EQ(index, kFiles * kRecord);
  EXPECT_EQ(next, marks.size());
  EXPECT_EQ(wrong, 0u);

  // sox: the length, and the last file's marks, which lie past the 4 GiB mark.
  const toolprocess::Outcome length = toolprocess::Run("soxi -s " + Quote(out), scratch.path());
  EXPECT_EQ(length.out, std::to_string(kFiles * kRecord) + "\n") << length.err;
  const uint64_t from = (kFiles - 1) * kRecord + kRecord - 2;
  ASSERT_GT(from * 3, 0xFFFFFFFFull);
  const toolprocess::Outcome tail =
      toolprocess::Run("sox " + Quote(out) + " -t s32 " + Quote(scratch.path() + "/tail.raw") +
                           " trim " + std::to_string(from) + "s 2s",
                       scratch.path());
  ASSERT_EQ(tail.status, 0) << tail.err;
  const std::string raw = scratch.ReadFile("tail.raw");
  ASSERT_EQ(raw.size(), 8u);
  EXPECT_EQ(static_cast<int32_t>(mediaformats::Le32(raw, 0)) >> 8, Marks(kFiles - 1)[1].second);
  EXPECT_EQ(static_cast<int32_t>(mediaformats::Le32(raw, 4)) >> 8, Marks(kFiles - 1)[2].second);
}

}  // namespace
