#include "app/main_frame.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>
#include <QVBoxLayout>
#include <set>

#include "app/background_calibration.h"
#include "app/calibration_dialog.h"
#include "app/commands.h"
#include "app/help_window.h"
#include "app/icons.h"
#include "app/layout_string.h"
#include "app/modrin_application.h"
#include "app/objects_list.h"
#include "app/split_view.h"
#include "app/status_progress.h"
#include "app/view_config_window.h"
#include "engine/reconstruction.h"
#include "model/project.h"
#include "views2d/camera_parameters_dialog.h"
#include "views2d/img.h"
#include "views2d/img_frame.h"
#include "views2d/photo_parameters_dialog.h"
#include "views3d/ogl_frame.h"

namespace modrin::app {

namespace {

enum class Enabling { Always, WhileModified, WhileObjects, WhileUndo, WhileRedo };

// The second status-bar pane is as wide as this text: a photo name, the pixel under the pointer
// and the 3D cursor, as the photo views show them. Fixed, so the panes do not shift as the
// numbers change.
constexpr char kCoordinatesPaneText[] =
    "photo_name_of_20.jpg  x 99999  y 99999   -9999.999, -9999.999, -9999.999";
constexpr char kReady[] = "Ready";

// The child identifier of the root node inside the main window.
constexpr char kRootNodeName[] = "59648";

}  // namespace

// One command: its id, its menu text ("&" before the access letter, a tab before the shortcut
// text; empty for commands without a menu entry), its status-bar prompt and tooltip separated
// by a newline, when it is enabled, whether it carries a check mark, and its handler (null for
// commands that others carry out).
struct CMainFrame::Command {
  int id;
  const char* menuText;
  const char* promptAndTooltip;
  Enabling enabling;
  bool checkable;
  void (CMainFrame::*run)();
};

using C = CMainFrame;
namespace cmd = command;

const CMainFrame::Command CMainFrame::kCommands[] = {
    {cmd::kOpen, "&Open...\tCtrl+O", "Open an existing Project\nOpen Project", Enabling::Always,
     false, &C::OnOpen},
    {cmd::kSave, "&Save\tCtrl+S", "Save the Project\nSave Project", Enabling::WhileModified, false,
     &C::OnSave},
    {cmd::kSaveAs, "Save &As...", "Save the active document with a new name\nSave As",
     Enabling::Always, false, &C::OnSaveAs},
    {cmd::kLoadImages, "&Load  Images...", "Load a set of images\nLoad list of images",
     Enabling::Always, false, &C::OnLoadImages},
    {cmd::kSave3DAs, "Save 3&D As...\tCtrl+Shift+D", "Save 3D model as\nSave 3D as",
     Enabling::WhileObjects, false, &C::OnSave3DAs},
    {cmd::kSaveToWeb, "Save to &Web...", "Save 3D model for web\nSave 3D for web",
     Enabling::WhileObjects, false, &C::OnSaveToWeb},
    {cmd::kUndo, "&Undo\tCtrl+Z", "Undo the last edit\nUndo", Enabling::WhileUndo, false,
     &C::OnUndo},
    {cmd::kRedo, "&Redo\tCtrl+Shift+Z", "Redo the edit undone last\nRedo", Enabling::WhileRedo,
     false, &C::OnRedo},
    {cmd::kExit, "E&xit", "Quit the application; prompts to save documents\nExit", Enabling::Always,
     false, &C::OnExit},
    {cmd::kPhotoParameters, "&Photo parameters...",
     "Parameters of the snapshot\nSnapshot parameters", Enabling::Always, false,
     &C::OnPhotoParameters},
    {cmd::kCameraParameters, "Ca&mera parameters...",
     "Get and set camera characteristics\nCamera parameters", Enabling::Always, false,
     &C::OnCameraParameters},
    {cmd::kCalibration, "C&alibration...",
     "Calibration parameters for the stereo pair of images\nCalibration parameters",
     Enabling::Always, false, &C::OnCalibration},
    {cmd::kToggleStatusBar, "&Status Bar", "Show or hide the status bar\nToggle StatusBar",
     Enabling::Always, true, &C::OnToggleStatusBar},
    {cmd::kToggleIOToolbar, "&I/O",
     "Show or hide the File Read/Write toolbar\nToggle File I/O ToolBar", Enabling::Always, true,
     &C::OnToggleIOToolBar},
    {cmd::kToggleFunctionsToolbar, "&Features",
     "Show or hide the Features toolbar\nToggle Features ToolBar", Enabling::Always, true,
     &C::OnToggleFunctionsToolBar},
    {cmd::kToggle2DToolbars, "2D-views settings",
     "Show or hide the 2D-view options toolbar\nToggle 2D-views ToolBar", Enabling::Always, true,
     &C::OnToggle2DToolBars},
    {cmd::kToggle3DToolbars, "3D view settings",
     "Show or hide the 3D-view options toolbar\nToggle 3D-view ToolBar", Enabling::Always, true,
     &C::OnToggle3DToolBars},
    {cmd::kViewConfiguration, "&View configuration", "Change view  configuration\nAdd/Delete views",
     Enabling::Always, false, &C::OnViewConfiguration},
    {cmd::kHelpContents, "&Contents...", "Open the Help file", Enabling::Always, false,
     &C::OnHelpContents},
    {cmd::kAbout, "&About Modrin...", "\nAbout", Enabling::Always, false, &C::OnAbout},
    {cmd::kRedisplay, "", "Update display of all windows\nRedisplay", Enabling::Always, false,
     &C::Redisplay},
    {cmd::kRedraw2DViews, "", "Redraw 2D views\nRedraw 2D views", Enabling::Always, false,
     &C::Redraw2DViews},
    {cmd::kFullScreen3D, "", "", Enabling::Always, false, &C::OnWireframeKey},
    // Keys of the accelerator table that no command answers: they are taken and do nothing.
    {cmd::kNew, "", "", Enabling::Always, false, nullptr},
    {cmd::kCopy, "", "", Enabling::Always, false, nullptr},
    {cmd::kCut, "", "", Enabling::Always, false, nullptr},
    {cmd::kPaste, "", "", Enabling::Always, false, nullptr},
    {cmd::kNextPane, "", "", Enabling::Always, false, nullptr},
    {cmd::kPrevPane, "", "", Enabling::Always, false, nullptr},
};

namespace {

// The accelerator table. Every other key goes to the focused window.
struct Accelerator {
  QKeyCombination key;
  int id;
};

const Accelerator kAccelerators[] = {
    {Qt::CTRL | Qt::Key_O, cmd::kOpen},
    {Qt::CTRL | Qt::Key_S, cmd::kSave},
    {Qt::CTRL | Qt::Key_W, cmd::kViewConfiguration},
    {Qt::CTRL | Qt::Key_F10, cmd::kFullScreen3D},
    {Qt::CTRL | Qt::Key_N, cmd::kNew},
    {Qt::CTRL | Qt::Key_C, cmd::kCopy},
    {Qt::CTRL | Qt::Key_Insert, cmd::kCopy},
    {Qt::CTRL | Qt::Key_X, cmd::kCut},
    {Qt::SHIFT | Qt::Key_Delete, cmd::kCut},
    {Qt::CTRL | Qt::Key_V, cmd::kPaste},
    {Qt::SHIFT | Qt::Key_Insert, cmd::kPaste},
    {Qt::CTRL | Qt::Key_Z, cmd::kUndo},
    {Qt::ALT | Qt::Key_Backspace, cmd::kUndo},
    {Qt::CTRL | Qt::SHIFT | Qt::Key_Z, cmd::kRedo},
    {Qt::CTRL | Qt::Key_Y, cmd::kRedo},
    {QKeyCombination(Qt::Key_F6), cmd::kNextPane},
    {Qt::SHIFT | Qt::Key_F6, cmd::kPrevPane},
};

// The frame of kind T that holds `widget`, or null.
template <typename T, typename W>
T* EnclosingFrame(W* widget) {
  for (W* w = widget; w != nullptr; w = w->parentWidget()) {
    if (auto* frame = qobject_cast<T*>(w)) return frame;
  }
  return nullptr;
}

template <typename T, typename F>
void ForEachFrame(const std::vector<QWidget*>& frames, F&& f) {
  for (QWidget* frame : frames) {
    if (auto* typed = qobject_cast<T*>(frame)) f(*typed);
  }
}

// Hides a frame's toolbar, or docks it at the top of its frame and shows it; true when it ends
// up shown.
bool ToggleFrameToolBar(QMainWindow& frame, QToolBar& toolBar) {
  if (toolBar.isVisible()) {
    toolBar.hide();
    return false;
  }
  frame.addToolBar(Qt::TopToolBarArea, &toolBar);
  toolBar.show();
  return true;
}

// Toggles the toolbar of every frame of kind T. The menu item's check mark follows the last
// frame handled; with no such frame it stays as it was. The item has already flipped its own
// mark when it was triggered, so that flip is undone then.
template <typename T>
void ToggleFrameToolBars(const std::vector<QWidget*>& frames, QAction& item) {
  bool handled = false;
  ForEachFrame<T>(frames, [&](T& frame) {
    item.setChecked(ToggleFrameToolBar(frame, *frame.toolBar()));
    handled = true;
  });
  if (!handled) item.setChecked(!item.isChecked());
}

}  // namespace

QString HelpPageFor(const QWidget* widget) {
  if (EnclosingFrame<const views2d::ImgFrame>(widget) != nullptr) return "2Dviews.html";
  if (EnclosingFrame<const views3d::OglFrame>(widget) != nullptr) return "3Dview.html";
  if (EnclosingFrame<const uiObjectsList>(widget) != nullptr) return "ObjectList.html";
  return "Modrin.html";
}

CMainFrame::CMainFrame(ModrinApplication& app, QWidget* parent) : QMainWindow(parent), app_(app) {
  setWindowTitle(kProgramName);
  setWindowIcon(ProgramIcon());
  // The Windows menu is where toolbars are shown and hidden, so that its check marks stay
  // true: the window offers no menu of its own on the toolbar area.
  setContextMenuPolicy(Qt::PreventContextMenu);

  CreateActions();
  CreateMenus();
  CreateToolBars();
  CreateStatusBar();
  CreateAccelerators();
  progress_ = std::make_unique<StatusProgress>(*statusBar(), *promptPane_);
  calibration_ = std::make_unique<BackgroundCalibration>(*progress_);

  client_ = new QWidget(this);
  auto* clientLayout = new QVBoxLayout(client_);
  clientLayout->setContentsMargins(0, 0, 0, 0);
  setCentralWidget(client_);

  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect available = screen->availableGeometry();
    resize(available.size().boundedTo(QSize(1280, 860)));
  }
  BuildLayout(app_.settings().value("Views/Config").toString().toStdString());

