#pragma once
// The application: its state, stores and file buffer, and the commands of the File and
// Setting menus. Toolkit-free: it talks to a person only through Ui.

#include <cstdint>
#include <string>

#include "bytes/file_buffer.hpp"
#include "shell/platform.hpp"
#include "shell/ui.hpp"
#include "store/tables.hpp"

namespace tarvik {

inline constexpr const char* kProgramName = "Tarvik";
inline constexpr const char* kTitleSuffix = " - Tarvik";
inline constexpr const char* kOpenFilter =
    "SIS File, Brimond File, PKG File|*.sis;*.sisx;*.qsd;*.pkg|SIS File (.sis, .sisx)|*.sis;*.sisx|"
    "Brimond Session File (.qsd)|*.qsd|PKG File (.pkg)|*.pkg|";
inline constexpr const char* kOpenTitle = "Open File";
inline constexpr const char* kOpenBanner = "<--------Openning file, please wait...-------->";
inline constexpr const char* kReloadBanner = "<--------Reload File, please wait...-------->";
inline constexpr const char* kWorkingDirTitle = "Select location to include as default file path in pkg script";

// The fields the commands share.
struct AppState {
  std::string openedFile;           // path chosen in the Open dialog
  std::string currentFile;          // path the readers work on
  std::string projectText;          // text the last Open or Reload produced
  std::string windowsFolder;        // the data folder, with a trailing separator
  std::string defaultSourceFolder;  // Working Directory: empty or ending in a separator
  std::string pkgScratchFile;       // the 9.x reader's PKG scratch file; deleted at exit
  std::string title = kProgramName;

  std::int32_t dataMark = 0;      // records or file rows of the last package; 0 for PKG/session
  std::int32_t formatMarker = 0;  // 0 after a pre-9.x package, 1 after a 9.x package
  bool stub = false;              // the last 9.x package was a stub

  std::string extractionFolder;   // ends in a separator
  bool busy = false;
  bool stopExtraction = false;
  std::int32_t extractedCount = 0;
  std::int64_t packageLength = 0;
  std::int32_t nameCounter = 0;

  std::string carriedText;        // item 5 of a session file
};

// Which File-menu items are enabled ("Open..." and "Exit" always are).
struct FileMenuState {
  bool save = false;
  bool extract = false;
  bool reload = false;
  bool close = false;
};

class App {
 public:
  explicit App(Ui& ui, Platform platform = Platform::FromEnvironment());

  // Start-up and exit.
  void Form_Load();
  void Form_Unload();

  // File menu.
  void mnOpen_Click();
  void mnReload_Click();
  void mnClose_Click();
  FileMenuState mnFile_Click() const;
  void mnSave_Click();
  void mnExtr_Click();
  // Setting menu.
  void mnWD_Click();

  // The private temporary folder, or nothing when it cannot be made safe.
  std::optional<std::string> TempDir() const { return platform.GetTempDir(); }
  // The extraction folder.
  const std::string& GetPath() const { return state.extractionFolder; }

  Ui& ui;
  Platform platform;
  AppState state;
  Stores stores;
  FileBuffer buffer;

 private:
  // Steps shared by Open and Reload: read the current file by its extension.
  void ReadCurrentFile();
};

// Entry points of the readers and of the project files, each in its own folder.
namespace sis_old {
// Reads the package in the file buffer (either generation) and returns its PKG text.
std::string OpenSISFile2(App& app);
}
namespace project {
// Reads a session file and returns its PKG text.
std::string OpenProject(App& app, std::int64_t fileLength, const std::string& path);
// File -> Save As.
void mnSave_Click(App& app);
}
namespace extract {
// File -> Extract.
void mnExtr_Click(App& app);
}

}  // namespace tarvik
