#pragma once
// A static text control turned into a clickable web link: it is subclassed
// (and its parent, for the text colour), draws in link colours, shows the hand
// cursor and a tooltip with its URL, and opens the URL with the shell.

#include <windows.h>

#include <cstdint>
#include <string>

#include "win/window_handles.h"

// Behaviour bits of a link.
inline constexpr uint8_t kLinkUnderline = 0x01;
inline constexpr uint8_t kLinkUseHoverColour = 0x02;
inline constexpr uint8_t kLinkSizeToText = 0x04;
inline constexpr uint8_t kLinkOpenOnButtonDown = 0x08;
inline constexpr uint8_t kLinkTakeFocusOnClick = 0x10;
inline constexpr uint8_t kLinkNoHandCursor = 0x20;
inline constexpr uint8_t kLinkNoFocusColour = 0x40;
// Underlined, sized to its text, takes the focus when clicked.
inline constexpr uint8_t kLinkDefaultFlags = kLinkUnderline | kLinkSizeToText | kLinkTakeFocusOnClick;

// The colours every link uses unless it is given others.
struct LinkColours {
  COLORREF link = RGB(0, 0, 255);
  COLORREF visited = RGB(128, 0, 128);
  COLORREF focus = RGB(0, 128, 128);
  COLORREF hover = RGB(255, 0, 0);
};

struct LinkState {
  bool pressed = false;
  bool hover = false;
  bool visited = false;
};

// The text colour for a link in `state`: hover (when flag 0x02 allows it), then
// focus (unless flag 0x40 forbids it), then visited or plain.
COLORREF ChooseLinkTextColour(const LinkState& state, uint8_t flags, const LinkColours& colours);

// The command line that opens `url` with an association's open command: the
// command is cut at "\"%1\"" or at "%1" (or taken whole), then a blank and the
// URL in double quotes.
std::wstring BuildAssociationCommandLine(const std::wstring& openCommand, const std::wstring& url);

// The message for a launch result of 32 or below, as the error box shows it
// after "Can't open link:\n\n".
std::wstring LaunchErrorMessage(INT_PTR result);
// The whole text of the error box for a failed launch.
std::wstring LinkErrorBoxText(INT_PTR result);

// A launch result in the shell's terms for a failed CreateProcess: system error
// codes that fit are kept, larger ones count as an invalid program (11).
INT_PTR LaunchResultFromError(DWORD error);

// Opens a web page from this process: the shell's open, or the .htm
// association's browser when the shell can't. The launch result.
INT_PTR OpenWebPageHere(const std::wstring& url, int showCommand);

// Where a control sized to its text goes, in its parent's coordinates: as high
// as the text at the top of `place` (vertically centred with SS_CENTERIMAGE),
// as wide as the text at the left, at the right (SS_RIGHT), or centred with
// 4 pixels to spare on each side (SS_CENTER).
RECT SizeRectToText(const RECT& place, SIZE text, DWORD style);

// Which hand cursor the process uses for its links.
enum class HandCursorOrigin { kNone, kHelpProgram, kSystem };
// The process's hand cursor, loaded once: cursor 106 of winhlp32.exe in the
// Windows folder, or else the system's hand. Kept for the life of the process.
HCURSOR LinkHandCursor();
HandCursorOrigin LinkHandCursorOrigin();

class CHyperLink {
 public:
  CHyperLink();
  ~CHyperLink();
  CHyperLink(const CHyperLink&) = delete;
  CHyperLink& operator=(const CHyperLink&) = delete;

  // Turns the static control `control` into this link. Call on the thread
  // that owns the control. False when it is no window or already a link.
  bool Attach(HWND control);
  // Gives the control back as it was (its font, no tooltip, no subclass).
  // Also happens by itself when the control is destroyed.
  void Detach();

  void SetURL(const std::wstring& url);
  const std::wstring& GetURL() const { return url_; }
  void SetLinkText(const std::wstring& text);

  void SetFlags(uint8_t flags);
  uint8_t GetFlags() const { return flags_; }
  void SetColours(const LinkColours& colours);
  const LinkColours& GetColours() const { return colours_; }
  void SetBackgroundColour(COLORREF colour);
  COLORREF GetBackgroundColour() const { return backgroundColour_; }
  // The caption of the error box for a link that can't be opened.
  void SetErrorCaption(const std::wstring& caption) { errorCaption_ = caption; }

  // Opens `url`, a web page only (IsWebPageAddress): through the desktop
  // shell's process where it offers that, else with the shell here (the .htm
  // association when the shell fails). Any other address is refused with an
  // error line. On success the link becomes visited; on failure it beeps and
  // shows the error box. The result is the launch result: above 32 is success.
  INT_PTR GotoURL(const std::wstring& url, int showCommand);

  void SetVisited(bool visited);
  bool IsVisited() const { return visited_; }
  bool IsPressed() const { return pressed_; }
  bool IsHovering() const { return hover_; }

  HWND hwnd() const { return control_; }
  HWND tooltip() const { return tooltip_.get(); }
  HFONT linkFont() const { return linkFont_.get(); }

 private:
  static LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                      DWORD_PTR refData);
  static LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                     DWORD_PTR refData);
  LRESULT OnControlMessage(UINT message, WPARAM wParam, LPARAM lParam);

  void Release(bool restoreFont);
  std::wstring ControlText() const;
  void MakeLinkFont();
  void SizeToText();
  void UpdateTooltipText();
  void Open();
  void Repaint();

  HWND control_ = nullptr;
  HWND parent_ = nullptr;
  HFONT originalFont_ = nullptr;  // the control's own font, given back on detach
  HCURSOR handCursor_ = nullptr;  // the process's, not owned; none with flag 0x20

  COLORREF backgroundColour_;
  bool pressed_ = false;
  bool hover_ = false;
  bool visited_ = false;
  uint8_t flags_ = kLinkDefaultFlags;
  std::wstring url_;
  LinkColours colours_;
  std::wstring errorCaption_;
  win::UniqueFont linkFont_;
  win::UniqueWindow tooltip_;
};