  // Enabling rules are evaluated when a menu opens and whenever the program falls idle.
  connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
          &CMainFrame::UpdateCommandStates);
  UpdateCommandStates();
}

CMainFrame::~CMainFrame() {
  // The layout's frames go first; none of them may be reached through the list afterwards.
  frames_.clear();
  delete root_;
}

void CMainFrame::CreateActions() {
  for (const Command& command : kCommands) {
    const QString strings = QString::fromUtf8(command.promptAndTooltip);
    const qsizetype newline = strings.indexOf('\n');
    auto* action = new QAction(QString::fromUtf8(command.menuText), this);
    action->setStatusTip(newline < 0 ? strings : strings.left(newline));
    if (newline >= 0) action->setToolTip(strings.mid(newline + 1));
    action->setCheckable(command.checkable);
    action->setIcon(CommandIcon(command.id));
    action->setIconVisibleInMenu(false);
    action->setData(command.id);
    if (command.run != nullptr) {
      connect(action, &QAction::triggered, this, command.run);
    }
    actions_[command.id] = action;
  }
  actions_[cmd::kToggleStatusBar]->setChecked(true);
  actions_[cmd::kToggleIOToolbar]->setChecked(true);
  // The Features item starts without its check mark although the toolbar is shown; its first
  // use hides the toolbar.
  actions_[cmd::kToggleFunctionsToolbar]->setChecked(false);
}

