// A message sink that records what LogError/LogInfo/LogNotice/Confirm were given.
#pragma once

#include <string>
#include <vector>

#include "store/messages.h"

namespace quorvel::test {

class RecordingSink : public TMessageSink {
 public:
  RecordingSink() { previous_ = SetMessageSink(this); }
  ~RecordingSink() override { SetMessageSink(previous_); }
  void Error(const std::string& text) override { errors.push_back(text); }
  void Info(const std::string& text) override { infos.push_back(text); }
  void Notice(const std::string& text) override { notices.push_back(text); }
  bool Ask(const std::string& text) override {
    questions.push_back(text);
    return true;
  }
  std::vector<std::string> errors, infos, questions, notices;

 private:
  TMessageSink* previous_ = nullptr;
};

}  // namespace quorvel::test
