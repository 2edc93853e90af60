#pragma once

#include <QString>
#include <string>
#include <vector>

#include "views2d/view_host.h"

namespace modrin::views2d::testing {

// The window around photo views in tests and benchmarks: lists the views it is given and
// records what they ask of it.
class RecordingViewHost : public ViewHost {
 public:
  SharedSelection& selection() override { return selection_; }
  std::vector<Img*> photoViews() const override { return views; }
  void RecordEdit(const std::string& name) override {
    ++modified;
    edits.push_back(name);
  }
  void ShowPrompt(const QString& text) override { prompt = text; }
  void ShowCoordinates(const QString& text) override { coordinates = text; }
  void Refresh3D() override { ++refreshed3D; }
  void Redraw2DViews() override { ++redraws2D; }
  void ShowHelpTopic(const QString& topic) override { helpTopic = topic; }

  std::vector<Img*> views;
  int modified = 0;
  std::vector<std::string> edits;  // the undo steps' names, in order
  int refreshed3D = 0;
  int redraws2D = 0;
  QString prompt, coordinates, helpTopic;

 private:
  SharedSelection selection_;
};

}  // namespace modrin::views2d::testing