QMenu* CMainFrame::AddMenu(QMenu* menu, std::initializer_list<int> ids) {
  for (int id : ids) {
    if (id == 0) {
      menu->addSeparator();
    } else {
      menu->addAction(actions_.at(id));
    }
  }
  connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandStates);
  return menu;
}

void CMainFrame::CreateMenus() {
  fileMenu_ =
      AddMenu(menuBar()->addMenu("&File"), {cmd::kOpen, cmd::kSave, cmd::kSaveAs, 0,
                                            cmd::kLoadImages, cmd::kSave3DAs, cmd::kSaveToWeb, 0});
  for (int i = 0; i < cmd::kRecentFileCount; ++i) {
    auto* recent = new QAction(this);
    recent->setStatusTip("Open this document");
    recent->setData(cmd::kRecentFile1 + i);
    connect(recent, &QAction::triggered, this, [this, i] { app_.OpenRecentFile(i); });
    fileMenu_->addAction(recent);
    recentFileActions_.push_back(recent);
  }
  recentFilesEnd_ = fileMenu_->addSeparator();
  fileMenu_->addAction(actions_.at(cmd::kExit));
  UpdateRecentFileMenu();

  AddMenu(menuBar()->addMenu("&Edit"), {cmd::kUndo, cmd::kRedo});

  AddMenu(menuBar()->addMenu("&Tools"),
          {cmd::kPhotoParameters, cmd::kCameraParameters, cmd::kCalibration});

  QMenu* windows = AddMenu(menuBar()->addMenu("&Windows"), {cmd::kToggleStatusBar});
  AddMenu(windows->addMenu("&Toolbars"), {cmd::kToggleIOToolbar, cmd::kToggleFunctionsToolbar,
                                          cmd::kToggle2DToolbars, cmd::kToggle3DToolbars});
  AddMenu(windows, {0, cmd::kViewConfiguration});

  AddMenu(menuBar()->addMenu("&Help"), {cmd::kHelpContents, 0, cmd::kAbout});
}

