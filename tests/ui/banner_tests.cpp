// The banner: its file and address, the download beside the dialog, and
// which picture the header band of the real window shows.

#include "ui/banner.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "product/product_folders.h"
#include "resource.h"
#include "service_urls.h"
#include "session_test_support.h"
#include "support/served_files.h"
#include "support/session_window.h"
#include "system/file_system.h"
#include "system/registry.h"
#include "ui/dialog_window.h"
#include "win/strings.h"
#include "win/unique_handle.h"

namespace {

using namespace testing_support;

ProgramInfos Named(const std::wstring& name, const std::wstring& version) {
  ProgramInfos infos;
  infos.ProgramName = name;
  infos.ProgramVersion = version;
  return infos;
}

TEST(BannerName, SafeNameWithUnderscoresAndTheMajorVersion) {
  EXPECT_EQ(BannerFileName(Named(L"Photo Tool", L"25.1.3")), L"Banner_Photo_Tool_25.bmp");
  EXPECT_EQ(BannerUrl(kDefaultBannerBaseUrl, Named(L"Photo Tool", L"25.1.3")),
            std::wstring(kDefaultBannerBaseUrl) + L"/Banner/Banner_Photo_Tool_25.bmp");
  EXPECT_TRUE(BannerUrl(kDefaultBannerBaseUrl, Named(L"A", L"1.0")).find(L"Renova//Banner/") != std::wstring::npos);
  // é (233) is dropped; a character above 255 becomes a tilde, a number and a letter.
  EXPECT_EQ(BannerFileName(Named(L"Caf\u00e9 Pro", L"3.0")), L"Banner_Caf_Pro_3.bmp");
  const std::wstring wide = BannerFileName(Named(L"A\u65e5B", L"1.2"));
  EXPECT_EQ(wide.substr(0, 9), L"Banner_A~");
  EXPECT_TRUE(wide.ends_with(L"B_1.bmp")) << testing::PrintToString(wide);
}

class BannerTest : public SessionTest {
 protected:
  void SetUp() override {
    SessionTest::SetUp();
    if (HasFatalFailure()) return;
    files_.emplace(scope_);
    // Banners come from "<base>/Banner/<file>": a base below this test's files.
    const std::string base = files_->Url("https", ports_.main, L"");
    ASSERT_TRUE(WriteRegString(HKEY_CURRENT_USER, ProductSettingsKey(), L"DebugBannerDownloadUrl_v2",
                               std::wstring(base.begin(), base.end() - 1)));
    path_ = BannerFilePath(product_);
  }
  void TearDown() override {
    dialog_.reset();
    window_.reset();
    ::DeleteFileW(path_.c_str());
    SessionTest::TearDown();
  }

  bool ServeBanner(const std::string& content) const {
    return files_->Write(L"Banner\\" + BannerFileName(product_), content);
  }
  std::string ABitmap() const {
    std::ifstream file(std::filesystem::path(BinFolder() + L"..\\generated\\default_banner.bmp"), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
  }

  // Runs the window until `look` has seen it, the check held meanwhile, and
  // closes it as a user would (the question answered Yes). `beforeRun` comes
  // once the dialog exists, as start-up starts the banner thread.
  void WithWindow(const std::function<void(HWND)>& look, int32_t useDefaultBanner = 0,
                  const std::function<void()>& beforeRun = {}) {
    worker_.Hold(/*checks=*/true, /*runs=*/false);
    // A window of its own each time: the last one's picture may still hold its file.
    dialog_.reset();
    window_ = std::make_unique<DialogWindow>();
    dialog_ = std::make_unique<Dialog>(&worker_, &options_, window_.get());
    SetUseDefaultBanner(useDefaultBanner);
    if (beforeRun) beforeRun();
    const int checksBefore = worker_.checkCalls;
    std::thread user([&] {
      if (WaitUntil([&] { return window_->hwnd() != nullptr && worker_.checkCalls > checksBefore; })) {
        look(window_->hwnd());
      }
      const HWND window = window_->hwnd();
      ::PostMessageW(window, WM_CLOSE, 0, 0);
      if (const std::optional<HWND> question = WaitForQuestion(::GetCurrentProcessId(), window, 30000)) {
        ClickButton(*question, IDYES);
      }
      worker_.Release();
    });
    window_->RunModal(*dialog_);
    user.join();
  }

  // Writes the banner file, extended with zeros to `fileBytes` when that is larger.
  void PlaceBanner(const std::string& content, ULONGLONG fileBytes = 0) const {
    { std::ofstream(std::filesystem::path(path_), std::ios::binary) << content; }
    if (fileBytes > content.size()) std::filesystem::resize_file(std::filesystem::path(path_), fileBytes);
  }

  // The message line's top in the window: a band reaching below it covers it.
  static int MessageTop(HWND window) {
    RECT message{};
    ::GetWindowRect(::GetDlgItem(window, IDC_MESSAGE_TEXT), &message);
    ::MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&message), 2);
    return message.top;
  }

