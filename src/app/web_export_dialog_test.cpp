#include "app/web_export_dialog.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <clocale>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/commands.h"
#include "app/dialog_units.h"
#include "app/main_frame.h"
#include "app/modrin_application.h"
#include "app/status_progress.h"
#include "app/testing/house_sample.h"
#include "app/testing/scripted_dialogs.h"
#include "app/user_dialogs.h"
#include "engine/reconstruction.h"
#include "model/project.h"

using modrin::app::DialogUnits;
using modrin::app::ModrinApplication;
using modrin::app::UserDialogs;
using modrin::app::WebExportDialog;
using modrin::app::testing::ScriptedDialogs;
using modrin::exporters::PluginType;
using modrin::exporters::WebExportSettings;

namespace {

template <typename T = QLineEdit>
T* Control(const QWidget& dialog, const char* name) {
  T* control = dialog.findChild<T*>(name);
  if (control == nullptr) qFatal("no control %s", name);
  return control;
}

// Replaces the text of `edit` as a user does: select all, type.
void Type(QLineEdit* edit, const QString& text) {
  edit->setFocus();
  edit->selectAll();
  QTest::keyClick(edit, Qt::Key_Backspace);
  QTest::keyClicks(edit, text);
}

void ClickOk(const QWidget& dialog) {
  QTest::mouseClick(Control<QPushButton>(dialog, "OK"), Qt::LeftButton);
}

// What the dialog shows, one value per control in tab order.
QStringList Shown(const QWidget& dialog) {
  QStringList shown;
  for (const char* name : {"fileName", "url", "horizontalMin", "horizontalMax", "verticalMin",
                           "verticalMax", "windowWidth", "windowHeight"}) {
    shown << Control(dialog, name)->text();
  }
  shown << (Control<QCheckBox>(dialog, "webOrLocal")->isChecked() ? "web" : "local");
  shown << (Control(dialog, "url")->isEnabled() ? "url enabled" : "url greyed");
  shown << (Control<QRadioButton>(dialog, "activeX")->isChecked() ? "ActiveX" : "-");
  shown << (Control<QRadioButton>(dialog, "java")->isEnabled() ? "JAVA enabled" : "JAVA greyed");
  shown << Control<modrin::views2d::ColourButton>(dialog, "background")->colour().name();
  shown << Control<QComboBox>(dialog, "maxTexturePixels")->currentText();
  shown << QString::number(Control<QSlider>(dialog, "quality")->value());
  return shown;
}

// clang-format off
const QStringList kInitiallyShown{
    "", "http://www.example.com/", "-180", "180", "-90", "90", "400", "300",
    "local", "url greyed", "ActiveX", "JAVA greyed", "#ffffff", "256", "80"};
// clang-format on

}  // namespace

class WebExportDialogTest : public QObject {
  Q_OBJECT

 private:
  // A shown dialog with the initial settings; its questions and warnings go to dialogs_.
  WebExportDialog& Open(modrin::views2d::HelpHandler help = {}) {
    dialog_.reset();
    dialogs_ = ScriptedDialogs();
    dialog_ = std::make_unique<WebExportDialog>(WebExportSettings{}, dialogs_, std::move(help));
    dialog_->show();
    return *dialog_;
  }

  ScriptedDialogs dialogs_;
  std::unique_ptr<WebExportDialog> dialog_;

 private slots:
  void init() {
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Modrin", "Modrin").clear();
  }
  void cleanup() { dialog_.reset(); }