void CMainFrame::CreateToolBars() {
  ioToolBar_ = new QToolBar("I/O Toolbar", this);
  ioToolBar_->setObjectName("IOToolBar");
  for (int id : {cmd::kOpen, cmd::kSave, 0, cmd::kUndo, cmd::kRedo, 0, cmd::kLoadImages,
                 cmd::kSave3DAs, cmd::kSaveToWeb}) {
    if (id == 0) {
      ioToolBar_->addSeparator();
    } else {
      ioToolBar_->addAction(actions_.at(id));
    }
  }
  functionsToolBar_ = new QToolBar("Functions Toolbar", this);
  functionsToolBar_->setObjectName("FunctionsToolBar");
  functionsToolBar_->addAction(actions_.at(cmd::kCalibration));
  functionsToolBar_->addAction(actions_.at(cmd::kCameraParameters));
  for (QToolBar* toolBar : {ioToolBar_, functionsToolBar_}) {
    toolBar->setIconSize(QSize(16, 16));
    toolBar->setAllowedAreas(Qt::AllToolBarAreas);
    // Added one after the other to the top area, the Functions toolbar sits on the I/O
    // toolbar's row, right of it.
    addToolBar(Qt::TopToolBarArea, toolBar);
  }
}

void CMainFrame::CreateStatusBar() {
  promptPane_ = new QLabel(kReady, this);
  statusBar()->addWidget(promptPane_, 1);
  coordinatesPane_ = new QLabel(this);
  coordinatesPane_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  const int margins = 2 * coordinatesPane_->frameWidth() + 2 * coordinatesPane_->margin() + 6;
  coordinatesPane_->setFixedWidth(
      QFontMetrics(coordinatesPane_->font()).horizontalAdvance(kCoordinatesPaneText) + margins);
  statusBar()->addPermanentWidget(coordinatesPane_);
}

void CMainFrame::CreateAccelerators() {
  for (const Accelerator& accelerator : kAccelerators) {
    auto* key = new QAction(this);
    key->setShortcut(QKeySequence(accelerator.key));
    key->setShortcutContext(Qt::WindowShortcut);
    QAction* target = actions_.at(accelerator.id);
    connect(key, &QAction::triggered, target, &QAction::trigger);
    addAction(key);
  }
  // Help on the window that has the keyboard focus.
  auto* help = new QAction(this);
  help->setShortcut(QKeySequence(Qt::Key_F1));
  connect(help, &QAction::triggered, this, &CMainFrame::OnHelpKey);
  addAction(help);
}

QAction* CMainFrame::action(int id) const {
  auto found = actions_.find(id);
  if (found != actions_.end()) return found->second;
  const int recent = id - cmd::kRecentFile1;
  if (recent >= 0 && recent < static_cast<int>(recentFileActions_.size())) {
    return recentFileActions_[static_cast<std::size_t>(recent)];
  }
  return nullptr;
}