  std::optional<ServedFiles> files_;
  std::wstring path_;
  std::unique_ptr<DialogWindow> window_;
};

// A bottom-up 24-bit bitmap file of one colour.
std::string BitmapFile(int width, int height) {
  const int stride = (width * 3 + 3) & ~3;
  BITMAPINFOHEADER info{};
  info.biSize = sizeof info;
  info.biWidth = width;
  info.biHeight = height;
  info.biPlanes = 1;
  info.biBitCount = 24;
  info.biSizeImage = static_cast<DWORD>(stride * height);
  BITMAPFILEHEADER file{};
  file.bfType = 0x4D42;  // "BM"
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = file.bfOffBits + info.biSizeImage;
  std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
  bytes.append(reinterpret_cast<const char*>(&info), sizeof info);
  bytes.append(info.biSizeImage, '\x40');
  return bytes;
}

}  // namespace

TEST_F(BannerTest, TheThreadDownloadsTheBannerOnceAndFlagsTheDownload) {
  const std::string bitmap = ABitmap();
  ASSERT_GT(bitmap.size(), 1000u);
  ASSERT_TRUE(ServeBanner(bitmap));
  NewDialog();
  SetUseDefaultBanner(7);  // the thread sets 1, then 0
  EXPECT_EQ(BannerDownloadThread(nullptr), 0u);
  EXPECT_EQ(UseDefaultBanner(), 0);
  EXPECT_TRUE(CanBeRead(path_));
  EXPECT_EQ(log_->CountAt(L"WAR", L"Banner: Changed url to DEBUG-URL: "), 1u);
  const int requests = RecordCount(ports_.main, scope_);
  // There already: nothing is fetched.
  EXPECT_EQ(BannerDownloadThread(nullptr), 0u);
  EXPECT_EQ(RecordCount(ports_.main, scope_), requests);

  // Not served: the thread fails and the default stays.
  ::DeleteFileW(path_.c_str());
  std::filesystem::remove(std::filesystem::path(files_->folder() + L"Banner\\" + BannerFileName(product_)));
  EXPECT_EQ(BannerDownloadThread(nullptr), static_cast<DWORD>(-1));
  EXPECT_FALSE(CanBeRead(path_));
}

TEST_F(BannerTest, TheBandShowsTheDefaultUntilTheFileIsThereAndTheFileAfterwards) {
  // No file: the built-in picture, 129 x 58, makes the band 60 high.
  WithWindow([&](HWND) {
    EXPECT_TRUE(window_->Header().HasBitmap());
    EXPECT_EQ(window_->Header().Height(), 60);
    EXPECT_EQ(window_->Header().Title(), product_.ProductEditionName);
    EXPECT_EQ(window_->Header().Subtitle(), L"Version 1.2 Build 3");
  });
  EXPECT_EQ(log_->CountAt(L"WAR", L"Banner: Use Default"), 1u);

  // The file is there and no download runs: it is shown.
  { std::ofstream(std::filesystem::path(path_), std::ios::binary) << ABitmap(); }
  WithWindow([&](HWND) { EXPECT_TRUE(window_->Header().HasBitmap()); });
  EXPECT_EQ(log_->CountAt(L"INF", L"Banner: Use bannerFileNameWithPath"), 1u);

  // Still being downloaded: the default, whatever lies on disk.
  WithWindow([&](HWND) { EXPECT_TRUE(window_->Header().HasBitmap()); }, /*useDefaultBanner=*/1);
  EXPECT_EQ(log_->CountAt(L"WAR", L"Banner: Use Default"), 2u);

  // A file that is no bitmap: no picture, the band at its own height.
  { std::ofstream(std::filesystem::path(path_), std::ios::binary) << "not a bitmap"; }
  WithWindow([&](HWND) {
    EXPECT_FALSE(window_->Header().HasBitmap());
    EXPECT_EQ(window_->Header().Height(), 59);
  });
}