  // Save to Web through the main window on the calibrated house: the first opening shows the
  // initial values, every later one those of the last OK. OK writes the page with its model
  // and viewer scripts, the progress in the status bar; a page that cannot be written is
  // named in an error and leaves nothing; Cancel writes and keeps nothing.
  void okWritesThePageAndTheNextOpeningStartsFromItsValues() {
    QTemporaryDir dir;
    auto dialogs = std::make_unique<ScriptedDialogs>();
    ScriptedDialogs& asked = *dialogs;
    ModrinApplication app(std::move(dialogs));
    app.Start(modrin::app::testing::CopyHouse(dir.filePath("house")));
    for (auto& photo : app.project().photos) photo->camera.pending = true;
    modrin::engine::RunCalibration(app.project());
    app.mainFrame().UpdateCommandStates();
    QAction* saveToWeb = app.mainFrame().action(modrin::app::command::kSaveToWeb);
    QSignalSpy progressShown(&app.mainFrame().statusProgress(),
                             &modrin::app::StatusProgress::created);

    auto runDialog = [&](const QStringList& shown,
                         const std::function<void(WebExportDialog&)>& use) {
      bool ran = false;
      QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<WebExportDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog != nullptr);
        QCOMPARE(dialog->windowTitle(), QString("Output to HTML"));
        QCOMPARE(Shown(*dialog), shown);
        use(*dialog);
        ran = true;
      });
      saveToWeb->trigger();
      QVERIFY(ran);
    };
    const QString page = dir.filePath("web/house.html");
    QVERIFY(QDir().mkpath(dir.filePath("web")));
    runDialog(kInitiallyShown, [&](WebExportDialog& dialog) {
      Type(Control(dialog, "fileName"), page);
      Type(Control(dialog, "windowWidth"), "640");
      ClickOk(dialog);
      QVERIFY(!dialog.isVisible());
    });
    QVERIFY2(asked.errors.isEmpty(), qPrintable(asked.errors.join('|')));
    QVERIFY(QFile::exists(page) && QFile::exists(dir.filePath("web/js/GLTFLoader.js")));
    QCOMPARE(progressShown.count(), 1);
    QCOMPARE(progressShown.at(0).at(0).toString(), QString("Writing the web page house.html"));
    QVERIFY(app.mainFrame().isEnabled());
    QCOMPARE(app.webExportSettings()->windowWidth_px, 640);

    QStringList kept = kInitiallyShown;
    kept[0] = page;
    kept[6] = "640";
    const QString missing = dir.filePath("gone/house.html");
    runDialog(kept, [&](WebExportDialog& dialog) {
      Type(Control(dialog, "fileName"), missing);
      ClickOk(dialog);
    });
    QCOMPARE(asked.errors.size(), 1);
    QVERIFY2(asked.errors[0].contains(dir.filePath("gone/js")), qPrintable(asked.errors[0]));
    QVERIFY(!QFileInfo::exists(dir.filePath("gone")));

    kept[0] = missing;
    runDialog(kept, [](WebExportDialog& dialog) {
      Type(Control(dialog, "windowWidth"), "10");
      dialog.reject();
    });
    QCOMPARE(app.webExportSettings()->windowWidth_px, 640);
    QCOMPARE(asked.errors.size(), 1);
  }

  // Where each browse starts, and what the edit holds after it.
  void browseStartsFromTheHeldFileName() {
    WebExportDialog& dialog = Open();
    QLineEdit* fileName = Control(dialog, "fileName");
    const struct {
      const char* typed;  // into the edit first; nullptr: left alone
      bool clickBox;
      UserDialogs::FileNameAnswer answer;
      const char* start;
      const char* shown;
    } steps[] = {
        // The first browse offers the pattern; a confirmed name fills the edit with its path.
        {nullptr, false, {"/web/model.html", true}, "*.html", "/web/model.html"},
        // Typing does not change where the next browse starts; a cancelled one keeps the edit.
        {"/elsewhere/typed.html", false, {}, "model.html", "/elsewhere/typed.html"},
        // A click on the box takes the edit's text, Windows folders too.
        {"C:\\web\\page.html", true, {}, "page.html", "C:\\web\\page.html"},
        // Whatever a cancelled browse ended with is held for the next one.
        {nullptr, false, {"/tmp/other.html", false}, "page.html", "C:\\web\\page.html"},
        {nullptr, false, {}, "other.html", "C:\\web\\page.html"},
        // An edit naming a folder offers the pattern again.
        {"/web/", true, {}, "*.html", "/web/"},
    };
    for (int i = 0; i < std::ssize(steps); ++i) {
      const auto& step = steps[i];
      if (step.typed != nullptr) Type(fileName, step.typed);
      if (step.clickBox)
        QTest::mouseClick(Control<QCheckBox>(dialog, "webOrLocal"), Qt::LeftButton);
      dialogs_.htmlAnswer = step.answer;
      QTest::mouseClick(Control<QPushButton>(dialog, "browse"), Qt::LeftButton);
      const QString where = QString("browse %1: ").arg(i + 1);
      QVERIFY2(dialogs_.htmlStarts.size() == i + 1 && dialogs_.htmlStarts.last() == step.start,
               qPrintable(where + dialogs_.htmlStarts.join(' ')));
      QVERIFY2(fileName->text() == step.shown, qPrintable(where + fileName->text()));
    }
  }

  void htmlFileDialogAsksForOneType() {
    const std::unique_ptr<QFileDialog> dialog =
        modrin::app::MakeHtmlFileDialog(nullptr, "model.html");
    QCOMPARE(dialog->windowTitle(), QString("HTML file"));
    QCOMPARE(dialog->nameFilters(), QStringList{"HTML file (*.html)"});
    QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
    QCOMPARE(dialog->defaultSuffix(), QString("html"));
    QVERIFY(!dialog->testOption(QFileDialog::DontConfirmOverwrite));
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    auto* field = dialog->findChild<QLineEdit*>("fileNameEdit");
    QVERIFY(field != nullptr);
    QCOMPARE(field->text(), QString("model.html"));
  }

  // A field that holds no whole number of its kind, or a value no page can be made of, is
  // named in a warning and gets the focus; the dialog stays open and keeps its settings.
  void badValuesKeepTheDialogOpen() {
    const struct {
      const char* field;
      const char* text;
      const char* named;
    } cases[] = {
        {"horizontalMin", "-18o", "horizontal angle minimum"},
        {"horizontalMax", "", "horizontal angle maximum"},
        {"verticalMin", "-4.5", "vertical angle minimum"},
        {"verticalMax", "+-9", "vertical angle maximum"},
        {"verticalMax", "2147483648", "vertical angle maximum"},
        {"windowWidth", "-1", "window width"},
        {"windowHeight", "3e2", "window height"},
        {"fileName", "", "Choose the HTML file"},
        {"fileName", "/web/house.txt", ".html or .htm file"},
        {"maxTexturePixels", "0", "maximum number of pixels of a texture"},
        {"maxTexturePixels", "2k", "not \"2k\""},
        {"horizontalMin", "181", "horizontal angle minimum must not lie above its maximum"},
        {"verticalMin", "91", "vertical angle minimum must not lie above its maximum"},
    };
    for (const auto& c : cases) {
      WebExportDialog& dialog = Open();
      if (std::string_view(c.field) != "fileName") {
        Type(Control(dialog, "fileName"), "/web/house.html");
      }
      QWidget* field = Control<QWidget>(dialog, c.field);
      auto* combo = qobject_cast<QComboBox*>(field);
      Type(combo != nullptr ? combo->lineEdit() : static_cast<QLineEdit*>(field), c.text);
      Control<QPushButton>(dialog, "browse")->setFocus();
      ClickOk(dialog);
      const QString where = QString("%1 \"%2\": ").arg(c.field, c.text);
      QVERIFY2(dialog.isVisible() && dialog.result() == QDialog::Rejected, qPrintable(where));
      QVERIFY2(dialogs_.warnings.size() == 1 && dialogs_.warnings.front().contains(c.named),
               qPrintable(where + dialogs_.warnings.join('|')));
      QVERIFY2(dialog.focusWidget() == field, qPrintable(where));
      QVERIFY2(dialog.settings() == WebExportSettings{}, qPrintable(where));
    }
  }

  void okReturnsTheSettings() {
    WebExportDialog& dialog = Open();
    dialog.SetColourChooser([](const QColor&, QWidget*) { return QColor(10, 20, 30); });
    auto* box = Control<QCheckBox>(dialog, "webOrLocal");
    QLineEdit* url = Control(dialog, "url");
    QTest::mouseClick(box, Qt::LeftButton);
    QVERIFY(url->isEnabled());
    Type(Control(dialog, "fileName"), "/web/house.html");
    Type(url, "http://example.net/");
    Type(Control(dialog, "horizontalMin"), " -45 ");
    Type(Control(dialog, "horizontalMax"), "+45");
    Type(Control(dialog, "verticalMin"), "0");
    Type(Control(dialog, "verticalMax"), "720");
    Type(Control(dialog, "windowWidth"), "0");
    Type(Control(dialog, "windowHeight"), "1080");
    QTest::mouseClick(Control<QPushButton>(dialog, "background"), Qt::LeftButton);
    // The greyed JAVA button cannot be chosen.
    QTest::mouseClick(Control<QRadioButton>(dialog, "java"), Qt::LeftButton);
    auto* pixels = Control<QComboBox>(dialog, "maxTexturePixels");
    QStringList offered;
    for (int i = 0; i < pixels->count(); ++i) offered << pixels->itemText(i);
    QCOMPARE(offered, (QStringList{"64", "128", "256", "512", "1024", "2048"}));
    Type(pixels->lineEdit(), "300");
    auto* quality = Control<QSlider>(dialog, "quality");
    QCOMPARE(quality->tickPosition(), QSlider::NoTicks);
    quality->setFocus();
    QTest::keyClick(quality, Qt::Key_End);
    // The box cleared with the keyboard greys the address, which is still what OK reads back.
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Space);
    QVERIFY(!url->isEnabled());
    ClickOk(dialog);
    QVERIFY(dialogs_.warnings.isEmpty());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.settings(), (WebExportSettings{.fileName = "/web/house.html",
                                                   .siteAddress = "http://example.net/",
                                                   .webOrLocal = false,
                                                   .horizontalMin_deg = -45,
                                                   .horizontalMax_deg = 45,
                                                   .verticalMin_deg = 0,
                                                   .verticalMax_deg = 720,
                                                   .pluginType = PluginType::kActiveX,
                                                   .background = {10, 20, 30},
                                                   .windowWidth_px = 0,
                                                   .windowHeight_px = 1080,
                                                   .maxTexturePixels = "300",
                                                   .textureQuality = 100}));
  }

  void colourChooserCancelKeepsTheColour() {
    WebExportDialog& dialog = Open();
    QColor offered;
    std::optional<QColor> answer;
    dialog.SetColourChooser([&](const QColor& start, QWidget*) {
      offered = start;
      return answer;
    });
    auto* button = Control<modrin::views2d::ColourButton>(dialog, "background");
    const auto swatch = [&] { return button->icon().pixmap(18, 18).toImage().pixelColor(9, 9); };
    QCOMPARE(button->iconSize(), QSize(18, 18));
    QCOMPARE(swatch(), QColor(Qt::white));

    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(offered, QColor(Qt::white));
    QCOMPARE(swatch(), QColor(Qt::white));
    answer = QColor(0, 0, 200);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(swatch(), QColor(0, 0, 200));
    answer.reset();
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(offered, QColor(0, 0, 200));
    QCOMPARE(swatch(), QColor(0, 0, 200));
    Type(Control(dialog, "fileName"), "house.html");
    ClickOk(dialog);
    QCOMPARE(dialog.settings().background, (modrin::exporters::RgbColour{0, 0, 200}));
  }

  void numbersReadTheSameUnderAGermanLocale() {
    const QLocale qtBefore;
    const std::string cBefore = std::setlocale(LC_ALL, nullptr);
    const auto restore = qScopeGuard([&] {
      std::setlocale(LC_ALL, cBefore.c_str());
      QLocale::setDefault(qtBefore);
    });
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    WebExportDialog& dialog = Open();
    QCOMPARE(Shown(dialog), kInitiallyShown);
    // "1.000" is a thousand in German; here it is no whole number.
    Type(Control(dialog, "windowWidth"), "1.000");
    ClickOk(dialog);
    QCOMPARE(dialogs_.warnings.size(), 1);
    Type(Control(dialog, "windowWidth"), "1000");
    Type(Control(dialog, "horizontalMin"), "-170");
    Type(Control(dialog, "fileName"), "house.html");
    ClickOk(dialog);
    QCOMPARE(dialogs_.warnings.size(), 1);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.settings().windowWidth_px, 1000);
    QCOMPARE(dialog.settings().horizontalMin_deg, -170);
  }

  // The controls sit at their dialog-unit rectangles, in tab order, with F1 for help.
  void layoutTabOrderAndHelp() {
    QStringList helped;
    WebExportDialog& dialog = Open([&](const QString& topic) { helped << topic; });
    QVERIFY(QTest::qWaitForWindowActive(&dialog));

    // The dialog is 202 x 295 units; every control sits at its rectangle in those units, at
    // least as large as the font's units, and wider where a caption would not fit them.
    const DialogUnits fontUnits = DialogUnits::ForFont(dialog.font());
    QVERIFY(dialog.width() >= fontUnits.X(202));
    QCOMPARE(dialog.height(), fontUnits.Y(295));
    const double unitX = dialog.width() / 202.0, unitY = dialog.height() / 295.0;
    auto inUnits = [&](const QWidget* control, QRectF expected) {
      const QRect at = control->geometry();
      return std::abs(at.x() - expected.x() * unitX) <= 1 &&
             std::abs(at.y() - expected.y() * unitY) <= 1 &&
             std::abs(at.width() - expected.width() * unitX) <= 1 &&
             std::abs(at.height() - expected.height() * unitY) <= 1;
    };
    QVERIFY(inUnits(Control<QPushButton>(dialog, "OK"), {145, 275, 50, 14}));
    QVERIFY(inUnits(Control<QPushButton>(dialog, "Cancel"), {80, 275, 50, 14}));
    QVERIFY(inUnits(Control(dialog, "fileName"), {40, 5, 125, 15}));
    QVERIFY(Control<QPushButton>(dialog, "OK")->isDefault());
    const QList<QWidget*> controls = dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (const QWidget* child : controls) {
      QVERIFY2(dialog.rect().contains(child->geometry()), qPrintable(child->objectName()));
    }
    // No caption runs under a control: each label's text ends before the next control begins.
    for (const QLabel* label : dialog.findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
      QRect text = label->geometry();
      text.setWidth(label->sizeHint().width());
      for (const QWidget* other : controls) {
        if (qobject_cast<const QLabel*>(other) || qobject_cast<const QGroupBox*>(other)) continue;
        QVERIFY2(!text.intersects(other->geometry()),
                 qPrintable(label->text() + " under " + other->objectName()));
      }
    }
    QStringList captions;
    for (const QLabel* label : dialog.findChildren<QLabel*>()) captions << label->text();
    for (const QGroupBox* group : dialog.findChildren<QGroupBox*>()) captions << group->title();
    // clang-format off
    QCOMPARE(captions, (QStringList{
        "Filename", "URL", "Min", "Max", "Horizontal", "degrees", "Vertical", "degrees",
        "Background", "Horizontal", "pixels", "Vertical", "pixels",
        "Maximum number of pixels \n in X or Y", "pixels", "Low quality\nSmaller size",
        "High quality\nBigger size", "Angle range", "Plugin Type", "Color", "Window size",
        "Texture compression"}));
    // clang-format on

    QStringList order;
    QWidget* at = Control(dialog, "fileName");
    do {
      if (at->parentWidget() == &dialog && at->isEnabled() && (at->focusPolicy() & Qt::TabFocus)) {
        order << at->objectName();
      }
      at = at->nextInFocusChain();
    } while (at != Control(dialog, "fileName"));
    QCOMPARE(order,
             (QStringList{"fileName", "browse", "webOrLocal", "horizontalMin", "horizontalMax",
                          "verticalMin", "verticalMax", "activeX", "background", "windowWidth",
                          "windowHeight", "maxTexturePixels", "quality", "Cancel", "OK"}));

    QTest::keyClick(&dialog, Qt::Key_F1);
    QCOMPARE(helped, QStringList{"ExportToWeb.html"});
  }

  void dialogUnitsRoundToTheNearestPixel() {
    const DialogUnits units(6, 13);
    QCOMPARE(units.Size(202, 295), QSize(303, 479));  // 479.375
    QCOMPARE(units.X(3), 5);                          // 4.5
    QCOMPARE(units.Y(5), 8);                          // 8.125
    QCOMPARE(units.Rect(5, 10, 35, 10), QRect(8, 16, 53, 16));
  }
};

QTEST_MAIN(WebExportDialogTest)
#include "web_export_dialog_test.moc"