void CMainFrame::UpdateCommandStates() {
  const bool modified = app_.document().modified();
  const bool hasObject = !app_.project().objects.empty();
  const model::EditHistory& history = app_.document().history();
  for (const Command& command : kCommands) {
    bool enabled = true;
    if (command.enabling == Enabling::WhileModified) enabled = modified;
    if (command.enabling == Enabling::WhileObjects) enabled = hasObject;
    if (command.enabling == Enabling::WhileUndo) enabled = history.CanUndo();
    if (command.enabling == Enabling::WhileRedo) enabled = history.CanRedo();
    actions_.at(command.id)->setEnabled(enabled);
  }
  SetHistoryText(cmd::kUndo, "&Undo", history.UndoName(), "\tCtrl+Z");
  SetHistoryText(cmd::kRedo, "&Redo", history.RedoName(), "\tCtrl+Shift+Z");
}

void CMainFrame::SetHistoryText(int id, const char* verb, const std::string& step,
                                const char* shortcut) {
  // "&Undo Add Point": an "&" of an object's name in a step's name is shown as it is.
  QString text = QString::fromUtf8(verb);
  if (!step.empty()) text += ' ' + QString::fromStdString(step).replace('&', "&&");
  text += QString::fromUtf8(shortcut);
  QAction* action = actions_.at(id);
  if (action->text() == text) return;
  action->setText(text);
  action->setToolTip(text.left(text.indexOf('\t')).remove('&'));
}

void CMainFrame::UpdateRecentFileMenu() {
  const QStringList& entries = app_.recentFiles().entries();
  for (std::size_t i = 0; i < recentFileActions_.size(); ++i) {
    QAction* recent = recentFileActions_[i];
    const bool listed = static_cast<qsizetype>(i) < entries.size();
    recent->setVisible(listed);
    if (!listed) continue;
    // "&1 path": the number is the access key; an "&" of the path is shown as it is.
    QString shown = entries[static_cast<qsizetype>(i)];
    shown.replace('&', "&&");
    recent->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(shown));
  }
  // With no recent file the File menu shows "Recent File", disabled, as its place holder.
  if (entries.isEmpty()) {
    recentFileActions_.front()->setVisible(true);
    recentFileActions_.front()->setText("Recent File");
    recentFileActions_.front()->setEnabled(false);
  } else {
    recentFileActions_.front()->setEnabled(true);
  }
}

void CMainFrame::ShowStatusText(const QString& text) {
  promptPane_->setText(text.isEmpty() ? QString(kReady) : text);
  // The caller goes on with long work on this thread; the text must be seen before.
  promptPane_->repaint();
}

QString CMainFrame::promptText() const { return promptPane_->text(); }

// Layout tree

void CMainFrame::BuildLayout(const std::string& layout) {
  const std::string text = IsValidLayout(layout) ? layout : std::string(kDefaultLayout);
  if (root_ != nullptr) {
    frames_.clear();
    delete root_;
    root_ = nullptr;
  }
  auto* root = new cSplitView(*this, /*noInflate=*/true, client_);
  root->setObjectName(kRootNodeName);
  SetLayoutRoot(root);
  buildingLayout_ = true;
  root->BuildFromLayout(text, nullptr);
  buildingLayout_ = false;
  Redisplay();
  Initialize3DViews();
}

std::string CMainFrame::LayoutString() const {
  return root_ != nullptr ? root_->ToLayoutString() : std::string(kDefaultLayout);
}

void CMainFrame::SetLayoutRoot(cSplitView* root) {
  if (root_ != nullptr && root_ != root) client_->layout()->removeWidget(root_);
  root_ = root;
  root->setParent(client_);
  client_->layout()->addWidget(root);
  root->show();
}

QWidget* CMainFrame::CreateFrame(char code, QWidget* parent) {
  switch (code) {
    case '2':
      return new views2d::ImgFrame(*this, parent);
    case '3':
      return new views3d::OglFrame(parent);
    case 'O': {
      auto* list = new uiObjectsList(parent);
      connect(list, &uiObjectsList::projectChanged, this,
              [this](const QString& step) { RecordEdit(step.toStdString()); });
      connect(list, &uiObjectsList::statusMessage, this, &CMainFrame::ShowStatusText);
      connect(list, &uiObjectsList::redraw2DRequested, this, &CMainFrame::Redraw2DViews);
      connect(list, &uiObjectsList::redraw3DRequested, this, &CMainFrame::Redraw3DViews);
      return list;
    }
    default:
      return nullptr;
  }
}

