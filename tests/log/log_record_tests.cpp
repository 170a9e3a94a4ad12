// Record files written by the log's record channel and read back by the reader,
// including damaged, cut and foreign files.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "log/clog.h"
#include "log/log_reader.h"
#include "log/log_record_format.h"
#include "log_test_files.h"
#include "support/scratch.h"

using log_testing::ReadBytes;
using log_testing::ReadLines;

namespace {

constexpr DWORD kResyncAndMark = kLogReadResynchronize | kLogReadMarkCorruption;

struct ReadResult {
  HRESULT result = E_UNEXPECTED;
  std::vector<LogEntry> entries;
  size_t records = 0;
  uint64_t skipped = 0;
};

ReadResult ReadAll(const std::wstring& path, bool scramble, uint8_t rotation, DWORD options) {
  ReadResult out;
  LogReaderPtr reader;
  out.result = OpenLogReader(path.c_str(), scramble, rotation, reader);
  if (out.result != S_OK) return out;
  out.result = ReadLogRecords(*reader, 0, out.records, &out.entries, options, out.skipped);
  return out;
}

// A log that writes its messages without thread ids into a record file, and a text file beside it.
class RecordFile : public ::testing::Test {
 protected:
  void Open(bool scramble, uint8_t rotation) {
    ASSERT_EQ(log_.Init(L"TEST", false, kLogLevelAlways, false), S_OK);
    ASSERT_TRUE(log_.SetLogFile(recordPath_.c_str(), kLogRecordChannel, scramble, rotation));
    ASSERT_TRUE(log_.SetLogFile(textPath_.c_str(), kLogTextChannel, false, 0));
  }
  void WriteThree() {
    log_.PrintCategory(7, kLogLevelError, L"VLRN", L"first %d", 1);
    log_.PrintCategory(8, kLogLevelInfo, L"VLRN", L"second, somewhat longer");
    log_.PrintCategory(9, kLogLevelWarning, L"AB", L"third");
    log_.Close();
  }
  // Replaces the file with bytes.
  void Rewrite(const std::string& bytes) { folder_.WriteFile(L"records.bin", bytes); }

