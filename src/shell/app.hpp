#pragma once
// The application: its state, stores and file buffer, and the commands of the File and
// Setting menus. Toolkit-free: it talks to a person only through Ui.

#include <cstdint>
#include <memory>
#include <string>

#include "bytes/file_buffer.hpp"
#include "model/package.hpp"
#include "platform/part_files.hpp"
#include "platform/platform.hpp"
#include "shell/ui.hpp"
#include "views/views.hpp"

namespace tarvik::extract {
class Reporter;
struct Result;
}  // namespace tarvik::extract

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

  // The package the last Open or Reload read, and its view; empty after a PKG script, a
  // session file or a file that is no package. Replaced whole by every open.
  std::shared_ptr<const model::Package> package;
  views::PackageView view;

  std::int32_t dataMark = 0;      // records or file rows of the last package; 0 for PKG/session
  std::int32_t formatMarker = 0;  // 0 after a pre-9.x package, 1 after a 9.x package
  bool stub = false;              // the last 9.x package was a stub

  std::string extractionFolder;   // ends in a separator
  bool busy = false;
  bool stopExtraction = false;    // checked between pieces of an extraction: true ends it
  std::int32_t extractedCount = 0;
  bool extractDeclined = false;   // the last Extract was asked about its size and not confirmed
  // Extraction also writes build-ready PKG files beside the extracted files (9.x packages).
  bool writeRebuildScripts = false;
  // Extraction also writes the signature certificates (DIR/certificates/), in its budget.
  bool writeCertificates = false;

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
  // The first steps of Extract: asks for the folder and keeps it as the extraction folder.
  // Nothing when the person cancels or the package cannot be extracted (a stub).
  std::optional<std::string> ChooseExtractionFolder();
  // Before `rows` are extracted into the extraction folder: Go; NoData when the package is
  // pre-installed and carries no file data (said once; its build-ready PKG files can still
  // be written); Declined when the person declined writing far more than the package could
  // hold (or than the disk has room for).
  enum class ExtractPlan { Go, NoData, Declined };
  // `extraBytes`: what else the extraction writes (the certificates), in its budget.
  ExtractPlan ReadyToExtract(const std::vector<views::FileRow>& rows, std::uint64_t extraBytes = 0);
  // After a whole extraction: writes the build-ready PKG files when they were asked for
  // (state.writeRebuildScripts); returns their paths relative to the extraction folder.
  std::vector<std::string> WriteRebuildFiles(const extract::Result& result, extract::Reporter& reporter);
  // Setting menu.
  void mnWD_Click();

  // The private temporary folder, or nothing when it cannot be made safe.
  std::optional<std::string> TempDir() const { return platform.GetTempDir(); }
  // The extraction folder.
  const std::string& GetPath() const { return state.extractionFolder; }

  // Opens `data` as the file `path` (what Open does once the file is read; the extension
  // tells how to read it).
  void OpenBytes(const std::string& path, Bytes data);
  // Reads a package from `bytes` (either generation), shows what could not be read, and
  // returns its PKG text. The package and its view replace the previous ones.
  std::string OpenPackage(const std::string& path);

  Ui& ui;
  Platform platform;
  AppState state;
  Bytes bytes;  // the open file, read once by Open and Reload

 private:
  // Steps shared by Open and Reload: read the current file by its extension.
  void ReadCurrentFile();
  // Forgets the previous file's package, view and bytes.
  void ClearPackage();
  // The scratch files the window keeps of a 9.x package: the unpacked controller and the
  // PKG text.
  void WriteScratchFiles(const model::Package& package, const std::string& script);
  void ShowProblems(const model::Package& package);
  void ExtractFiles();
  std::string OpenSession(const std::string& path);

  ScratchFile scratch_;  // holds the PKG scratch file while the window lives
};

}  // namespace tarvik
