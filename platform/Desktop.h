// The desktop services the editor uses: the main screen's work area, open and save panels, and the file
// browser, all served by the installed window system (WindowSystem.h). The stand-in system shows nothing:
// its screen is what setMainScreenVisibleArea said, its panels wait for an answer (answerPanel) and the
// folders it opens are only recorded.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The main screen's area without menu bar and dock (points of the stand-in, pixels of X11); none when
// there is no main screen.
struct ScreenArea {
  double width = 0.0;
  double height = 0.0;
};
std::optional<ScreenArea> mainScreenVisibleArea();
void setMainScreenVisibleArea(std::optional<ScreenArea> area);

// An open or save panel waiting for the user. The completion receives whether the user confirmed and
// the chosen file (empty when none).
struct PanelRequest {
  enum class Kind { open, save };
  Kind kind = Kind::open;
  std::string suggestedName;     // save panels only
  std::string allowedExtension;  // the file type offered, as an extension without the dot
  std::function<void(bool confirmed, const std::string& path)> completion;
  std::string folder;         // the folder the panel opens in; empty leaves it to the platform
  uint64_t transientFor = 0;  // the host's X11 window the panel belongs to; 0 for none
};

// Main thread: shows a panel; the completion runs when the panel is answered.
void runPanel(PanelRequest request);
// The panels waiting for an answer, oldest first.
const std::vector<PanelRequest>& pendingPanels();
// Answers the oldest waiting panel; false when none waits.
bool answerPanel(bool confirmed, const std::string& path);

// Shows the folder in the system's file browser.
void openFolderInFileBrowser(const std::string& path);
// The folders shown so far, oldest first.
const std::vector<std::string>& openedFolders();

// Forgets the screen, the waiting panels and the opened folders.
void resetDesktop();

}  // namespace platform

namespace tavrin {

// The main screen's work area in points; false when there is no main screen or it has no area.
bool mainScreenWorkArea(double& width, double& height);

}  // namespace tavrin
