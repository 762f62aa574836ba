#pragma once
// How an operation talks to a person: the messages it tells and the questions it asks are
// values, and each front end renders them its own way (a dialog in the window, a line and an
// exit status on the command line, a fixed answer in tests and fuzzing).

#include <cstddef>
#include <string>
#include <vector>

namespace tarvik::ops {

inline constexpr const char* kProgramName = "Tarvik";
// The 9.x reader and its decompression speak under this name.
inline constexpr const char* kReaderName = "Brimond";

enum class Severity {
  Plain,    // an unexpected failure, told as it is
  Note,     // information: nothing went wrong
  Warning,  // something did not work, the rest goes on
  Error,    // a file is invalid or could not be written
};

struct Message {
  Severity severity = Severity::Plain;
  std::string title;  // who speaks: kProgramName or kReaderName
  std::string text;   // lines joined by CR LF
};

enum class QuestionKind {
  ReadAsPackage,     // a file with another extension looks like a package
  ReplaceFile,       // the file to save exists
  WriteBeyondBudget, // an extraction would write more than the package could honestly hold
  DropEdits,         // the window's script has edits that are not saved
  StopExtraction,    // the window is closed while files are being extracted
};

// A yes/no question; "no" is the safe answer.
struct Question {
  QuestionKind kind = QuestionKind::ReplaceFile;
  std::string title;
  std::string text;
};

// What to do with a file that already stands where an extraction would write one.
enum class ExistingChoice {
  Overwrite,  // replace it
  Skip,       // keep it, and do not write the package's file
  Rename,     // keep it, and write the package's file beside it under a free name
  Cancel,     // extract nothing
};

struct ExistingQuestion {
  std::string title;
  std::string path;            // the native path that stands there
  std::size_t index = 0;       // its place among the files that stand there (from 0)
  std::size_t count = 0;       // how many of the files to write stand there
};

struct ExistingAnswer {
  ExistingChoice choice = ExistingChoice::Cancel;
  bool forAll = false;  // the same for this file and every later one
};

class Conversation {
 public:
  virtual ~Conversation() = default;
  virtual void Tell(const Message& message) = 0;
  // True for yes.
  virtual bool Ask(const Question& question) = 0;
  // Asked for each file that stands where an extraction would write, until an answer is
  // for all; without a person to ask, nothing is touched.
  virtual ExistingAnswer AskExisting(const ExistingQuestion& /*question*/) { return {}; }
  // Long loops on the caller's thread call this now and then, so that a window can repaint.
  virtual void Pulse() {}
};

// A conversation without a person: it keeps what it was told and asked, and answers every
// question with `answer`.
class Recorder : public Conversation {
 public:
  explicit Recorder(bool answerYes = false)
      : answer(answerYes), existing{answerYes ? ExistingChoice::Overwrite : ExistingChoice::Cancel, true} {}
  void Tell(const Message& message) override { messages.push_back(message); }
  bool Ask(const Question& question) override {
    asked.push_back(question);
    return answer;
  }
  ExistingAnswer AskExisting(const ExistingQuestion& question) override {
    existingAsked.push_back(question);
    return existing;
  }

  bool Has(const std::string& text) const;
  bool HasSeverity(Severity severity) const;

  bool answer;
  ExistingAnswer existing;  // about files that stand there: replace all on yes, else extract nothing
  std::vector<Message> messages;
  std::vector<Question> asked;
  std::vector<ExistingQuestion> existingAsked;
};

}  // namespace tarvik::ops