  testing_support::ScratchFolder folder_;
  std::wstring recordPath_ = folder_.path() + L"records.bin";
  std::wstring textPath_ = folder_.path() + L"records.log";
  CLog log_;
};

uint32_t Uint32At(const std::string& bytes, size_t offset) {
  uint32_t value = 0;
  std::memcpy(&value, bytes.data() + offset, sizeof(value));
  return value;
}

void PutUint32At(std::string& bytes, size_t offset, uint32_t value) {
  std::memcpy(bytes.data() + offset, &value, sizeof(value));
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

}  // namespace

TEST_F(RecordFile, WrittenRecordsReadBackPlainAndScrambled) {
  const std::wstring longText(5000, L'q');
  for (const uint8_t rotation : {0, 1, 3, 7}) {
    SCOPED_TRACE(rotation);
    const bool scramble = rotation != 0;
    ::DeleteFileW(recordPath_.c_str());
    ::DeleteFileW(textPath_.c_str());
    Open(scramble, rotation);
    FILETIME before{};
    ::GetSystemTimeAsFileTime(&before);
    log_.PrintCategory(-3, kLogLevelError, L"VLRN", L"value %d, caf\u00e9 \u20ac", 42);
    log_.PrintCategory(0, kLogLevelAlways, nullptr, L"%s", longText.c_str());
    log_.Close();

    const ReadResult read = ReadAll(recordPath_, scramble, rotation, 0);
    ASSERT_EQ(read.result, S_OK);
    ASSERT_EQ(read.entries.size(), 2u);
    const LogEntry& first = read.entries[0];
    EXPECT_EQ(first.version, kLogRecordVersion);
    EXPECT_EQ(first.category, -3);
    EXPECT_EQ(first.level, kLogLevelError);
    EXPECT_EQ(first.source, L"VLRN");
    EXPECT_EQ(first.message, L"value 42, caf\u00e9 ?");
    EXPECT_EQ(first.extra, L"");
    EXPECT_GE(CompareFileTime(&first.time, &before), 0);
    // Cut so that the stored text, terminator included, stays within the reader's limit.
    EXPECT_EQ(read.entries[1].message, std::wstring(scramble ? 4094 : 4095, L'q'));
    EXPECT_EQ(read.entries[1].source, L"");

    // Each entry gives the line the text channel wrote for it.
    const std::vector<std::string> lines = ReadLines(textPath_);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(Narrow(FormatLogLine(first)), lines[0]);
  }
}

TEST_F(RecordFile, ScrambledLayoutStoresTerminatorsAndRotatedBytes) {
  Open(true, 3);
  log_.Print(kLogLevelInfo, L"VLRN", L"abc");
  log_.Close();
  const std::string bytes = ReadBytes(recordPath_);
  ASSERT_EQ(bytes.size(), 44u + 5 + 4 + 1);
  EXPECT_EQ(Uint32At(bytes, 0), kLogRecordVersion);
  EXPECT_EQ(Uint32At(bytes, 8), bytes.size());  // total length
  EXPECT_EQ(Uint32At(bytes, 12), 4u);
  EXPECT_EQ(Uint32At(bytes, 16), static_cast<uint32_t>(kLogLevelInfo));
  EXPECT_EQ(Uint32At(bytes, 20), 8u);
  EXPECT_EQ(Uint32At(bytes, 32), 5u);  // "VLRN" and its zero
  const std::string source = bytes.substr(36, 5);
  EXPECT_EQ(static_cast<uint8_t>(source[0]), static_cast<uint8_t>(('V' << 3) | ('V' >> 5)));
  EXPECT_EQ(source[4], '\0');
  EXPECT_EQ(Uint32At(bytes, 41), 4u);  // "abc" and its zero
  EXPECT_EQ(static_cast<uint8_t>(bytes[45]), static_cast<uint8_t>((('a' << 3) | ('a' >> 5)) & 0xFF));
  EXPECT_EQ(Uint32At(bytes, 49), 1u);  // the empty extra text: its zero alone
  EXPECT_EQ(bytes.find("VLRN"), std::string::npos);
}

TEST_F(RecordFile, DamagedRecordBetweenGoodOnesIsSkippedAndMarked) {
  Open(false, 0);
  WriteThree();
  const std::string good = ReadBytes(recordPath_);
  const size_t secondStart = Uint32At(good, 8);
  const size_t secondLength = Uint32At(good, secondStart + 8);

  for (const size_t damagedField : {size_t{8}, size_t{12}, size_t{32}}) {  // total, level length, source length
    SCOPED_TRACE(damagedField);
    std::string damaged = good;
    PutUint32At(damaged, secondStart + damagedField, Uint32At(good, secondStart + damagedField) + 1);
    Rewrite(damaged);

    const ReadResult marked = ReadAll(recordPath_, false, 0, kResyncAndMark);
    ASSERT_EQ(marked.result, S_OK);
    EXPECT_EQ(marked.records, 2u);
    ASSERT_EQ(marked.entries.size(), 3u);
    EXPECT_EQ(marked.entries[0].message, L"first 1");
    EXPECT_EQ(marked.entries[1].category, kLogCorruptMarkerCategory);
    EXPECT_EQ(marked.entries[1].level, kLogLevelAlways);
    EXPECT_EQ(marked.entries[1].source, L"LOG");
    EXPECT_EQ(marked.entries[1].message, L"### <CORRUPT> " + std::wstring(65, L'#'));
    EXPECT_EQ(marked.entries[2].message, L"third");
    EXPECT_EQ(marked.skipped, secondLength);

    const ReadResult unmarked = ReadAll(recordPath_, false, 0, kLogReadResynchronize);
    ASSERT_EQ(unmarked.entries.size(), 2u);
    EXPECT_EQ(unmarked.entries[1].message, L"third");

    // Without resynchronising the reader stops at the damage and says so.
    LogReaderPtr reader;
    ASSERT_EQ(OpenLogReader(recordPath_.c_str(), false, 0, reader), S_OK);
    LogEntry entry;
    DWORD flags = 0;
    uint64_t skipped = 0;
    EXPECT_EQ(ReadLogRecord(*reader, entry, flags, 0, skipped), S_OK);
    EXPECT_EQ(ReadLogRecord(*reader, entry, flags, 0, skipped), kLogReadCorrupt);
    EXPECT_EQ(flags, kLogReadFoundCorruption);
    EXPECT_EQ(ReadLogRecord(*reader, entry, flags, 0, skipped), kLogReadCorrupt);  // stays at the damage
    EXPECT_EQ(RewindLogReader(*reader), S_OK);
    EXPECT_EQ(ReadLogRecord(*reader, entry, flags, 0, skipped), S_OK);
    EXPECT_EQ(entry.message, L"first 1");
    EXPECT_EQ(flags, 0u);
  }
}

TEST_F(RecordFile, CutFilesAndForeignStartsEndTheReading) {
  Open(false, 0);
  WriteThree();
  const std::string good = ReadBytes(recordPath_);
  const size_t thirdStart = Uint32At(good, 8) + Uint32At(good, Uint32At(good, 8) + 8);
  const size_t cutAt = thirdStart + 30;
  Rewrite(good.substr(0, cutAt));

  ReadResult plain = ReadAll(recordPath_, false, 0, 0);
  EXPECT_EQ(plain.result, kLogReadCorrupt);
  EXPECT_EQ(plain.entries.size(), 2u);
  ReadResult resynchronised = ReadAll(recordPath_, false, 0, kResyncAndMark);
  EXPECT_EQ(resynchronised.result, S_OK);
  EXPECT_EQ(resynchronised.entries.size(), 2u);
  EXPECT_EQ(resynchronised.skipped, cutAt - thirdStart);  // every byte of the torn record

  // A record start that is not the version ends the reading, resynchronising or not.
  std::string foreign = good;
  foreign[thirdStart] = 'X';
  Rewrite(foreign);
  EXPECT_EQ(ReadAll(recordPath_, false, 0, kResyncAndMark).result, kLogReadBadVersion);
  Rewrite("");
  EXPECT_EQ(ReadAll(recordPath_, false, 0, kResyncAndMark).result, S_FALSE);
}

TEST_F(RecordFile, WrongRotationGivesWrongTextsButRightNumbers) {
  Open(true, 2);
  WriteThree();
  const ReadResult right = ReadAll(recordPath_, true, 2, 0);
  const ReadResult wrong = ReadAll(recordPath_, true, 5, 0);
  const ReadResult unscrambled = ReadAll(recordPath_, false, 0, 0);
  ASSERT_EQ(right.entries.size(), 3u);
  ASSERT_EQ(wrong.entries.size(), 3u);
  ASSERT_EQ(unscrambled.entries.size(), 3u);
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_NE(wrong.entries[i].message, right.entries[i].message);
    EXPECT_NE(unscrambled.entries[i].source, right.entries[i].source);
    EXPECT_EQ(wrong.entries[i].category, right.entries[i].category);
    EXPECT_EQ(wrong.entries[i].level, right.entries[i].level);
    EXPECT_EQ(CompareFileTime(&wrong.entries[i].time, &right.entries[i].time), 0);
  }
  EXPECT_EQ(right.entries[2].category, 9);
  EXPECT_EQ(right.entries[2].message, L"third");
}

