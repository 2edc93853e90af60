#pragma once

namespace modrin::app {

// Numeric command identifiers. They name the commands in menus, toolbars and keys and stay as
// they are: messages between the windows refer to them.
namespace command {
inline constexpr int kNew = 57600;  // Ctrl+N: no action
inline constexpr int kOpen = 57601;
inline constexpr int kSave = 57603;
inline constexpr int kSaveAs = 57604;
inline constexpr int kLoadImages = 57605;
inline constexpr int kSave3DAs = 57606;
inline constexpr int kCalibration = 57607;
inline constexpr int kRecentFile1 = 57616;  // up to kRecentFile1 + kRecentFileCount - 1
inline constexpr int kRecentFileCount = 4;
inline constexpr int kCopy = 57634;   // no action
inline constexpr int kCut = 57635;    // no action
inline constexpr int kPaste = 57637;  // no action
inline constexpr int kUndo = 57643;
inline constexpr int kRedo = 57644;
inline constexpr int kAbout = 57664;
inline constexpr int kExit = 57665;
inline constexpr int kNextPane = 57680;  // no action
inline constexpr int kPrevPane = 57681;  // no action
inline constexpr int kToggleIOToolbar = 59392;
inline constexpr int kToggleStatusBar = 59393;
inline constexpr int kSaveToWeb = 32871;
inline constexpr int kPhotoParameters = 32846;
inline constexpr int kCameraParameters = 32889;
inline constexpr int kToggleFunctionsToolbar = 32812;
inline constexpr int kToggle2DToolbars = 32843;
inline constexpr int kToggle3DToolbars = 32842;
inline constexpr int kViewConfiguration = 32893;
inline constexpr int kHelpContents = 32844;
inline constexpr int kRedisplay = 32778;
inline constexpr int kRedraw2DViews = 32775;
inline constexpr int kInitialize3DView = 32773;
inline constexpr int kUpdate3DView = 32777;
inline constexpr int kRedraw3DView = 32776;
inline constexpr int kFullScreen3D = 32784;  // Ctrl+F10, the 3D view's own
}  // namespace command

}  // namespace modrin::app
