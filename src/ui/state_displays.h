#pragma once
// What the session window shows in each dialog state, from the state's
// display alone. Controls a state does not mention keep what the previous
// state gave them. The window lends its controls through DisplayControls.

#include <cstdint>
#include <string>

#include "ui/session_view.h"

// The window's controls as the state displays use them, by control id.
class DisplayControls {
 public:
  DisplayControls() = default;
  virtual ~DisplayControls() = default;
  DisplayControls(const DisplayControls&) = delete;
  DisplayControls& operator=(const DisplayControls&) = delete;

  virtual void ShowControl(int id, bool visible) = 0;
  virtual void EnableControl(int id, bool enabled) = 0;
  virtual void SetControlText(int id, const std::wstring& text) = 0;
  virtual void FocusControl(int id) = 0;
  // A link's target, and its text unless that is empty; SetLink shows it too.
  virtual void SetLinkTarget(int id, const std::wstring& text, const std::wstring& url) = 0;
  virtual void SetLink(int id, const std::wstring& text, const std::wstring& url) = 0;
  // Puts control id's top-left corner on placeId's, keeping its size.
  virtual void MoveControlOnto(int id, int placeId) = 0;
  virtual void SetProgressPosition(int32_t percent) = 0;
  // The Close command of the window's system menu.
  virtual void EnableCloseCommand(bool enabled) = 0;
  // The header band's second line.
  virtual void SetSubtitle(const std::wstring& subtitle) = 0;
};

// Shows display's state on controls.
void ShowStateDisplay(DisplayControls& controls, const StateDisplay& display);

// The header band's second line: "Version %s" with the major part alone, else
// "Version %s.%s Build %s" with the three parts of version.
std::wstring VersionSubtitle(const std::wstring& version, bool majorOnly);
