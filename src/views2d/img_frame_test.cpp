#include "views2d/img_frame.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <memory>

#include "model/project.h"
#include "views2d/image_selector.h"
#include "views2d/img.h"
#include "views2d/testing/recording_view_host.h"
#include "views2d/view_parameters_dialog.h"

using modrin::model::Project;
using modrin::views2d::Img;
using modrin::views2d::ImgFrame;

namespace {

using TestHost = modrin::views2d::testing::RecordingViewHost;

void AddPhoto(Project& project, int width, int height) {
  modrin::model::Photo& photo = project.AddPhoto();
  photo.path = "C:\\photos\\p" + std::to_string(project.photos.size()) + ".jpg";
  photo.levels.push_back(std::make_unique<modrin::images::DecodedImage>(
      modrin::images::DecodedImage::Filled(width, height, 120)));
}

}  // namespace

class ImgFrameTest : public QObject {
  Q_OBJECT

 private:
  ImgFrame& ShowFrame() {
    frame_ = std::make_unique<ImgFrame>(host_);
    host_.views = {frame_->view()};
    frame_->resize(600, 450);
    frame_->show();
    [&] { QVERIFY(QTest::qWaitForWindowExposed(frame_.get())); }();
    frame_->SetProject(&project_, 0);
    return *frame_;
  }

  static void TypeZoom(ImgFrame& frame, const QString& text) {
    QLineEdit* edit = frame.zoomBox()->lineEdit();
    edit->selectAll();
    QTest::keyClicks(edit, text);
    QTest::keyClick(edit, Qt::Key_Return);
  }

  TestHost host_;
  Project project_;
  std::unique_ptr<ImgFrame> frame_;

 private slots:
  void init() {
    AddPhoto(project_, 400, 300);
    AddPhoto(project_, 300, 400);
  }
  void cleanup() {
    frame_.reset();
    project_.Clear();
  }

  void zoomTextsAreReadAsTheBoxReadsThem() {
    // Only the first 9 characters count, so a long number cannot overflow.
    const std::pair<const char*, std::optional<float>> texts[] = {
        {"75", 0.75f},       {" 10%", 0.1f}, {"250%", 2.5f}, {"Full Image", -1.0f},
        {"-20", -0.2f},      {"big", {}},    {"", {}},       {"123456789999999999", 1234567.89f},
        {"         12", {}},
    };
    for (const auto& [text, zoom] : texts) QVERIFY2(ImgFrame::ZoomFromText(text) == zoom, text);
  }

  void zoomBoxDrivesTheView() {
    ImgFrame& frame = ShowFrame();
    QCOMPARE(frame.zoomBox()->count(), 7);
    // Its longest item shows whole.
    const QLineEdit* text = frame.zoomBox()->lineEdit();
    QVERIFY(text->width() >= text->fontMetrics().horizontalAdvance("Full Image") + 4);
    Img& view = *frame.view();
    // A new photo is fitted and the box shows its zoom.
    const float fitted = view.zoom();
    QCOMPARE(frame.zoomBox()->currentText(), view.ZoomText());

    TypeZoom(frame, "75");
    QCOMPARE(view.zoom(), 0.75f);
    QCOMPARE(frame.zoomBox()->currentText(), QString(" 75%"));
    TypeZoom(frame, "nonsense");
    QCOMPARE(view.zoom(), 0.75f);
    frame.zoomBox()->setCurrentIndex(0);
    emit frame.zoomBox()->activated(0);
    QCOMPARE(view.zoom(), 0.1f);
    emit frame.zoomBox()->activated(6);
    QCOMPARE(view.zoom(), fitted);
    // The box never zooms past 500 %.
    TypeZoom(frame, "900");
    QCOMPARE(view.zoom(), 5.0f);
  }

