#include "app/main_frame.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <clocale>
#include <memory>

#include "app/commands.h"
#include "app/help_window.h"
#include "app/layout_string.h"
#include "app/modrin_application.h"
#include "app/objects_list.h"
#include "app/testing/file_bytes.h"
#include "app/testing/scripted_dialogs.h"
#include "app/user_dialogs.h"
#include "app/view_config_window.h"
#include "model/project_file.h"
#include "views2d/img.h"
#include "views2d/img_frame.h"
#include "views2d/photo_parameters_dialog.h"
#include "views3d/ogl_frame.h"

using modrin::app::CMainFrame;
using modrin::app::ModrinApplication;
using modrin::app::UserDialogs;
using modrin::app::ViewConfigWindow;
using modrin::app::testing::ReadAll;
using modrin::app::testing::ScriptedDialogs;
using modrin::app::testing::WriteAll;
namespace command = modrin::app::command;

namespace {

// A project file with a position of real coordinates and, when `objects`, one object.
QByteArray ProjectText(bool objects) {
  modrin::model::Project project;
  std::int32_t id = 0;
  project.graph.NewPosition(id);
  project.graph.SetRealCoords(id, {1.25, -2.5, 3.125});
  if (objects) project.AddObject("House");
  return QByteArray::fromStdString(modrin::model::WriteProjectText(project));
}

// The first frame of type `Frame` in the frame list; nullptr if there is none.
template <typename Frame>
Frame* FirstFrame(const CMainFrame& frame) {
  for (QWidget* w : frame.frames()) {
    if (auto* found = qobject_cast<Frame*>(w)) return found;
  }
  return nullptr;
}

}  // namespace

class MainFrameTest : public QObject {
  Q_OBJECT

 private:
  // Starts the program with `projectPath` (empty: none).
  void StartApp(const QString& projectPath = {}) {
    auto dialogs = std::make_unique<ScriptedDialogs>();
    dialogs_ = dialogs.get();
    app_ = std::make_unique<ModrinApplication>(std::move(dialogs));
    app_->Start(projectPath);
  }
  QString Path(const QString& name) const { return dir_->filePath(name); }

  std::unique_ptr<QTemporaryDir> dir_;
  ScriptedDialogs* dialogs_ = nullptr;
  std::unique_ptr<ModrinApplication> app_;

 private slots:
  void init() {
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Modrin", "Modrin").clear();
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
  }
  void cleanup() {
    app_.reset();
    dir_.reset();
  }

  void startsWithoutProjectAndSaveDisabled() {
    StartApp();
    CMainFrame& frame = app_->mainFrame();
    QVERIFY(frame.isVisible());
    QCOMPARE(frame.windowTitle(), QString("Modrin"));
    QVERIFY(!frame.action(command::kSave)->isEnabled());
    QVERIFY(!app_->document().modified());
    QVERIFY(app_->document().projectPath().empty());
    QCOMPARE(frame.promptText(), QString("Ready"));
  }

  void startsWithProjectArgumentModified() {
    WriteAll(Path("a.mpj"), ProjectText(true));
    StartApp(Path("a.mpj"));
    QVERIFY(app_->document().modified());
    QVERIFY(app_->mainFrame().action(command::kSave)->isEnabled());
    QCOMPARE(app_->project().objects.size(), std::size_t{1});
    QCOMPARE(app_->recentFiles().entries(), QStringList{Path("a.mpj")});
  }

  void refusedArgumentLeavesNoPathToWriteOver() {
    // A file refused for the meshes it would need; the next Save must not replace it.
    QByteArray refused = "Modrin file version 3.00\n";
    for (int i = 0; i < 1001; ++i) refused += "Image: \"p\"\n";
    refused += "Positions:\nEdges:\n";
    for (int i = 0; i < 1000; ++i) refused += "Object: \"o\"\n";
    WriteAll(Path("x.mpj"), refused);
    StartApp(Path("x.mpj"));
    QCOMPARE(dialogs_->errors.size(), 1);
    QVERIFY(app_->document().modified());
    QVERIFY(app_->project().photos.empty());
    dialogs_->saveName.clear();
    app_->Save();
    QCOMPARE(dialogs_->saveDialogs, 1);
    QCOMPARE(ReadAll(Path("x.mpj")), refused);
  }

