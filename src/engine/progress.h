#pragma once

#include <string>

namespace modrin::engine {

// Progress display and cancel query of a long engine run. The GUI shows it in the status bar
// and reads Escape; the command-line tool draws a terminal bar and reads Ctrl-C. The engine
// calls it only from the thread that started the run.
class Progress {
 public:
  virtual ~Progress() = default;

  // Shows the indicator with a leading text.
  virtual void Create(const std::string& text) = 0;
  virtual void SetRange(int low, int high) = 0;
  virtual void SetStep(int step) = 0;
  virtual void StepIt() = 0;
  virtual void SetPos(int position) = 0;
  // Removes the indicator and its text.
  virtual void Destroy() = 0;
  // Whether the user asked to stop (a key held now or pressed since the previous call).
  virtual bool CancelRequested() = 0;
};

// Shows nothing and never cancels.
class NullProgress : public Progress {
 public:
  void Create(const std::string&) override {}
  void SetRange(int, int) override {}
  void SetStep(int) override {}
  void StepIt() override {}
  void SetPos(int) override {}
  void Destroy() override {}
  bool CancelRequested() override { return false; }
};

}  // namespace modrin::engine