void CMainFrame::AppendFrame(QWidget* frame) {
  if (frame == nullptr) return;
  if (auto* photoFrame = qobject_cast<views2d::ImgFrame*>(frame)) {
    photoFrame->SetProject(&app_.project(), -1);
  } else if (auto* modelFrame = qobject_cast<views3d::OglFrame*>(frame)) {
    Initialize3DViews();
    modelFrame->SetProject(&app_.project());
    modelFrame->SetShownPhotos([this] {
      std::set<std::size_t> shown;
      for (const views2d::Img* view : photoViews()) {
        if (view->photoIndex() >= 0) shown.insert(static_cast<std::size_t>(view->photoIndex()));
      }
      return shown;
    });
    // A 3D view added to the layout later shows the model at once instead of staying white
    // until the next project is opened; a whole layout being built initialises its 3D views
    // when it is done.
    if (!buildingLayout_) modelFrame->InitializeView();
  } else if (auto* list = qobject_cast<uiObjectsList*>(frame)) {
    // An object list made in the view-configuration window shows the objects at once; the
    // next Redisplay would be the first to fill it otherwise.
    list->SetProject(&app_.project());
    if (!buildingLayout_) list->Refill();
  }
  frames_.push_back(frame);
  // A frame destroyed with its node leaves the list with it.
  connect(frame, &QObject::destroyed, this, [this](QObject* gone) {
    std::erase_if(frames_, [gone](QWidget* listed) { return listed == gone; });
  });
}

void CMainFrame::RemoveFrame(QWidget* frame) { std::erase(frames_, frame); }

// Broadcasts

void CMainFrame::Redisplay() {
  int photo = 0;
  ForEachFrame<views2d::ImgFrame>(
      frames_, [&](views2d::ImgFrame& frame) { frame.SetProject(&app_.project(), photo++); });
  ForEachFrame<uiObjectsList>(frames_, [&](uiObjectsList& list) {
    list.SetProject(&app_.project());
    list.Refill();
    list.update();
  });
  UpdateCommandStates();
}

void CMainFrame::ShowRestoredProject(bool photosChanged) {
  model::Project& project = app_.project();
  views2d::SharedSelection& selected = selection_;
  // A selection that undo took away would go on naming a position that is not there.
  if (!project.graph.positions.contains(selected.selectedPosition)) {
    selected.selectedPosition = selected.previousPosition = -1;
  }
  if (!project.graph.edges.contains(selected.selectedEdge)) selected.selectedEdge = -1;
  selected.dragging = selected.dragMoved = false;
  // Each photo view keeps its photo. When photos came or went, a view whose photo went, or
  // that had none, shows the photo of its place in the layout, as after Load Images.
  int place = 0;
  ForEachFrame<views2d::ImgFrame>(frames_, [&](views2d::ImgFrame& frame) {
    const int shown = frame.photo();
    const int own = place++;
    if (!photosChanged) return frame.RedrawView();
    const bool kept = shown >= 0 && static_cast<std::size_t>(shown) < project.photos.size();
    frame.SetProject(&project, kept ? shown : own);
  });
  ForEachFrame<uiObjectsList>(frames_, [&](uiObjectsList& list) {
    list.Refill();
    list.update();
  });
  ForEachFrame<views3d::OglFrame>(frames_, [&](views3d::OglFrame& frame) {
    frame.UpdateView(views3d::OglFrame::kUpdateModel |
                     (photosChanged ? views3d::OglFrame::kInitialize : 0));
  });
  UpdateCommandStates();
}

void CMainFrame::Redraw2DViews() {
  ForEachFrame<views2d::ImgFrame>(frames_, [](views2d::ImgFrame& frame) { frame.RedrawView(); });
  // Objects may have come or gone.
  UpdateCommandStates();
}

std::vector<views2d::Img*> CMainFrame::photoViews() const {
  std::vector<views2d::Img*> views;
  ForEachFrame<views2d::ImgFrame>(frames_,
                                  [&](views2d::ImgFrame& frame) { views.push_back(frame.view()); });
  return views;
}

void CMainFrame::RecordEdit(const std::string& name) {
  app_.document().RecordStep(name);
  UpdateCommandStates();
}

void CMainFrame::ShowPrompt(const QString& text) { ShowStatusText(text); }

void CMainFrame::ShowCoordinates(const QString& text) { coordinatesPane_->setText(text); }

void CMainFrame::Refresh3D() {
  ForEachFrame<views3d::OglFrame>(frames_, [](views3d::OglFrame& frame) {
    if (frame.autoRedraw()) frame.UpdateView();
  });
}