TEST_F(RecordFile, ExportAppendsTheTextChannelsLines) {
  Open(true, 4);
  WriteThree();
  const ReadResult read = ReadAll(recordPath_, true, 4, 0);
  ASSERT_EQ(read.entries.size(), 3u);
  const std::wstring exported = folder_.path() + L"exported.log";
  ASSERT_EQ(ExportLogText(exported.c_str(), read.entries), S_OK);
  EXPECT_EQ(ReadBytes(exported), ReadBytes(textPath_));
  ASSERT_EQ(ExportLogText(exported.c_str(), read.entries), S_OK);
  EXPECT_EQ(ReadBytes(exported), ReadBytes(textPath_) + ReadBytes(textPath_));

  EXPECT_EQ(ExportLogText(nullptr, read.entries), E_FAIL);
  EXPECT_EQ(ExportLogText((folder_.path() + L"no\\such\\folder.log").c_str(), read.entries), E_FAIL);
  EXPECT_EQ(ExportLogText((folder_.path() + std::wstring(300, L'x')).c_str(), read.entries), E_FAIL);
}

TEST_F(RecordFile, BadInputGivesClearResults) {
  LogReaderPtr reader;
  EXPECT_EQ(OpenLogReader(nullptr, false, 0, reader), E_POINTER);
  EXPECT_EQ(OpenLogReader(L"", false, 0, reader), E_INVALIDARG);
  EXPECT_EQ(OpenLogReader((folder_.path() + std::wstring(300, L'x')).c_str(), false, 0, reader), E_INVALIDARG);
  EXPECT_EQ(OpenLogReader((folder_.path() + L"missing.bin").c_str(), false, 0, reader), E_FAIL);
  EXPECT_FALSE(reader);

  // The file is shared for reading only: not while a log writes it, and a log
  // can't open it while readers hold it.
  Open(false, 0);
  log_.Print(kLogLevelInfo, L"VLRN", L"written");
  EXPECT_EQ(OpenLogReader(recordPath_.c_str(), false, 0, reader), E_FAIL);
  log_.Close();
  ASSERT_EQ(OpenLogReader(recordPath_.c_str(), false, 0, reader), S_OK);
  LogReaderPtr second;
  ASSERT_EQ(OpenLogReader(recordPath_.c_str(), false, 0, second), S_OK);
  EXPECT_FALSE(log_.SetLogFile(recordPath_.c_str(), kLogRecordChannel, false, 0));
  CloseLogReader(second);
  CloseLogReader(reader);
  ::DeleteFileW(recordPath_.c_str());

  // Random bytes: the first four are no record start. Behind a torn record start
  // the reader resynchronises through all of them and finds nothing.
  std::mt19937 random(20261208);
  std::string noise(64 * 1024, '\0');
  for (char& b : noise) b = static_cast<char>(random() & 0xFF);
  Rewrite(noise);
  EXPECT_EQ(ReadAll(recordPath_, true, 3, kResyncAndMark).result, kLogReadBadVersion);
  const std::string tornStart("\x00\x00\x01\x00", 4);
  Rewrite(tornStart + noise);
  const ReadResult fromNoise = ReadAll(recordPath_, true, 3, kResyncAndMark);
  EXPECT_EQ(fromNoise.result, S_FALSE);
  EXPECT_EQ(fromNoise.records, 0u);
  EXPECT_EQ(fromNoise.skipped, tornStart.size() + noise.size());

  // Records claiming gigabytes are refused before anything is allocated for them.
  ::DeleteFileW(recordPath_.c_str());
  Open(false, 0);
  log_.Print(kLogLevelInfo, L"VLRN", L"kept");
  log_.Close();
  const std::string good = ReadBytes(recordPath_);
  std::string huge = good;
  PutUint32At(huge, 8, 0xFFFFFFFF);
  std::string hugeText = good;
  PutUint32At(hugeText, 36 + 4, 0xFFFFFFF0);  // the message length after "VLRN"
  Rewrite(huge + hugeText + good);
  const ReadResult fromHuge = ReadAll(recordPath_, false, 0, kResyncAndMark);
  EXPECT_EQ(fromHuge.result, S_OK);
  ASSERT_EQ(fromHuge.entries.size(), 2u);
  EXPECT_EQ(fromHuge.entries[1].message, L"kept");
  EXPECT_EQ(fromHuge.skipped, 2 * good.size());

  auto entry = NewLogEntry();
  entry->message = L"text";
  ClearLogEntry(*entry);
  EXPECT_EQ(entry->message, L"");
  FreeLogEntry(entry);
  EXPECT_FALSE(entry);
}
