#pragma once

#include <QMainWindow>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/calibration_dialog.h"
#include "app/layout_host.h"
#include "views2d/view_host.h"

class QAction;
class QLabel;
class QMenu;
class QToolBar;

namespace modrin::app {

class BackgroundCalibration;
class ModrinApplication;
class StatusProgress;

// The main window: menus, the I/O and Functions toolbars, the status bar, and the client area
// divided by the layout tree into photo frames, 3D frames and the object list. It keeps the
// frame list and routes each command to whoever carries it out.
class CMainFrame : public QMainWindow,
                   public LayoutHost,
                   public views2d::ViewHost,
                   public CalibrationHost {
  Q_OBJECT

 public:
  // The application outlives the window.
  explicit CMainFrame(ModrinApplication& app, QWidget* parent = nullptr);
  ~CMainFrame() override;

  // Replaces the layout tree by one built from `layout`; an empty string or one that is not a
  // layout gives the default layout. Then every frame is refreshed and every 3D frame
  // initialised.
  void BuildLayout(const std::string& layout);
  // The layout string of the current tree.
  std::string LayoutString() const;

  // Gives the i-th photo frame photo i (none past the last photo) and refills every object
  // list.
  void Redisplay();
  // Undo or redo gave the project another state: every view shows it at once, each photo view
  // with the photo it showed.
  void ShowRestoredProject(bool photosChanged);
  // "Initialize 3d view" to every 3D frame.
  void Initialize3DViews();
  // "Redraw 3D view" to every 3D frame.
  void Redraw3DViews();
  // "Update 3D view" to every 3D frame.
  void Update3DViews() override;

  // Re-evaluates which commands are enabled: Save follows the modified flag, Save 3D As and
  // Save to Web whether the project has an object.
  void UpdateCommandStates();
  void UpdateRecentFileMenu();
  // Text of the first status-bar pane, painted at once (long work follows); empty: "Ready".
  void ShowStatusText(const QString& text);
  // What the first status-bar pane shows when no prompt covers it.
  QString promptText() const;

  // The action of command `id`; null for an unknown id.
  QAction* action(int id) const;
  QToolBar* ioToolBar() const { return ioToolBar_; }
  QToolBar* functionsToolBar() const { return functionsToolBar_; }
  // The second status-bar pane, where the photo views write the coordinates under the cursor.
  QLabel* coordinatesPane() const { return coordinatesPane_; }
  // The first status-bar pane: prompts, progress texts, "Ready".
  QLabel* promptPane() const { return promptPane_; }
  // The calibration's progress display in the first pane.
  StatusProgress& statusProgress() const { return *progress_; }
  // Whether a calibration run is under way; the window then takes no command and stays open.
  bool calibrationRunning() const;

  // LayoutHost
  QWidget* CreateFrame(char code, QWidget* parent) override;
  void AppendFrame(QWidget* frame) override;
  void RemoveFrame(QWidget* frame) override;
  const std::vector<QWidget*>& frames() const override { return frames_; }
  cSplitView* layoutRoot() const override { return root_; }
  void SetLayoutRoot(cSplitView* root) override;

  // ViewHost
  views2d::SharedSelection& selection() override { return selection_; }
  std::vector<views2d::Img*> photoViews() const override;
  void RecordEdit(const std::string& name) override;
  void ShowPrompt(const QString& text) override;
  void ShowCoordinates(const QString& text) override;
  void Refresh3D() override;
  void Redraw2DViews() override;
  void ShowHelpTopic(const QString& topic) override;
  // The project's advice; for a photo with enough control points that the calibration would
  // not try all the same, the reason it gives.
  model::StepAdvice NextStepAdvice(const model::Project& project, int photo) const override;
  void ShownPhotosChanged() override;

  // CalibrationHost
  BackgroundCalibrationResult RunCalibration(model::Project& project,
                                             const engine::CalibrationRunOptions& options,
                                             QWidget* dialog) override;
  engine::RefineResult RunRefinement(const model::Project& project,
                                     const engine::RefineOptions& options,
                                     QWidget* dialog) override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  struct Command;
  static const Command kCommands[];

  void CreateActions();
  void CreateMenus();
  void CreateToolBars();
  void CreateStatusBar();
  void CreateAccelerators();
  QMenu* AddMenu(QMenu* menu, std::initializer_list<int> ids);

  // Command handlers.
  void OnOpen();
  void OnSave();
  void OnSaveAs();
  void OnLoadImages();
  void OnSave3DAs();
  void OnSaveToWeb();
  void OnExit();
  void OnUndo();
  void OnRedo();
  // The menu text of Undo or Redo: the verb, the step's name when there is one, the shortcut.
  void SetHistoryText(int id, const char* verb, const std::string& step, const char* shortcut);
  void OnPhotoParameters();
  void OnCameraParameters();
  void OnCalibration();
  void OnToggleStatusBar();
  void OnToggleIOToolBar();
  void OnToggleFunctionsToolBar();
  void OnToggle2DToolBars();
  void OnToggle3DToolBars();
  void OnViewConfiguration();
  void OnHelpContents();
  void OnAbout();
  void OnHelpKey();
  void OnWireframeKey();

  ModrinApplication& app_;
  std::map<int, QAction*> actions_;
  QMenu* fileMenu_ = nullptr;
  QAction* recentFilesEnd_ = nullptr;  // the separator after the recent files
  std::vector<QAction*> recentFileActions_;
  QToolBar* ioToolBar_ = nullptr;
  QToolBar* functionsToolBar_ = nullptr;
  QLabel* promptPane_ = nullptr;
  QLabel* coordinatesPane_ = nullptr;
  QWidget* client_ = nullptr;  // holds the root node between the toolbars and the status bar
  cSplitView* root_ = nullptr;
  bool buildingLayout_ = false;  // BuildLayout is making the tree
  std::vector<QWidget*> frames_;
  views2d::SharedSelection selection_;
  std::unique_ptr<StatusProgress> progress_;
  std::unique_ptr<BackgroundCalibration> calibration_;
};

// The help page of the window that holds `widget`: the photo view's, the 3D view's, the
// object list's, or the contents page for anything else.
QString HelpPageFor(const QWidget* widget);

}  // namespace modrin::app
