// The program-wide ways of telling the user something: LogError, LogInfo and
// Confirm. They go through one replaceable sink: the windowed program installs
// message boxes plus its message pane, the headless runner prints to stderr,
// and tests record the texts and answer the questions.
#pragma once

#include <string>

class TMessageSink {
 public:
  virtual ~TMessageSink() = default;
  // An error box titled "Error" plus the line " ERR: " + text in the message pane.
  virtual void Error(const std::string& text) = 0;
  // An information box titled "Information" plus the line " APP: " + text.
  virtual void Info(const std::string& text) = 0;
  // A Yes/No question titled "Confirm"; true only when Yes was chosen.
  virtual bool Ask(const std::string& text) = 0;
  // The same question before something is deleted: a window answers No to a
  // stray Enter there. Sinks that answer questions themselves may keep this
  // default, which asks as Ask does.
  virtual bool AskBeforeDeleting(const std::string& text) { return Ask(text); }
  // A progress line without a box: the line " MSG: " + text in the message
  // pane. Sinks that show no progress may keep this default, which drops it.
  virtual void Notice(const std::string& text) { (void)text; }
};

// Prints " ERR: text" / " APP: text" / " MSG: text" lines to stderr; Confirm answers Yes.
class TConsoleMessageSink : public TMessageSink {
 public:
  void Error(const std::string& text) override;
  void Info(const std::string& text) override;
  bool Ask(const std::string& text) override;
  void Notice(const std::string& text) override;
};

// Installs the sink used by LogError, LogInfo and Confirm (not owned; pass
// nullptr to go back to the console sink). Returns the previous one.
TMessageSink* SetMessageSink(TMessageSink* sink);
TMessageSink& CurrentMessageSink();

void LogError(const std::string& text);
void LogInfo(const std::string& text);
// Tells the user something while a command goes on, without a box.
void LogNotice(const std::string& text);
bool Confirm(const std::string& text);
// Confirm for a deletion: Enter alone never deletes (No is the default button).
bool ConfirmDelete(const std::string& text);