void CMainFrame::ShowHelpTopic(const QString& topic) { ShowHelp(topic); }

void CMainFrame::Initialize3DViews() {
  ForEachFrame<views3d::OglFrame>(frames_,
                                  [](views3d::OglFrame& frame) { frame.InitializeView(); });
}

void CMainFrame::Redraw3DViews() {
  ForEachFrame<views3d::OglFrame>(frames_, [](views3d::OglFrame& frame) { frame.RedrawView(); });
}

void CMainFrame::Update3DViews() {
  ForEachFrame<views3d::OglFrame>(frames_, [](views3d::OglFrame& frame) { frame.UpdateView(); });
}

bool CMainFrame::calibrationRunning() const {
  return calibration_ != nullptr && calibration_->running();
}

namespace {

// Keeps the photo frames from painting while a calibration run changes the cameras and
// positions they paint from; they show their last picture until the run has ended.
class PaintingHeld {
 public:
  explicit PaintingHeld(const std::vector<QWidget*>& frames) {
    ForEachFrame<views2d::ImgFrame>(frames, [this](views2d::ImgFrame& frame) {
      frame.setUpdatesEnabled(false);
      held_.push_back(&frame);
    });
  }
  ~PaintingHeld() {
    for (const QPointer<QWidget>& frame : held_) {
      if (frame != nullptr) frame->setUpdatesEnabled(true);
    }
  }
  PaintingHeld(const PaintingHeld&) = delete;
  PaintingHeld& operator=(const PaintingHeld&) = delete;

 private:
  std::vector<QPointer<QWidget>> held_;
};

}  // namespace

namespace {

// Runs `work` with the busy cursor and the frames' painting held; a failure becomes a message
// in front of `dialog` naming what stopped, and the result stays as `work` left it.
template <typename Work>
void RunWithMessages(ModrinApplication& app, QWidget* dialog, const QString& what, Work work) {
  app.SetBusy(true);
  try {
    work();
  } catch (const std::bad_alloc&) {
    app.SetBusy(false);
    app.dialogs().ShowError(dialog, "The " + what + " ran out of memory; it was stopped.");
    return;
  } catch (const std::exception& error) {
    app.SetBusy(false);
    app.dialogs().ShowError(dialog, "The " + what + " stopped: " + error.what());
    return;
  }
  app.SetBusy(false);
}

}  // namespace

BackgroundCalibrationResult CMainFrame::RunCalibration(model::Project& project,
                                                       const engine::CalibrationRunOptions& options,
                                                       QWidget* dialog) {
  BackgroundCalibrationResult result;
  PaintingHeld held(frames_);
  RunWithMessages(app_, dialog, "calibration", [&] {
    result = calibration_->Run(project, options, {this, dialog});
  });
  return result;
}

engine::RefineResult CMainFrame::RunRefinement(const model::Project& project,
                                               const engine::RefineOptions& options,
                                               QWidget* dialog) {
  engine::RefineResult result;
  PaintingHeld held(frames_);
  RunWithMessages(app_, dialog, "refinement", [&] {
    result = calibration_->Refine(project, options, {this, dialog});
  });
  return result;
}

// Command handlers

void CMainFrame::OnOpen() { app_.Open(); }
void CMainFrame::OnSave() { app_.Save(); }
void CMainFrame::OnSaveAs() { app_.SaveAs(); }
void CMainFrame::OnLoadImages() { app_.LoadImages(); }
void CMainFrame::OnExit() { close(); }
void CMainFrame::OnUndo() { app_.document().Undo(); }
void CMainFrame::OnRedo() { app_.document().Redo(); }

void CMainFrame::OnSave3DAs() { app_.Save3DAs(); }
void CMainFrame::OnSaveToWeb() { app_.ShowWebExportDialog(); }

void CMainFrame::OnPhotoParameters() {
  views2d::PhotoParametersDialog dialog(app_.project(), ShowHelp, this);
  if (dialog.exec() != QDialog::Accepted || dialog.changedPhotos() == 0) return;
  // The photos' focal lengths are part of the project file, and the positions' coordinates
  // are no longer known: the photo views draw them so, and the 3D views follow.
  RecordEdit("Photo Parameters");
  Redraw2DViews();
  Refresh3D();
}