  void buttonsFollowTheView() {
    ImgFrame& frame = ShowFrame();
    Img& view = *frame.view();
    QAction* edgeMode = frame.action(ImgFrame::kEdgeModeCommand);
    QAction* generalMove = frame.action(ImgFrame::kGeneralMoveCommand);
    edgeMode->trigger();
    QVERIFY(view.edgeMode());
    QVERIFY(edgeMode->isChecked());
    edgeMode->trigger();
    QVERIFY(!view.edgeMode());
    // G in the view and the General move button are one switch.
    QTest::keyClick(&view, Qt::Key_G);
    QVERIFY(view.cursorAlive());
    QVERIFY(generalMove->isChecked());
    generalMove->trigger();
    QVERIFY(!view.cursorAlive());
    // Every tooltip and prompt of the toolbar.
    QCOMPARE(edgeMode->toolTip(), QString("Edge mode"));
    QCOMPARE(edgeMode->statusTip(), QString("Edit Edges"));
    QCOMPARE(generalMove->toolTip(), QString("General move"));
    QCOMPARE(generalMove->statusTip(), QString("Move in all images"));
    QCOMPARE(frame.action(ImgFrame::kImageSelectorCommand)->statusTip(), QString("Image list"));
    QCOMPARE(frame.action(ImgFrame::kParametersCommand)->toolTip(), QString("Parameters"));
  }

  void selectorTakesABandAtTheLeft() {
    ImgFrame& frame = ShowFrame();
    Img& view = *frame.view();
    const QRect whole = view.geometry();
    QVERIFY(!frame.selector()->isVisible());
    frame.action(ImgFrame::kImageSelectorCommand)->trigger();
    QVERIFY(frame.selector()->isVisible());
    QCOMPARE(view.geometry(), whole.adjusted(ImgFrame::kSelectorWidth, 0, 0, 0));
    QCOMPARE(frame.selector()->geometry(),
             QRect(whole.left(), whole.top() + 2, ImgFrame::kSelectorWidth, whole.height() - 3));

    // Choosing the second photo shows it, at the zoom the view had.
    const float zoom = view.zoom();
    emit frame.selector()->photoChosen(1);
    QCOMPARE(view.photoIndex(), 1);
    QCOMPARE(view.zoom(), zoom);
    emit frame.selector()->hideRequested();
    QVERIFY(!frame.selector()->isVisible());
    QVERIFY(!frame.action(ImgFrame::kImageSelectorCommand)->isChecked());
    QCOMPARE(view.geometry(), whole);
  }

  void applyToAllReachesEveryView() {
    ImgFrame& frame = ShowFrame();
    ImgFrame other(host_);
    other.SetProject(&project_, 1);
    host_.views.push_back(other.view());
    QFont chosen("DejaVu Serif");
    chosen.setPixelSize(20);
    QTimer::singleShot(0, [&] {
      auto* dialog =
          qobject_cast<modrin::views2d::ViewParametersDialog*>(QApplication::activeModalWidget());
      QVERIFY(dialog != nullptr);
      dialog->SetFontChooser([&](const QFont&, QWidget*) { return chosen; });
      dialog->SetColourChooser([](const QColor&, QWidget*) { return QColor(1, 2, 3); });
      using Dialog = modrin::views2d::ViewParametersDialog;
      dialog->findChild<QPushButton*>(QString::number(Dialog::kFontButton))->click();
      // Only the edited view shows the change until Apply To All.
      QCOMPARE(frame.view()->settings().labelFont, chosen);
      QVERIFY(other.view()->settings().labelFont != chosen);
      dialog->findChild<QPushButton*>(QString::number(Dialog::kApplyToAllButton))->click();
      QCOMPARE(other.view()->settings().labelFont, chosen);
      // Cancel takes back the edited view's change of colour, not what was applied to all.
      dialog->findChild<QPushButton*>(QString::number(Dialog::kCurrentButton))->click();
      QCOMPARE(frame.view()->settings().currentColour, QColor(1, 2, 3));
      dialog->reject();
    });
    const int redrawsBefore = host_.redraws2D;
    frame.action(ImgFrame::kParametersCommand)->trigger();
    QCOMPARE(frame.view()->settings(), modrin::views2d::ViewSettings());
    QCOMPARE(other.view()->settings().labelFont, chosen);
    QVERIFY(host_.redraws2D >= redrawsBefore + 2);
  }

  void negativeIndexShowsNoPhoto() {
    ImgFrame& frame = ShowFrame();
    frame.SetProject(&project_, -1);
    QCOMPARE(frame.photo(), -1);
    frame.SetProject(&project_, 7);
    QCOMPARE(frame.photo(), -1);
    // Clicks and keys on a view without a photo change nothing.
    QTest::mouseClick(frame.view()->viewport(), Qt::LeftButton, {}, QPoint(50, 50));
    QVERIFY(project_.graph.positions.empty());
  }
};

QTEST_MAIN(ImgFrameTest)
#include "img_frame_test.moc"