  void enablingFollowsObjects() {
    StartApp();
    CMainFrame& frame = app_->mainFrame();
    const auto exportsEnabled = [&] {
      return QList<bool>{frame.action(command::kSave3DAs)->isEnabled(),
                         frame.action(command::kSaveToWeb)->isEnabled()};
    };
    // The object list of the default layout adds "Object" on its first refill.
    app_->project().objects.clear();
    frame.UpdateCommandStates();
    QCOMPARE(exportsEnabled(), (QList<bool>{false, false}));
    app_->project().AddObject("Object");
    frame.UpdateCommandStates();
    QCOMPARE(exportsEnabled(), (QList<bool>{true, true}));
    app_->project().RemoveObject("Object");
    // Idle time re-evaluates the rules without being asked: an event loop that waits once.
    QEventLoop loop;
    QTimer::singleShot(20, &loop, &QEventLoop::quit);
    loop.exec();
    QCOMPARE(exportsEnabled(), (QList<bool>{false, false}));
    // Every other command is always enabled.
    QVERIFY(frame.action(command::kOpen)->isEnabled());
    QVERIFY(frame.action(command::kCalibration)->isEnabled());
  }

  void menusHoldCommandsInOrder() {
    StartApp();
    CMainFrame& frame = app_->mainFrame();
    QStringList titles;
    for (QAction* menu : frame.menuBar()->actions()) titles << menu->text();
    QCOMPARE(titles, (QStringList{"&File", "&Edit", "&Tools", "&Windows", "&Help"}));

    // Each entry as "id text", separators as "-".
    auto entries = [](QMenu* menu) {
      QStringList out;
      for (QAction* a : menu->actions()) {
        if (a->isSeparator()) {
          out << "-";
        } else if (a->menu() != nullptr) {
          out << "popup " + a->text();
        } else if (a->isVisible()) {
          out << QString::number(a->data().toInt()) + " " + a->text();
        }
      }
      return out;
    };
    const QList<QAction*> menus = frame.menuBar()->actions();
    QCOMPARE(entries(menus[0]->menu()),
             (QStringList{"57601 &Open...\tCtrl+O", "57603 &Save\tCtrl+S", "57604 Save &As...", "-",
                          "57605 &Load  Images...", "57606 Save 3&D As...\tCtrl+Shift+D",
                          "32871 Save to &Web...", "-", "57616 Recent File", "-", "57665 E&xit"}));
    QCOMPARE(entries(menus[1]->menu()),
             (QStringList{"57643 &Undo\tCtrl+Z", "57644 &Redo\tCtrl+Shift+Z"}));
    QCOMPARE(entries(menus[2]->menu()),
             (QStringList{"32846 &Photo parameters...", "32889 Ca&mera parameters...",
                          "57607 C&alibration..."}));
    QCOMPARE(entries(menus[3]->menu()), (QStringList{"59393 &Status Bar", "popup &Toolbars", "-",
                                                     "32893 &View configuration"}));
    QMenu* toolbars = menus[3]->menu()->actions()[1]->menu();
    QCOMPARE(entries(toolbars), (QStringList{"59392 &I/O", "32812 &Features",
                                             "32843 2D-views settings", "32842 3D view settings"}));
    QCOMPARE(entries(menus[4]->menu()),
             (QStringList{"32844 &Contents...", "-", "57664 &About Modrin..."}));

    // Prompt in the status bar, tooltip on the button.
    QCOMPARE(frame.action(command::kSave3DAs)->statusTip(), QString("Save 3D model as"));
    QCOMPARE(frame.action(command::kSave3DAs)->toolTip(), QString("Save 3D as"));
    QCOMPARE(frame.action(command::kViewConfiguration)->statusTip(),
             QString("Change view  configuration"));

    // The toolbars, on one row at the top, Functions right of I/O.
    QCOMPARE(frame.ioToolBar()->windowTitle(), QString("I/O Toolbar"));
    QCOMPARE(frame.functionsToolBar()->windowTitle(), QString("Functions Toolbar"));
    QCOMPARE(frame.toolBarArea(frame.functionsToolBar()), Qt::TopToolBarArea);
    QVERIFY(!frame.toolBarBreak(frame.functionsToolBar()));
    QCOMPARE(frame.functionsToolBar()->geometry().top(), frame.ioToolBar()->geometry().top());
    QVERIFY(frame.functionsToolBar()->geometry().left() > frame.ioToolBar()->geometry().right());
    QStringList ioButtons;
    for (QAction* a : frame.ioToolBar()->actions()) {
      ioButtons << (a->isSeparator() ? "-" : QString::number(a->data().toInt()));
    }
    QCOMPARE(ioButtons, (QStringList{"57601", "57603", "-", "57643", "57644", "-", "57605", "57606",
                                     "32871"}));

    // The coordinates pane holds the pointer's text whole: photo, pixel and 3D point.
    const QFontMetrics metrics(frame.coordinatesPane()->font());
    QVERIFY(frame.coordinatesPane()->width() >=
            metrics.horizontalAdvance("DSC_20261208_1234.jpg  x 6000  y 4000   -1234.567,  "
                                      "-123.456,    12.345"));
  }

