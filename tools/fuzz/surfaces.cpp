#include "surfaces.h"

#include <windows.h>

#include <algorithm>
#include <string_view>

#include "actions/download_action.h"
#include "actions/instruction_document.h"
#include "actions/process_actions.h"
#include "actions/registry_actions.h"
#include "log/clog.h"
#include "log/log_reader.h"
#include "log/log_record_format.h"
#include "product/cmd_line_info.h"
#include "product/command_line_splitter.h"
#include "product/product_files.h"
#include "product/program_infos_store.h"
#include "protocol/answer_text.h"
#include "protocol/split_url.h"
#include "seed_documents.h"
#include "win/strings.h"
#include "win/unique_handle.h"

namespace fuzz {

namespace {

constexpr size_t kMaxDocumentBytes = 256 * 1024;
constexpr size_t kMaxLineBytes = 32 * 1024;
// Beyond the 64 KiB that ReadVersionInfoTxt reads, so that the cut is reached.
constexpr size_t kMaxVersionInfoBytes = 70 * 1024;
constexpr size_t kVersionInfoReadBytes = 64 * 1024;
constexpr size_t kMaxRecordFileBytes = 64 * 1024;
constexpr uint8_t kSeedRotation = 3;

Verdict Broken(std::string what) { return what; }

// What WinINet hands the updater: each byte widened as a signed char.
std::wstring AsTransportText(const std::string& bytes) {
  std::wstring text;
  text.reserve(bytes.size());
  for (const char c : bytes) text += static_cast<wchar_t>(static_cast<signed char>(c));
  return text;
}

bool Contains(std::wstring_view text, std::wstring_view part) { return text.find(part) != std::wstring_view::npos; }

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  const win::UniqueFile file(
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return file && ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

std::string ReadWholeFile(const std::wstring& path) {
  const win::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
  std::string bytes;
  char block[4096];
  DWORD got = 0;
  while (file && ::ReadFile(file.get(), block, sizeof block, &got, nullptr) && got > 0) bytes.append(block, got);
  return bytes;
}

// A file kept open for writing, shared, so that each input costs a rewrite
// instead of a create and close (those are slow under Wine).
class RewrittenFile {
 public:
  explicit RewrittenFile(const std::wstring& path)
      : file_(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)) {}

  bool Rewrite(const std::string& bytes) {
    DWORD written = 0;
    return file_ && ::SetFilePointerEx(file_.get(), LARGE_INTEGER{}, nullptr, FILE_BEGIN) &&
           ::WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size() && ::SetEndOfFile(file_.get());
  }

 private:
  win::UniqueFile file_;
};

// --- Instruction: the answer's text, then Instruction.xml -----------------------------

// Whether a string the parser took from the document can be looked for in it
// as it stands: entities and CR LF change the text, and a multi-byte code page
// may join bytes differently in a part than in the whole.
bool TextsAreVerbatim(std::string_view document) {
  if (document.find_first_of("&\r") != std::string_view::npos) return false;
  CPINFO info{};
  if (::GetCPInfo(CP_THREAD_ACP, &info) && info.MaxCharSize == 1) return true;
  return std::all_of(document.begin(), document.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// Adds what the action took from its element to texts; a program to start is
// the installation folder's, so only its name after the folder is the
// document's (added to names). False when the path lies elsewhere.
bool AddActionTexts(const ActionBase& action, std::vector<const std::wstring*>& texts,
                    std::vector<std::wstring>& names) {
  if (const auto* set = dynamic_cast<const ActionSetRegKey*>(&action)) {
    texts.insert(texts.end(), {&set->Key, &set->Value, &set->Type, &set->Data});
  } else if (const auto* remove = dynamic_cast<const ActionDelRegValue*>(&action)) {
    texts.insert(texts.end(), {&remove->Key, &remove->Value});
  } else if (const auto* stop = dynamic_cast<const ActionStopProcess*>(&action)) {
    texts.push_back(&stop->FileName);
  } else if (const auto* stopService = dynamic_cast<const ActionStopService*>(&action)) {
    texts.push_back(&stopService->ServiceName);
  } else if (const auto* startService = dynamic_cast<const ActionStartService*>(&action)) {
    texts.push_back(&startService->ServiceName);
  } else if (const auto* start = dynamic_cast<const ActionStartProcess*>(&action)) {
    const std::wstring folder = GetProgramInfos().InstalledLocation + L"\\";
    if (start->FilePath.compare(0, folder.size(), folder) != 0) return false;
    names.push_back(start->FilePath.substr(folder.size()));
  }
  return true;
}

Verdict CheckInstruction(const std::string& input, uint64_t& deep) {
  // The parser reads up to the first zero byte, as the updater hands it the text.
  const std::string_view document(input.c_str());
  ActionList pre, main, post;
  InstructionInfo info;
  constexpr int32_t kUntouched = -7;
  info.UpdateId = kUntouched;
  info.AdCampaignId = L"untouched";
  const CmdLineInfo options;
  const int32_t result = LoadInstructionXml(input.c_str(), pre, main, post, info, options);

  const size_t elements = static_cast<size_t>(std::count(document.begin(), document.end(), '<'));
  switch (result) {
    case kInstructionNotXml:
    case kInstructionNoRoot:
      if (!pre.empty() || !main.empty() || !post.empty() || info.UpdateId != kUntouched ||
          info.AdCampaignId != L"untouched") {
        return Broken("result " + std::to_string(result) + " but the lists or the information changed");
      }
      return std::nullopt;
    case kInstructionNothingAvailable:
      if (!pre.empty() || !main.empty() || !post.empty() || info.UpdateId != 0) {
        return Broken("result 18 with actions or an UpdateId");
      }
      break;
    case kInstructionWithoutDownload:
      if (!main.empty() || !post.empty() || info.UpdateId == 0) return Broken("result 3 with a main or Post list");
      ++deep;
      break;
    case kInstructionAvailable:
      if (main.empty() || main.front()->ActionType != kActionDownload || info.UpdateId == 0) {
        return Broken("result 0 without a download first, or without an UpdateId");
      }
      ++deep;
      break;
    default:
      return Broken("LoadInstructionXml gave " + std::to_string(result));
  }
  // The download and the product's two actions at most.
  if (pre.size() > elements || post.size() > elements || main.size() > 3) {
    return Broken("more actions than the document has elements");
  }
  for (const auto& action : post) {
    if (action->PostActionCompatible == 0) return Broken("an action in the Post list that may not stand there");
  }
  const auto* download = main.empty() ? nullptr : dynamic_cast<const ActionDownload*>(main.front().get());
  if (download != nullptr && download->Files.size() > elements) return Broken("more files than elements");

  if (!TextsAreVerbatim(document)) return std::nullopt;
  const std::wstring wide = win::ToWide(document, CP_THREAD_ACP);
  std::vector<const std::wstring*> texts = {
      &info.NewProductVersion,      &info.MaxUpdateableProductVersionExistingOnServer,
      &info.MajorUpgradeProductUrl, &info.ChangeLogUrl,
      &info.OsNotCompatibleUrl,     &info.AdViewerUrl,
      &info.AdViewerSha256};
  if (!Contains(wide, kJapaneseLinkTextToken)) texts.push_back(&info.MajorUpgradeProductLinkText);
  if (info.AdCampaignId != L"untouched") texts.push_back(&info.AdCampaignId);
  if (download != nullptr) {
    for (const DownloadFileEntry& file : download->Files) {
      for (const std::wstring* text :
           {&file.Url, &file.RelativeTargetFolder, &file.FileName, &file.Sha256, &file.Size}) {
        texts.push_back(text);
      }
    }
  }
  // The Pre and Post actions' texts; the main list's own are the product's, not the document's.
  std::vector<std::wstring> fileNames;
  for (const ActionList* list : {&pre, &post}) {
    for (const auto& action : *list) {
      if (!AddActionTexts(*action, texts, fileNames)) return Broken("a program path outside the installation folder");
    }
  }
  for (const std::wstring& name : fileNames) texts.push_back(&name);
  for (const std::wstring* text : texts) {
    if (!text->empty() && !Contains(wide, *text)) {
      return Broken("a parsed text the document does not hold: " + win::ToUtf8(text->substr(0, 80)));
    }
  }
  return std::nullopt;
}

Verdict FeedInstruction(const std::string& input, uint64_t& deep) {
  const std::wstring answer = AsTransportText(input);
  std::string text;
  std::string textWithSignature = "left over";
  AnswerSignature signature;
  signature.KeyId = "left over";
  const int result = ExtractAnswerText(answer, text);
  const int resultWithSignature = ExtractAnswerText(answer, textWithSignature, signature);
  if (result != resultWithSignature || text != textWithSignature) {
    return Broken("the two ExtractAnswerText overloads disagree");
  }
  if (result != kAnswerTextFound && result != kAnswerNotXml && result != kAnswerNoRoot) {
    return Broken("ExtractAnswerText gave " + std::to_string(result));
  }
  if (text.size() > answer.size()) return Broken("an answer text longer than the answer");
  if (result != kAnswerTextFound && (!text.empty() || signature.Signature || signature.KeyId)) {
    return Broken("a failed extraction left text or a signature");
  }
  if (result == kAnswerTextFound) {
    if (Verdict broken = CheckInstruction(text, deep)) return Broken("answer's text: " + *broken);
  }
  // The input itself as the instruction, so that mutations reach the actions directly.
  return CheckInstruction(input, deep);
}

// --- The command line ---------------------------------------------------------------

// A value switch stores its argument as given, or without the one mark every argument loses.
bool IsAPiece(const std::wstring& value, const std::vector<std::wstring>& pieces) {
  return value.empty() || std::any_of(pieces.begin() + 1, pieces.end(), [&](const std::wstring& piece) {
           return piece == value || (!piece.empty() && std::wstring_view(piece).substr(1) == value);
         });
}

Verdict FeedCommandLine(const std::string& input, uint64_t& deep) {
  const std::wstring line = win::FromUtf8(input);
  const std::vector<std::wstring> pieces = SplitCommandLine(line);
  if (pieces.empty() || pieces.size() > line.size() + 1) return Broken("more pieces than the line has characters");
  size_t characters = 0;
  for (const std::wstring& piece : pieces) characters += piece.size();
  if (characters > line.size()) return Broken("the pieces hold more characters than the line");
  if (pieces.front().find(L'"') != std::wstring::npos) return Broken("a quote in the program path");

  CmdLineInfo info;
  for (size_t i = 1; i < pieces.size(); ++i) {
    std::wstring_view argument = pieces[i];
    const bool hadMark = !argument.empty() && (argument.front() == L'-' || argument.front() == L'/');
    if (hadMark) argument.remove_prefix(1);
    info.ParseParam(argument, hadMark, i + 1 == pieces.size());
  }
  CmdLineInfo whole;
  whole.ParseCommandLine(line);
  const ProgramInfos& product = info.ProgramInfo;
  if (whole.ProgramInfo.ProgramName != product.ProgramName || whole.PendingSwitch != info.PendingSwitch ||
      whole.ProgramInfo.FileList != product.FileList || whole.UpdateSilent != info.UpdateSilent) {
    return Broken("ParseCommandLine and ParseParam on the pieces disagree");
  }
  const auto pending = static_cast<int32_t>(info.PendingSwitch);
  if (pending < 0 || pending > static_cast<int32_t>(CmdLineInfo::Pending::CheckIntervalInHours)) {
    return Broken("a pending switch out of range");
  }
  for (const int32_t flag : {info.QuickCheck, info.UpdateCheckSilent, info.UpdateSilent, info.WriteCheckResultToReg,
                             info.HideUpdateCheckResult, info.OnlyDownload, info.Tray, info.OnlyAdViewer,
                             info.RestartAfterSelfUpdate, info.UpdateFromVersionV1, product.IsStubExe}) {
    if (flag != 0 && flag != 1) return Broken("a flag that is neither 0 nor 1");
  }
  for (const std::wstring* value : std::initializer_list<const std::wstring*>{
           &product.ProgramName, &product.ProgramVersion, &product.InstallDate, &product.AffiliateId,
           &product.DisplayName, &info.WindowRec, &info.WindowCaption}) {
    if (!IsAPiece(*value, pieces)) return Broken("a switch's value that no argument held");
  }
  if (!product.InstalledLocation.empty() && product.InstalledLocation.back() != L'\\') {
    return Broken("an installed location without its final backslash");
  }
  if (product.FileList.size() > line.size()) return Broken("more files listed than characters");
  if (!product.ProgramName.empty()) ++deep;
  return std::nullopt;
}

// --- VersionInfo.txt ---------------------------------------------------------------

// How many of the four lines the first 64 KiB hold, counted as a reader of lines would.
size_t LinesInVersionInfo(const std::string& input) {
  std::string_view rest = std::string_view(input).substr(0, kVersionInfoReadBytes);
  size_t lines = 0;
  while (!rest.empty() && lines < 4) {
    const size_t end = rest.find('\n');
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    ++lines;
  }
  return lines;
}

Verdict FeedVersionInfo(const std::string& input, const std::wstring& folder, RewrittenFile& file, uint64_t& deep) {
  if (!file.Rewrite(input)) return Broken("the scratch VersionInfo.txt can't be written");
  ProgramInfos info;
  info.InstalledLocation = folder;
  const bool read = ReadVersionInfoTxt(info);
  if (read != (LinesInVersionInfo(input) == 4)) {
    return Broken(read ? "read as whole with fewer than four lines" : "four lines but not read");
  }
  for (const std::wstring* line : {&info.ProgramName, &info.ProgramVersion, &info.UninstallKeyName}) {
    if (line->find_first_of(std::wstring_view(L"\n\0", 2)) != std::wstring::npos) {
      return Broken("a line with a line feed or a zero in it");
    }
  }
  if (read) ++deep;
  return std::nullopt;
}

// --- The log's record files --------------------------------------------------------

struct RecordRead {
  HRESULT result = E_UNEXPECTED;
  size_t records = 0;
  uint64_t skipped = 0;
  std::vector<LogEntry> entries;
};

// With and without resynchronising, on one reader: marked first, then plain from the start again.
bool ReadRecords(const std::wstring& path, bool scramble, RecordRead& marked, RecordRead& plain) {
  LogReaderPtr reader;
  if (OpenLogReader(path.c_str(), scramble, scramble ? kSeedRotation : 0, reader) != S_OK) return false;
  marked.result = ReadLogRecords(*reader, 0, marked.records, &marked.entries,
                                 kLogReadResynchronize | kLogReadMarkCorruption, marked.skipped);
  RewindLogReader(*reader);
  plain.result = ReadLogRecords(*reader, 0, plain.records, &plain.entries, 0, plain.skipped);
  return true;
}

Verdict FeedLogRecords(const std::string& input, const std::wstring& path, uint64_t& deep) {
  if (!WriteWholeFile(path, input)) return Broken("the scratch record file can't be written");
  // Scrambling changes only what is done with a record's texts, not how it is
  // found: each input is read one way, chosen by its length, as opening costs
  // more than the reading.
  const bool scramble = input.size() % 2 == 1;
  RecordRead marked, plain;
  if (!ReadRecords(path, scramble, marked, plain)) return Broken("the scratch record file can't be opened");
  for (const RecordRead* read : {&marked, &plain}) {
    if (read->result != S_OK && read->result != S_FALSE && read->result != kLogReadCorrupt &&
        read->result != kLogReadBadVersion) {
      return Broken("ReadLogRecords gave " + std::to_string(read->result));
    }
    if (read->skipped > input.size()) return Broken("more bytes skipped than the file has");
    if (read->records * kLogRecordFixedBytes > input.size()) return Broken("more records than the file can hold");
    for (const LogEntry& entry : read->entries) {
      if (entry.source.size() > kLogRecordMaxSourceBytes || entry.message.size() > kLogRecordMaxTextBytes ||
          entry.extra.size() > kLogRecordMaxTextBytes) {
        return Broken("an entry's text beyond the record's limit");
      }
    }
  }
  if (marked.entries.size() < marked.records || marked.entries.size() > 2 * marked.records) {
    return Broken("markers without records, or records missing from the entries");
  }
  if (plain.skipped != 0 || plain.entries.size() != plain.records) return Broken("a plain read skipped or marked");
  // Resynchronising only goes further: what a plain read gave comes first in it, unchanged.
  std::vector<const LogEntry*> records;
  for (const LogEntry& entry : marked.entries) {
    if (entry.category != kLogCorruptMarkerCategory || entry.message != kLogCorruptMarkerText)
      records.push_back(&entry);
  }
  if (records.size() < plain.records) return Broken("resynchronising read fewer records than a plain read");
  for (size_t i = 0; i < plain.records; ++i) {
    if (records[i]->message != plain.entries[i].message || records[i]->level != plain.entries[i].level) {
      return Broken("resynchronising changed a record a plain read gave");
    }
  }
  if (marked.records > 0) ++deep;
  return std::nullopt;
}

// Record files as the log writes them, plain and scrambled.
std::vector<std::string> RecordFileSeeds(const std::wstring& folder) {
  std::vector<std::string> seeds;
  for (const bool scramble : {false, true}) {
    const std::wstring path = folder + (scramble ? L"seed-scrambled.bin" : L"seed-plain.bin");
    ::DeleteFileW(path.c_str());
    {
      CLog log;
      if (log.Init(L"FUZZ", false, kLogLevelAlways, false) != S_OK ||
          !log.SetLogFile(path.c_str(), kLogRecordChannel, scramble, scramble ? kSeedRotation : 0)) {
        continue;
      }
      log.PrintCategory(7, kLogLevelError, L"VLRN", L"first %d", 1);
      log.PrintCategory(8, kLogLevelInfo, L"VLRN", L"download of %s: %d bytes", L"C:\\Cache\\setup.exe", 4096);
      log.PrintCategory(-3, kLogLevelWarning, L"AB", L"caf\u00e9 \u20ac \u4e2d");
      log.PrintCategory(0, kLogLevelAlways, nullptr, L"%s", std::wstring(300, L'q').c_str());
      log.Close();
    }
    seeds.push_back(ReadWholeFile(path));
    ::DeleteFileW(path.c_str());
  }
  return seeds;
}

// --- Service addresses -------------------------------------------------------------

bool StartsWithAsciiNoCase(std::wstring_view text, std::wstring_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    const wchar_t c = text[i] >= L'A' && text[i] <= L'Z' ? static_cast<wchar_t>(text[i] + (L'a' - L'A')) : text[i];
    if (c != prefix[i]) return false;
  }
  return true;
}

// Whether some ":" in the address is followed by the port's digits (leading zeros allowed, five digits at most).
bool NamesPort(std::wstring_view url, uint16_t port) {
  for (size_t colon = url.find(L':'); colon != std::wstring_view::npos; colon = url.find(L':', colon + 1)) {
    unsigned value = 0;
    size_t digits = 0;
    for (size_t i = colon + 1; i < url.size() && digits < 5 && url[i] >= L'0' && url[i] <= L'9'; ++i, ++digits) {
      value = value * 10 + static_cast<unsigned>(url[i] - L'0');
    }
    if (digits > 0 && value == port) return true;
  }
  return false;
}

Verdict FeedUrl(const std::string& input, uint64_t& deep) {
  const std::wstring url = win::FromUtf8(input);
  const std::optional<UrlParts> parts = SplitUrl(url);
  if (!parts) {
    if (url.find(L':') == std::wstring::npos) return Broken("refused an address without a port");
    return std::nullopt;
  }
  ++deep;
  if (!Contains(url, parts->server)) return Broken("a server name the address does not hold");
  if (parts->server.find(L'/') != std::wstring::npos) return Broken("a slash in the server name");
  if (!parts->object.empty() &&
      (url.size() <= parts->object.size() ||
       url.compare(url.size() - parts->object.size(), std::wstring::npos, parts->object) != 0 ||
       url[url.size() - parts->object.size() - 1] != L'/')) {
    return Broken("an object that is not the address's end after a slash");
  }
  if (parts->port == 0) return Broken("port 0");
  if (parts->secure != StartsWithAsciiNoCase(url, L"https://")) return Broken("TLS chosen by another scheme");
  const uint16_t schemePort = parts->secure ? kDefaultHttpsPort : kDefaultHttpPort;
  if (parts->port != schemePort && !NamesPort(url, parts->port)) return Broken("a port the address does not name");
  return std::nullopt;
}

Surface MakeSurface(std::string name, std::vector<std::string> seeds, std::vector<std::string> dictionary,
                    size_t maxInputBytes) {
  Surface surface;
  surface.name = std::move(name);
  surface.seeds = std::move(seeds);
  surface.dictionary = std::move(dictionary);
  surface.maxInputBytes = maxInputBytes;
  return surface;
}

}  // namespace

std::vector<Surface> MakeSurfaces(const std::wstring& scratchFolder) {
  std::vector<Surface> surfaces;

  Surface instruction = MakeSurface("instruction", InstructionSeeds(), InstructionWords(), kMaxDocumentBytes);
  instruction.feed = [deep = instruction.deep](const std::string& input) { return FeedInstruction(input, *deep); };
  surfaces.push_back(std::move(instruction));

  Surface commandLine = MakeSurface("command_line", CommandLineSeeds(), CommandLineWords(), kMaxLineBytes);
  commandLine.feed = [deep = commandLine.deep](const std::string& input) { return FeedCommandLine(input, *deep); };
  surfaces.push_back(std::move(commandLine));

  Surface versionInfo =
      MakeSurface("version_info", VersionInfoSeeds(), {"\r\n", "\n", "\r", "1033"}, kMaxVersionInfoBytes);
  versionInfo.feed = [deep = versionInfo.deep, scratchFolder,
                      file = std::make_shared<RewrittenFile>(scratchFolder + L"VersionInfo.txt")](
                         const std::string& input) { return FeedVersionInfo(input, scratchFolder, *file, *deep); };
  surfaces.push_back(std::move(versionInfo));

  const std::string version(reinterpret_cast<const char*>(&kLogRecordVersion), sizeof kLogRecordVersion);
  Surface records = MakeSurface("log_records", RecordFileSeeds(scratchFolder),
                                {version, std::string("\x04\0\0\0", 4), std::string("\x08\0\0\0", 4),
                                 std::string("\xFF\xFF\xFF\xFF", 4), std::string("\xFF\x0F\0\0", 4)},
                                kMaxRecordFileBytes);
  records.feed = [deep = records.deep, path = scratchFolder + L"records.bin"](const std::string& input) {
    return FeedLogRecords(input, path, *deep);
  };
  surfaces.push_back(std::move(records));

  Surface url = MakeSurface("url", UrlSeeds(), UrlWords(), kMaxLineBytes);
  url.feed = [deep = url.deep](const std::string& input) { return FeedUrl(input, *deep); };
  surfaces.push_back(std::move(url));
  return surfaces;
}

}  // namespace fuzz
