#include "store/messages.h"

#include <cstdio>

namespace {
TConsoleMessageSink g_console;
TMessageSink* g_sink = nullptr;

void PrintLines(const char* prefix, const std::string& text) {
  // One stderr line per line of the text, each with the pane's prefix.
  std::string line;
  auto flush = [&] {
    std::fprintf(stderr, "%s%s\n", prefix, line.c_str());
    line.clear();
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      flush();
    } else {
      line.push_back(c);
    }
  }
  flush();
}
}  // namespace

void TConsoleMessageSink::Error(const std::string& text) {
  PrintLines(" ERR: ", text);
}
void TConsoleMessageSink::Info(const std::string& text) {
  PrintLines(" APP: ", text);
}
bool TConsoleMessageSink::Ask(const std::string&) {
  return true;
}
void TConsoleMessageSink::Notice(const std::string& text) {
  PrintLines(" MSG: ", text);
}

TMessageSink* SetMessageSink(TMessageSink* sink) {
  TMessageSink* old = g_sink;
  g_sink = sink;
  return old;
}

TMessageSink& CurrentMessageSink() {
  return g_sink ? *g_sink : g_console;
}

void LogError(const std::string& text) {
  CurrentMessageSink().Error(text);
}
void LogInfo(const std::string& text) {
  CurrentMessageSink().Info(text);
}
void LogNotice(const std::string& text) {
  CurrentMessageSink().Notice(text);
}
bool Confirm(const std::string& text) {
  return CurrentMessageSink().Ask(text);
}
bool ConfirmDelete(const std::string& text) {
  return CurrentMessageSink().AskBeforeDeleting(text);
}