  void acceleratorsAndUnboundKeys() {
    StartApp();
    CMainFrame& frame = app_->mainFrame();
    frame.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&frame));
    app_->document().SetModified(true);
    dialogs_->saveName = Path("keys.mpj");
    QTest::keyClick(&frame, Qt::Key_S, Qt::ControlModifier);
    QVERIFY(QFile::exists(Path("keys.mpj")));
    QVERIFY(!app_->document().modified());

    // Save 3D As shows Ctrl+Shift+D but has no key; unbound keys are taken and do nothing.
    QSignalSpy save3D(frame.action(command::kSave3DAs), &QAction::triggered);
    QTest::keyClick(&frame, Qt::Key_D, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(&frame, Qt::Key_N, Qt::ControlModifier);
    QTest::keyClick(&frame, Qt::Key_F6);
    QCOMPARE(save3D.count(), 0);
    QCOMPARE(dialogs_->openDialogs, 0);

    QTest::keyClick(&frame, Qt::Key_O, Qt::ControlModifier);
    QCOMPARE(dialogs_->openDialogs, 1);
  }

  // Each Windows > Toolbars item: its check mark, and whether its bars are shown, at start and
  // after each of two uses.
  void toolbarItemsFollowTheirBars() {
    const struct {
      const char* name;
      const char* layout;  // empty: the default one
      int id;
      const char* marks;  // 'x' checked or shown, '-' not; `shown` empty: the layout has none
      const char* shown;
    } items[] = {
        // The Features item starts unchecked although its toolbar is shown; its first use hides
        // it.
        {"Features", "", command::kToggleFunctionsToolbar, "--x", "x-x"},
        {"I/O", "", command::kToggleIOToolbar, "x-x", "x-x"},
        // The frames' toolbars: the item follows the last frame handled.
        {"2D-views settings", "", command::kToggle2DToolbars, "--x", "x-x"},
        {"3D view settings", "", command::kToggle3DToolbars, "--x", "x-x"},
        // Without a frame of its kind an item keeps its mark.
        {"2D-views settings, no 2D frame", "(H,50,3,O)", command::kToggle2DToolbars, "---", ""},
        {"3D view settings, no 3D frame", "(H,50,2,O)", command::kToggle3DToolbars, "---", ""},
    };
    for (const auto& c : items) {
      app_.reset();
      StartApp();
      CMainFrame& frame = app_->mainFrame();
      if (*c.layout) frame.BuildLayout(c.layout);
      QList<QToolBar*> bars;
      if (c.id == command::kToggleIOToolbar) bars << frame.ioToolBar();
      if (c.id == command::kToggleFunctionsToolbar) bars << frame.functionsToolBar();
      for (QWidget* w : frame.frames()) {
        auto* photoFrame = qobject_cast<modrin::views2d::ImgFrame*>(w);
        auto* modelFrame = qobject_cast<modrin::views3d::OglFrame*>(w);
        if (photoFrame && c.id == command::kToggle2DToolbars) bars << photoFrame->toolBar();
        if (modelFrame && c.id == command::kToggle3DToolbars) bars << modelFrame->toolBar();
      }
      QVERIFY2(bars.isEmpty() == !*c.shown, c.name);
      QAction* item = frame.action(c.id);
      for (int use = 0; use < 3; ++use) {
        if (use > 0) item->trigger();
        const QString where = QString("%1, use %2").arg(c.name).arg(use);
        QVERIFY2(item->isChecked() == (c.marks[use] == 'x'), qPrintable(where));
        for (QToolBar* bar : bars) {
          QVERIFY2(bar->isVisible() == (c.shown[use] == 'x'), qPrintable(where));
        }
      }
    }
  }

  void helpKeyOpensThePageOfTheFocusedView() {
    StartApp();
    CMainFrame& frame = app_->mainFrame();
    QCOMPARE(modrin::app::HelpPageFor(&frame), QString("Modrin.html"));
    QCOMPARE(modrin::app::HelpPageFor(nullptr), QString("Modrin.html"));
    QStringList pages;
    for (QWidget* w : frame.frames()) {
      // A widget inside the frame, as the keyboard focus would be.
      QWidget* inner = w->findChild<QWidget*>();
      pages << modrin::app::HelpPageFor(inner != nullptr ? inner : w);
    }
    QCOMPARE(pages, (QStringList{"ObjectList.html", "2Dviews.html", "2Dviews.html", "2Dviews.html",
                                 "3Dview.html"}));

    // F1 with the focus in the object list's tree opens its page in the help window.
    frame.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&frame));
    auto* list = qobject_cast<modrin::app::uiObjectsList*>(frame.frames().front());
    list->tree()->setFocus();
    QTest::keyClick(list->tree(), Qt::Key_F1);
    modrin::app::HelpWindow* help = modrin::app::OpenHelpWindow();
    QVERIFY(help != nullptr);
    QCOMPARE(help->source().fileName(), QString("ObjectList.html"));
    delete help;
  }

  // Closing the window with unsaved changes asks to save them first; the answer decides what
  // is written and whether the program ends. The layout is stored at every attempt.
  void closingAsksToSaveTheChanges() {
    using Answer = UserDialogs::Answer;
    const struct {
      const char* name;
      bool opened;  // started on a.mpj, which a No or Cancel must leave as it is
      Answer answer;
      const char* saveName;  // the save dialog's answer; empty: cancelled
      bool ends;
      int saveDialogs;
      const char* error;  // named in the one error shown; nullptr: none
    } cases[] = {
        {"No", true, Answer::No, "", true, 0, nullptr},
        {"Yes", false, Answer::Yes, "new.mpj", true, 1, nullptr},
        {"Cancel", true, Answer::Cancel, "", false, 0, nullptr},
        {"Yes, save dialog cancelled", false, Answer::Yes, "", false, 1, nullptr},
        {"Yes, save failed", false, Answer::Yes, "no-such-folder/x.mpj", false, 1, "x.mpj"},
    };
    WriteAll(Path("a.mpj"), ProjectText(false));
    const QByteArray before = ReadAll(Path("a.mpj"));
    for (const auto& c : cases) {
      app_.reset();
      QSettings(QSettings::NativeFormat, QSettings::UserScope, "Modrin", "Modrin").clear();
      StartApp(c.opened ? Path("a.mpj") : QString());
      app_->project().AddObject("Saved");
      app_->document().SetModified(true);
      dialogs_->answer = c.answer;
      dialogs_->saveName = *c.saveName ? Path(c.saveName) : QString();
      CMainFrame& frame = app_->mainFrame();
      QVERIFY2(frame.close() == c.ends && frame.isVisible() != c.ends, c.name);
      QVERIFY2(dialogs_->questions == 1 && dialogs_->saveDialogs == c.saveDialogs, c.name);
      QVERIFY2(dialogs_->errors.size() == (c.error != nullptr ? 1 : 0), c.name);
      if (c.error != nullptr) QVERIFY2(dialogs_->errors.front().contains(c.error), c.name);
      if (c.opened) QVERIFY2(ReadAll(Path("a.mpj")) == before, c.name);
      if (c.ends && *c.saveName) QVERIFY2(ReadAll(Path(c.saveName)).contains("Saved"), c.name);
      const QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Modrin", "Modrin");
      const std::string stored = settings.value("Views/Config").toString().toStdString();
      QVERIFY2(modrin::app::IsValidLayout(stored) && stored == frame.LayoutString(), c.name);
      if (c.ends) continue;
      // Kept open: the project as it was, and No lets the program end after all.
      QVERIFY2(app_->document().modified(), c.name);
      QVERIFY2(app_->project().objects.back()->name == "Saved", c.name);
      dialogs_->answer = Answer::No;
      QVERIFY2(frame.close(), c.name);
    }
  }

  void invalidStoredLayoutGivesDefault() {
    {
      QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Modrin", "Modrin");
      settings.setValue("Views/Config", "(H,50,2");
    }
    StartApp();
    QString kinds;
    for (QWidget* w : app_->mainFrame().frames()) kinds += modrin::app::FrameCode(w);
    QCOMPARE(kinds, QString("O2223"));
  }

  void openWithUnsavedChangesAsksFirst() {
    WriteAll(Path("other.mpj"), ProjectText(true));
    StartApp();
    app_->project().AddObject("Unsaved");
    app_->document().SetModified(true);
    dialogs_->openName = Path("other.mpj");

    dialogs_->answer = UserDialogs::Answer::Cancel;
    app_->mainFrame().action(command::kOpen)->trigger();
    QCOMPARE(dialogs_->openDialogs, 0);
    QVERIFY(app_->document().modified());
    QCOMPARE(app_->project().objects.back()->name, std::string("Unsaved"));

    dialogs_->answer = UserDialogs::Answer::No;
    app_->mainFrame().action(command::kOpen)->trigger();
    QCOMPARE(dialogs_->openDialogs, 1);
    QCOMPARE(app_->project().objects.front()->name, std::string("House"));
    QCOMPARE(QString::fromStdString(app_->document().projectPath()), Path("other.mpj"));
  }

  void recentFilesOrderLimitAndVanished() {
    StartApp();
    for (const char* name : {"1.mpj", "2.mpj", "3.mpj", "4.mpj", "5.mpj"}) {
      WriteAll(Path(name), ProjectText(false));
      dialogs_->openName = Path(name);
      app_->Open();
    }
    CMainFrame& frame = app_->mainFrame();
    QStringList shown;
    for (int i = 0; i < 4; ++i) shown << frame.action(command::kRecentFile1 + i)->text();
    QCOMPARE(shown, (QStringList{"&1 " + Path("5.mpj"), "&2 " + Path("4.mpj"),
                                 "&3 " + Path("3.mpj"), "&4 " + Path("2.mpj")}));

    // Opening an entry moves it to the top.
    frame.action(command::kRecentFile1 + 2)->trigger();
    QCOMPARE(QString::fromStdString(app_->document().projectPath()), Path("3.mpj"));
    QCOMPARE(app_->recentFiles().entries().front(), Path("3.mpj"));

    // A vanished file: nothing opens, the project stays, the entry leaves the list.
    QFile::remove(Path("2.mpj"));
    frame.action(command::kRecentFile1 + 3)->trigger();
    QCOMPARE(QString::fromStdString(app_->document().projectPath()), Path("3.mpj"));
    QCOMPARE(dialogs_->errors.size(), 1);
    QVERIFY(!app_->recentFiles().entries().contains(Path("2.mpj")));
    QVERIFY(!frame.action(command::kRecentFile1 + 3)->isVisible());

    // The list survives a restart.
    app_.reset();
    StartApp();
    QCOMPARE(app_->recentFiles().entries().size(), 3);
    QCOMPARE(app_->recentFiles().entries().front(), Path("3.mpj"));
  }

  void photoParametersSetTheFocalOfPhotosWithout() {
    StartApp();
    modrin::model::Project& project = app_->project();
    project.AddPhoto().camera.focal = 0.05;
    project.AddPhoto();
    app_->document().SetModified(false);
    QTimer::singleShot(0, [] {
      QWidget* dialog = QApplication::activeModalWidget();
      QVERIFY(dialog != nullptr);
      auto* focal = dialog->findChild<QLineEdit*>(
          QString::number(modrin::views2d::PhotoParametersDialog::kFocalId));
      QVERIFY(focal != nullptr);
      focal->selectAll();
      QTest::keyClicks(focal, "35");
      QTest::keyClick(focal, Qt::Key_Return);
    });
    app_->mainFrame().action(command::kPhotoParameters)->trigger();
    QCOMPARE(project.photos[0]->camera.focal, 0.05);
    QCOMPARE(project.photos[1]->camera.focal, 0.035);
    QVERIFY(app_->document().modified());
  }

  void save3DWritesByExtensionAndReportsFailures() {
    WriteAll(Path("a.mpj"), ProjectText(true));
    StartApp(Path("a.mpj"));
    // Saved first, so that a flag set by saving the model shows.
    app_->Save();
    QVERIFY(!app_->document().modified());
    QAction* save3D = app_->mainFrame().action(command::kSave3DAs);
    QVERIFY(save3D->isEnabled());

    // Cancelled: nothing is written.
    dialogs_->modelName.clear();
    save3D->trigger();
    QCOMPARE(dialogs_->modelDialogs, 1);
    QCOMPARE(dialogs_->modelFolder, dir_->path());
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files), QStringList{"a.mpj"});

    // The extension chooses the format; OBJ brings its material library. A refused extension
    // and a folder that does not exist or that nobody may write in, not even the superuser,
    // are reported, naming the file.
    const struct {
      QString name;
      const char* startsWith;  // the file written; nullptr: nothing is, and an error is shown
      QString named;           // in the error
    } saves[] = {
        {Path("house.obj"), "mtllib house.mtl", {}},
        {Path("house.wrl"), "#VRML V2.0", {}},
        {Path("house.stl"), nullptr, "house.stl"},
        {Path("missing/house.obj"), nullptr, Path("missing/house")},
        {"/proc/house.wrl", nullptr, "/proc/house"},
    };
    for (const auto& save : saves) {
      const qsizetype errors = dialogs_->errors.size();
      dialogs_->modelName = save.name;
      save3D->trigger();
      const QString shown = save.name + ": " + dialogs_->errors.join('|');
      if (save.startsWith != nullptr) {
        QVERIFY2(ReadAll(save.name).startsWith(save.startsWith), qPrintable(shown));
        QVERIFY2(dialogs_->errors.size() == errors, qPrintable(shown));
      } else {
        QVERIFY2(dialogs_->errors.size() == errors + 1, qPrintable(shown));
        QVERIFY2(dialogs_->errors.last().contains(save.named), qPrintable(shown));
        QVERIFY2(!QFile::exists(save.name), qPrintable(shown));
      }
    }
    QVERIFY(QFile::exists(Path("house.mtl")));
    // Saving the model changes nothing in the project.
    QVERIFY(!app_->document().modified());

    // The dialog's name field starts as the pattern; confirming it chooses no file.
    QCOMPARE(modrin::app::ModelFileChoice("/home/user/*.x"), QString());
    QCOMPARE(modrin::app::ModelFileChoice("/home/user/m.x"), QString("/home/user/m.x"));
  }

  void save3DDialogOffersTheFiveTypes() {
    const std::unique_ptr<QFileDialog> dialog =
        modrin::app::MakeModelFileDialog(nullptr, dir_->path());
    QCOMPARE(dialog->windowTitle(), QString("Save 3d-model file"));
    const QStringList types{"Microsoft DirectX files (*.x)", "VRML files (*.wrl)",
                            "Alias Wafefront OBJ files (*.obj)", "glTF 2.0 files (*.gltf)",
                            "glTF binary files (*.glb)"};
    QCOMPARE(dialog->nameFilters(), types);
    QCOMPARE(dialog->selectedNameFilter(), types.front());
    QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
    QVERIFY(!dialog->testOption(QFileDialog::DontConfirmOverwrite));
    QCOMPARE(dialog->directory().absolutePath(), QDir(dir_->path()).absolutePath());
    // A name without extension gets the one of the type chosen.
    QCOMPARE(dialog->defaultSuffix(), QString("x"));
    emit dialog->filterSelected(types[2]);
    QCOMPARE(dialog->defaultSuffix(), QString("obj"));
    emit dialog->filterSelected(types[4]);
    QCOMPARE(dialog->defaultSuffix(), QString("glb"));
    // The name field starts as the pattern of the first type.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    auto* field = dialog->findChild<QLineEdit*>("fileNameEdit");
    QVERIFY(field != nullptr);
    QCOMPARE(field->text(), QString("*.x"));
  }

  void helpKeyInAPhotoViewAdvisesTheNextStep() {
    StartApp();
    CMainFrame& frame = app_->mainFrame();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    auto* photoFrame = FirstFrame<modrin::views2d::ImgFrame>(frame);
    QVERIFY(photoFrame != nullptr);
    // Without a window manager the window is active only once the server says so.
    frame.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&frame));
    photoFrame->view()->setFocus();
    QTRY_VERIFY(photoFrame->view()->hasFocus());
    QTest::keyClick(photoFrame->view(), Qt::Key_F1);
    QCOMPARE(frame.promptText(), QString("No Image. First add images to the project"));
    QVERIFY(modrin::app::OpenHelpWindow() != nullptr);
    QCOMPARE(modrin::app::OpenHelpWindow()->source().fileName(), QString("GettingStarted.html"));
    QCOMPARE(modrin::app::OpenHelpWindow()->source().fragment(), QString("ModelingStep"));
  }

  // Where the run would not try a photo although it has enough control points, the advice says
  // why instead of sending the user to the calibration.
  void helpAdviceSaysWhyAPhotoCannotBeCalibrated() {
    StartApp();
    // A photo without its picture, with `real` control points marked.
    auto advise = [this](int real) {
      modrin::model::Project project;
      project.AddObject("Object").current = true;
      project.AddPhoto().path = "/nowhere/p.jpg";
      for (int i = 0; i < real; ++i) {
        const std::int32_t id = project.AddImagePoint(0, {10 + 40 * i, 10 + 30 * (i % 2)});
        project.graph.SetRealCoords(id, {static_cast<double>(i), static_cast<double>(i % 2), 0});
      }
      return app_->mainFrame().NextStepAdvice(project, 0);
    };
    const modrin::model::StepAdvice advice = advise(4);
    QCOMPARE(advice.step, 3);
    QCOMPARE(QString::fromStdString(advice.text), QString("Image not calibrated: no picture"));
    QCOMPARE(QString::fromStdString(advice.helpTopic),
             QString("GettingStarted.html#CalibrationStep"));
    // Too few control points: the project's own count.
    QCOMPARE(QString::fromStdString(advise(2).text),
             QString("2 of at least 3 points with real coordinates are marked in this photo"));
  }

  void a3DViewAddedToTheLayoutIsInitialised() {
    StartApp();
    CMainFrame& frame = app_->mainFrame();
    QWidget* added = frame.CreateFrame('3', &frame);
    frame.AppendFrame(added);
    auto* model = qobject_cast<modrin::views3d::OglFrame*>(added);
    QVERIFY(model != nullptr);
    QCOMPARE(model->project(), &app_->project());
    QCOMPARE(model->initializeCount(), 1);
    QCOMPARE(frame.frames().back(), added);
    delete added;
  }

  void anObjectListMadeInTheLayoutShowsTheObjects() {
    WriteAll(Path("a.mpj"), ProjectText(true));
    StartApp(Path("a.mpj"));
    CMainFrame& frame = app_->mainFrame();
    frame.BuildLayout("(H,50,2,3)");
    // In the view-configuration window: the photo frame becomes the object list.
    QTimer::singleShot(0, &frame, [&frame] {
      auto* window = frame.findChild<ViewConfigWindow*>();
      if (window == nullptr) return;
      QTest::keyClick(window, Qt::Key_PageDown);
      window->RunCommand(ViewConfigWindow::kToObjectList);
      QTest::keyClick(window, Qt::Key_Escape);
    });
    frame.action(command::kViewConfiguration)->trigger();
    auto* list = qobject_cast<modrin::app::uiObjectsList*>(frame.frames().back());
    QVERIFY(list != nullptr);
    QCOMPARE(list->project(), &app_->project());
    QVERIFY(list->rootItem() != nullptr);
    QCOMPARE(list->rootItem()->childCount(), 1);
    QCOMPARE(list->rootItem()->child(0)->text(0), QString("House"));
  }

  void loadImagesCancelledStillModifiedAndRefreshes() {
    StartApp();
    CMainFrame& frame = app_->mainFrame();
    auto* model = FirstFrame<modrin::views3d::OglFrame>(frame);
    QVERIFY(model != nullptr);
    const int initializedBefore = model->initializeCount();
    dialogs_->images.clear();
    frame.action(command::kLoadImages)->trigger();
    QCOMPARE(dialogs_->imageDialogs, 1);
    QVERIFY(app_->document().modified());
    QVERIFY(frame.action(command::kSave)->isEnabled());
    QVERIFY(model->initializeCount() > initializedBefore);
    QCOMPARE(frame.promptText(), QString("Ready"));

    // A file that is no picture stays a photo without an image; the photo frame is given it.
    WriteAll(Path("broken.jpg"), "not a picture");
    dialogs_->images = QStringList{Path("broken.jpg")};
    frame.action(command::kLoadImages)->trigger();
    QCOMPARE(app_->project().photos.size(), std::size_t{1});
    QCOMPARE(FirstFrame<modrin::views2d::ImgFrame>(frame)->photo(), 0);
  }

  // The Edit menu's keys take object-list edits back and do them again; the modified flag is
  // clear exactly at the state in the file, and opening a project forgets the history.
  void undoAndRedoKeysFollowTheSavedState() {
    WriteAll(Path("a.mpj"), ProjectText(true));
    StartApp(Path("a.mpj"));
    CMainFrame& frame = app_->mainFrame();
    frame.BuildLayout("(H,50,2,O)");
    auto* list = FirstFrame<modrin::app::uiObjectsList>(frame);
    QVERIFY(list != nullptr);
    frame.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&frame));
    QAction* undo = frame.action(command::kUndo);
    QAction* redo = frame.action(command::kRedo);
    QVERIFY(!undo->isEnabled() && !redo->isEnabled());

    list->New();
    QCOMPARE(undo->text(), QString("&Undo New Object\tCtrl+Z"));
    QVERIFY(undo->isEnabled());
    const auto objects = [&] { return app_->project().objects.size(); };
    const struct {
      QKeyCombination key;
      std::size_t objects;
    } kKeys[] = {
        {Qt::CTRL | Qt::Key_Z, 1},
        {Qt::CTRL | Qt::SHIFT | Qt::Key_Z, 2},
        {Qt::ALT | Qt::Key_Backspace, 1},
        {Qt::CTRL | Qt::Key_Y, 2},
    };
    for (const auto& [key, count] : kKeys) {
      QTest::keyClick(&frame, key.key(), key.keyboardModifiers());
      QCOMPARE(objects(), count);
      QCOMPARE(list->rootItem()->childCount(), static_cast<int>(count));
    }
    QCOMPARE(redo->text(), QString("&Redo\tCtrl+Shift+Z"));
    QVERIFY(!redo->isEnabled());

    // Named on the command line, the project counts as modified; its own state does not.
    QVERIFY(app_->document().modified());
    undo->trigger();
    QVERIFY(!app_->document().modified());
    redo->trigger();
    QVERIFY(app_->document().modified());
    frame.action(command::kSave)->trigger();
    QVERIFY(!app_->document().modified());
    undo->trigger();
    QVERIFY(app_->document().modified());
    frame.action(command::kSave)->trigger();
    redo->trigger();
    QVERIFY2(app_->document().modified(), "the state saved first is no longer in the file");

    WriteAll(Path("b.mpj"), ProjectText(true));
    dialogs_->openName = Path("b.mpj");
    dialogs_->answer = UserDialogs::Answer::No;
    frame.action(command::kOpen)->trigger();
    QVERIFY(!undo->isEnabled() && !redo->isEnabled());
  }

  void saveUnderGermanLocaleIsByteIdentical() {
    WriteAll(Path("a.mpj"), ProjectText(true));
    StartApp(Path("a.mpj"));
    dialogs_->saveName = Path("c.mpj");
    app_->SaveAs();
    const QByteArray inC = ReadAll(Path("c.mpj"));
    QVERIFY(!inC.isEmpty());
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) QSKIP("no de_DE.UTF-8 locale here");
    app_->document().SetModified(true);
    dialogs_->saveName = Path("de.mpj");
    app_->mainFrame().action(command::kSaveAs)->trigger();
    std::setlocale(LC_ALL, "C");
    QCOMPARE(ReadAll(Path("de.mpj")), inC);
    QVERIFY(inC.contains("1.250"));
  }
};

QTEST_MAIN(MainFrameTest)
#include "main_frame_test.moc"