void CMainFrame::OnCameraParameters() {
  // The dialog edits the camera database, which is saved on its own when the program ends.
  views2d::CameraParametersDialog dialog(app_.project(), ShowHelp, this);
  dialog.exec();
  // Undo gives the database back; it still does not make the project modified by itself.
  const bool modified = app_.document().modified();
  if (app_.document().RecordStep("Camera Parameters")) app_.document().SetModified(modified);
  UpdateCommandStates();
}

void CMainFrame::OnCalibration() {
  if (calibrationRunning()) return;
  CalibrationDialog dialog(app_.project(), *this, this);
  const bool kept = dialog.exec() == QDialog::Accepted;
  if (kept) {
    // Without a 3D frame nothing else computes the coordinates OK dropped.
    bool any3DFrame = false;
    ForEachFrame<views3d::OglFrame>(frames_, [&](views3d::OglFrame&) { any3DFrame = true; });
    if (!any3DFrame) app_.project().graph.ComputeAll();
    // The poses and calibration states are part of the project file.
    if (dialog.CamerasChanged()) RecordEdit("Calibration");
  }
  // Calibrated photos show their positions differently, and a run (also one cancelled
  // afterwards) may have computed coordinates.
  Redraw2DViews();
}

void CMainFrame::OnToggleStatusBar() {
  statusBar()->setVisible(!statusBar()->isVisible());
  actions_.at(cmd::kToggleStatusBar)->setChecked(statusBar()->isVisible());
}

void CMainFrame::OnToggleIOToolBar() {
  ioToolBar_->setVisible(!ioToolBar_->isVisible());
  actions_.at(cmd::kToggleIOToolbar)->setChecked(ioToolBar_->isVisible());
}

void CMainFrame::OnToggleFunctionsToolBar() {
  const bool show = functionsToolBar_->isHidden();
  functionsToolBar_->setVisible(show);
  actions_.at(cmd::kToggleFunctionsToolbar)->setChecked(show);
}

void CMainFrame::OnToggle2DToolBars() {
  ToggleFrameToolBars<views2d::ImgFrame>(frames_, *actions_.at(cmd::kToggle2DToolbars));
}

void CMainFrame::OnToggle3DToolBars() {
  ToggleFrameToolBars<views3d::OglFrame>(frames_, *actions_.at(cmd::kToggle3DToolbars));
}

void CMainFrame::OnViewConfiguration() {
  if (root_ == nullptr) return;
  ViewConfigWindow window(*this, this);
  window.Exec();
}

// Only the markers change: the 3D views redraw from the meshes as they are, without a model
// update.
void CMainFrame::ShownPhotosChanged() {
  if (!buildingLayout_) Redraw3DViews();
}

model::StepAdvice CMainFrame::NextStepAdvice(const model::Project& project, int photo) const {
  model::StepAdvice advice = project.NextStepAdvice(photo);
  // Too few control points the advice counts itself.
  if (advice.step != 3 || photo < 0 || static_cast<std::size_t>(photo) >= project.photos.size() ||
      project.photos[static_cast<std::size_t>(photo)]->camera.calibrated ||
      project.CalibrationPositions(photo, true).size() < engine::kMinControlPoints) {
    return advice;
  }
  // "Run the calibration process" would be no help where the run refuses the photo, as for
  // three known points that fit several poses.
  const engine::CalibrationReadiness readiness =
      engine::CheckCalibrationReadiness(project, static_cast<std::size_t>(photo));
  if (!readiness.ready()) {
    advice.text = "Image not calibrated: " + engine::ReadinessText(readiness);
  }
  return advice;
}

void CMainFrame::OnHelpContents() { ShowHelp("Modrin.html"); }

void CMainFrame::OnHelpKey() {
  // A photo view advises the next step of the work and opens its page.
  if (auto* frame = EnclosingFrame<views2d::ImgFrame>(QApplication::focusWidget())) {
    frame->view()->HelpRequest();
    return;
  }
  ShowHelp(HelpPageFor(QApplication::focusWidget()));
}

void CMainFrame::OnAbout() { app_.dialogs().ShowAbout(this); }

void CMainFrame::OnWireframeKey() {
  if (auto* frame = EnclosingFrame<views3d::OglFrame>(QApplication::focusWidget())) {
    frame->ToggleWireframe();
  }
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  // The project is in use by the calibration until its run ends.
  if (calibrationRunning()) {
    event->ignore();
    return;
  }
  if (app_.SaveAllModified()) {
    event->accept();
  } else {
    event->ignore();
  }
}

}  // namespace modrin::app
