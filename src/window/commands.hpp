#pragma once
// The window's commands without the toolkit: what Open, Reload, Close, Save As, Extract and
// Working Directory do to the window's state, over the operations. The Qt window runs them
// from its menus; the tests run them with answers queued.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "operations/extract.hpp"
#include "operations/open.hpp"
#include "operations/window_files.hpp"
#include "platform/platform.hpp"
#include "window/window_ui.hpp"

namespace tarvik::window {

inline constexpr const char* kProgramName = ops::kProgramName;
inline constexpr const char* kTitleSuffix = " - Tarvik";
inline constexpr const char* kOpenFilter =
    "SIS File, Brimond File, PKG File|*.sis;*.sisx;*.qsd;*.pkg|SIS File (.sis, .sisx)|*.sis;*.sisx|"
    "Brimond Session File (.qsd)|*.qsd|PKG File (.pkg)|*.pkg|";
inline constexpr const char* kOpenTitle = "Open File";
inline constexpr const char* kOpenBanner = "<--------Openning file, please wait...-------->";
inline constexpr const char* kReloadBanner = "<--------Reload File, please wait...-------->";
inline constexpr const char* kWorkingDirTitle = "Select location to include as default file path in pkg script";
inline constexpr const char* kExtractFolderTitle = "Select folder to keep the extracted files";
inline constexpr const char* kSaveFilter =
    "PKG File (.pkg)|*.pkg|Brimond Session File (.qsd)|*.qsd|Text File (.txt)|*.txt|All Files|*.*";
inline constexpr const char* kSaveTitle = "Save As...";
inline constexpr const char* kProposedName = "Unnamed";

// The state the commands share.
struct WindowState {
  std::string openedFile;   // path chosen in the Open dialog
  std::string currentFile;  // path the readers work on
  std::string title = kProgramName;
  // What the last Open or Reload read; replaced whole by the next one, dropped by Close.
  std::shared_ptr<const ops::Opened> item;
  std::string sourceFolder;      // the Working Directory: empty or ending in a separator
};

// Which File-menu items are enabled ("Open..." and "Exit" always are).
struct FileMenuState {
  bool save = false;
  bool extract = false;
  bool reload = false;
  bool close = false;
};

class Commands {
 public:
  Commands(WindowUi& ui, Platform platform);

  // Start-up (the program's folders) and exit (the scratch files).
  void Form_Load();
  void Form_Unload();

  void mnOpen_Click();
  void mnReload_Click();
  void mnClose_Click();
  FileMenuState mnFile_Click() const;
  void mnSave_Click();
  void mnWD_Click();

  // Opens `data` as the file `path` (what Open does once the file is read).
  void OpenBytes(const std::string& path, FileBytes data);
  // The first step of every extraction: asks for the folder and prepares the job (asking
  // what must be asked). A job whose status is Refused or Declined is not to be run.
  ops::ExtractJob PrepareExtraction(const std::optional<std::vector<std::size_t>>& rows, bool rebuildScripts);
  // The same for a whole request; its folder is asked for when the request has none.
  ops::ExtractJob PrepareExtraction(ops::ExtractRequest request);

  const WindowState& State() const { return state_; }
  void SetSourceFolder(const std::string& folder) { state_.sourceFolder = folder; }
  const Platform& platform() const { return platform_; }
  const ops::ScratchFiles& Scratch() const { return scratch_; }
  // The file table of what is open (empty when nothing is).
  const std::vector<views::FileRow>& Files() const;

 private:
  void Show(const std::shared_ptr<const ops::Opened>& item);
  void Forget();

  WindowUi& ui_;
  Platform platform_;
  WindowState state_;
  ops::ScratchFiles scratch_;
};

}  // namespace tarvik::window