// Start-up's order: the thread downloads while the first window shows the
// built-in picture; a session that surfaces later shows the product's own.
TEST_F(BannerTest, TheFirstWindowShowsTheDefaultWhileTheThreadDownloadsAndALaterOneTheFile) {
  ASSERT_TRUE(ServeBanner(BitmapFile(100, 40)));
  const std::string slowBase = files_->Url("https", ports_.main, L"", L"delay=3");
  ASSERT_TRUE(WriteRegString(HKEY_CURRENT_USER, ProductSettingsKey(), L"DebugBannerDownloadUrl_v2",
                             std::wstring(slowBase.begin(), slowBase.end() - 1)));
  win::UniqueThread thread;
  WithWindow(
      [&](HWND) {
        EXPECT_TRUE(window_->Header().HasBitmap());
        EXPECT_EQ(window_->Header().Height(), 60);
      },
      /*useDefaultBanner=*/0,
      [&] { thread.reset(::CreateThread(nullptr, 0, BannerDownloadThread, nullptr, 0, nullptr)); });
  ASSERT_TRUE(thread.valid());
  ASSERT_EQ(::WaitForSingleObject(thread.get(), 30000), WAIT_OBJECT_0);
  DWORD threadResult = 1;
  ASSERT_TRUE(::GetExitCodeThread(thread.get(), &threadResult));
  EXPECT_EQ(threadResult, 0u);
  EXPECT_EQ(log_->CountAt(L"WAR", L"Banner: Use Default"), 1u);

  UseSwitches(L"-UpdateCheckSilent");
  worker_.checkResult = {RESULT_UPDATE_AVAILABLE, 0};
  WithWindow([&](HWND window) {
    worker_.Release();
    EXPECT_TRUE(WaitUntil([&] { return ::IsWindowVisible(window) && window_->Header().Height() == 42; }))
        << window_->Header().Height();
  });
  EXPECT_EQ(log_->CountAt(L"INF", L"Banner: Use bannerFileNameWithPath"), 1u);
}

// Files no banner should be: the band shows no picture at its own height, the
// window stays usable (it is closed through its question), and each refusal says why.
TEST_F(BannerTest, PicturesTooLargeOrEmptyLeaveTheBandWithoutPicture) {
  const auto expectNoPicture = [&](HWND) {
    EXPECT_FALSE(window_->Header().HasBitmap());
    EXPECT_EQ(window_->Header().Height(), 59);
  };
  PlaceBanner("");
  WithWindow(expectNoPicture);

  // 100 MB behind a bitmap's header: not even read.
  PlaceBanner(BitmapFile(129, 58), 100'000'000);
  WithWindow(expectNoPicture);
  EXPECT_EQ(log_->CountAt(L"WAR", L"has 100000000 bytes, more than a banner may have"), 1u);

  // As high as the room above the message line: shown, the band ends there.
  int room = 0;
  WithWindow([&](HWND window) { room = MessageTop(window) - 2; });
  ASSERT_GT(room, 58);
  PlaceBanner(BitmapFile(129, room));
  WithWindow([&](HWND window) {
    EXPECT_TRUE(window_->Header().HasBitmap());
    EXPECT_EQ(window_->Header().Height(), MessageTop(window));
  });
  // One pixel higher would cover it.
  PlaceBanner(BitmapFile(129, room + 1));
  WithWindow(expectNoPicture);
  EXPECT_EQ(log_->CountAt(L"WAR", win::FormatW(L"is %d pixels high, more than the %d", room + 1, room)), 1u);
}
