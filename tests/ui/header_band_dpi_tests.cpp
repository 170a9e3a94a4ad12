// The header band at the screen's DPI and after a change of DPI: its title
// and subtitle stay apart, seen in a picture of the band as rows of ink.
// ctest runs these in the suite's prefix (96 DPI) and, beside the text-fit
// tests, at 144 and 192 DPI (tests/dpi/run-at-dpi).

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "session_test_support.h"
#include "ui/dialog_window.h"
#include "win/dpi.h"
#include "win/gdi_object.h"

namespace {

using namespace testing_support;

// The rows of a picture of the band that hold any ink (not its background),
// above the two lines at its bottom and left of the banner, which stands in
// the right half: runs of rows, as [first, last].
std::vector<std::pair<int, int>> InkedRowRuns(HWND band) {
  RECT client{};
  ::GetClientRect(band, &client);
  const int width = client.right;
  const int height = client.bottom;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const win::UniqueBitmap picture(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  const win::UniqueMemoryDc dc(::CreateCompatibleDC(nullptr));
  std::vector<std::pair<int, int>> runs;
  if (!picture || !dc || bits == nullptr) return runs;
  const HGDIOBJ previous = ::SelectObject(dc.get(), picture.get());
  ::SendMessageW(band, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc.get()), PRF_CLIENT);
  ::GdiFlush();
  const auto* pixels = static_cast<const uint32_t*>(bits);
  const uint32_t background = pixels[0] & 0xFFFFFF;
  for (int y = 0; y < height - 2; ++y) {
    bool inked = false;
    for (int x = 0; x < width / 2 && !inked; ++x) inked = (pixels[y * width + x] & 0xFFFFFF) != background;
    if (!inked) continue;
    if (!runs.empty() && runs.back().second == y - 1) {
      runs.back().second = y;
    } else {
      runs.emplace_back(y, y);
    }
  }
  ::SelectObject(dc.get(), previous);
  return runs;
}

std::string Describe(const std::vector<std::pair<int, int>>& runs, int height) {
  std::ostringstream text;
  text << "inked rows";
  for (const auto& [first, last] : runs) text << " " << first << "-" << last;
  text << " of a band " << height << " px high";
  return text.str();
}

using HeaderBandDpiTest = SessionWindowTest;

// Two lines of ink, the title's and the subtitle's, with at least the
// layout's line gap (4 pixels at 96 DPI) of background between them, and
// background between the subtitle and the band's bottom lines.
void ExpectTwoSeparateLines(HWND band, UINT dpi, const std::string& where) {
  RECT client{};
  ::GetClientRect(band, &client);
  const std::vector<std::pair<int, int>> runs = InkedRowRuns(band);
  const std::string seen = Describe(runs, client.bottom);
  ASSERT_EQ(runs.size(), 2u) << where << seen;
  EXPECT_GE(runs[1].first - runs[0].second - 1, win::ScaleToDpi(4, dpi)) << where << seen;
  EXPECT_LT(runs[1].second, client.bottom - 3) << where << seen;
}

// The band at the screen's DPI: its title and subtitle do not run into each
// other, and it is as high as the DPI makes 59 pixels, or the banner's height
// at that DPI and two more.
TEST_F(HeaderBandDpiTest, TheTitleAndSubtitleStayApartAtTheScreensDpi) {
  const UINT dpi = ScreenDpi();
  WithWindow([&](HWND, WindowThreadCalls& calls) {
    calls.Run([&] {
      EXPECT_EQ(window_.Header().Dpi(), dpi);
      ExpectTwoSeparateLines(window_.Header().hwnd(), dpi, "at " + std::to_string(dpi) + " DPI: ");
      // The band as the window shows it once the banner is there.
      window_.RefreshBanner();
      ASSERT_TRUE(window_.Header().HasBitmap());
      EXPECT_EQ(window_.Header().Height(), win::ScaleToDpi(58, dpi) + 2);
      ExpectTwoSeparateLines(window_.Header().hwnd(), dpi, "at " + std::to_string(dpi) + " DPI with the banner: ");
    });
  });
}

// Moved to a screen of another scale, the window lays its band out for it:
// the band's height and lines follow the new DPI, and a move back restores them.
TEST_F(HeaderBandDpiTest, TheBandFollowsAChangeOfDpi) {
  const UINT dpi = ScreenDpi();
  const UINT other = dpi == 96 ? 192 : 96;
  WithWindow([&](HWND window, WindowThreadCalls& calls) {
    calls.Run([&] {
      // A window that may be shown has the default banner (58 pixels high) from the start.
      const bool picture = window_.Header().HasBitmap();
      const auto heightAt = [&](UINT at) { return picture ? win::ScaleToDpi(58, at) + 2 : win::ScaleToDpi(59, at); };
      EXPECT_EQ(window_.Header().Height(), heightAt(dpi));
      RECT place{};
      ::GetWindowRect(window, &place);
      ::SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(other, other), reinterpret_cast<LPARAM>(&place));
      EXPECT_EQ(window_.Header().Dpi(), other);
      EXPECT_EQ(window_.Header().Height(), heightAt(other));
      EXPECT_TRUE(::IsWindow(window_.Header().hwnd()));
      ExpectTwoSeparateLines(window_.Header().hwnd(), other, "after a change to " + std::to_string(other) + " DPI: ");

      ::SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&place));
      EXPECT_EQ(window_.Header().Dpi(), dpi);
      EXPECT_EQ(window_.Header().Height(), heightAt(dpi));
      ExpectTwoSeparateLines(window_.Header().hwnd(), dpi, "back at " + std::to_string(dpi) + " DPI: ");
    });
  });
}

}  // namespace
