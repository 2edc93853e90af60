#include "views2d/image_selector.h"

#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <memory>

#include "model/project.h"

using modrin::model::Project;
using modrin::views2d::ImageSelector;

namespace {

void AddPhoto(Project& project, int width, int height, const std::string& path) {
  modrin::model::Photo& photo = project.AddPhoto();
  photo.path = path;
  if (width > 0) {
    photo.levels.push_back(std::make_unique<modrin::images::DecodedImage>(
        modrin::images::DecodedImage::Filled(width, height, 200)));
  }
}

}  // namespace

class ImageSelectorTest : public QObject {
  Q_OBJECT

 private:
  // A shown strip of the project, `bandWidth` pixels of photo across.
  ImageSelector& ShowStrip(int bandWidth, int height, int current = 0) {
    strip_ = std::make_unique<ImageSelector>();
    strip_->resize(bandWidth + strip_->scrollBar()->sizeHint().width(), height);
    strip_->show();
    [&] { QVERIFY(QTest::qWaitForWindowExposed(strip_.get())); }();
    strip_->Setup(&project_, current);
    return *strip_;
  }

  Project project_;
  std::unique_ptr<ImageSelector> strip_;

 private slots:
  void cleanup() {
    strip_.reset();
    project_.Clear();
  }

  void offsetsAndScrollRange() {
    AddPhoto(project_, 400, 300, "/photos/a.jpg");
    AddPhoto(project_, 300, 400, "C:\\photos\\b.jpg");
    ImageSelector& strip = ShowStrip(74, 370);
    QCOMPARE(strip.photoOffsets().size(), std::size_t{3});
    QCOMPARE(strip.photoOffsets()[0], 0.0f);
    QCOMPARE(strip.photoOffsets()[1], 0.75f);
    QVERIFY(std::abs(strip.photoOffsets()[2] - 2.0833f) < 1e-4f);
    // 2.0833 less a 74th of 370 pixels is below 0: nothing to scroll.
    QCOMPARE(strip.scrollBar()->maximum(), 0);

    // A short strip scrolls: lines of a hundredth, pages from photo start to photo start, never
    // past the last photo's start.
    strip.resize(strip.width(), 74);
    strip.UpdateScrollRange();
    QCOMPARE(strip.scrollBar()->maximum(), 1083);
    strip.scrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(strip.scrollOffset(), 0.01f);
    strip.scrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QCOMPARE(strip.scrollOffset(), 0.75f);
    strip.scrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    QCOMPARE(strip.scrollOffset(), 0.75f);
    strip.scrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(strip.scrollOffset(), 0.75f);
    QCOMPARE(strip.scrollBar()->value(), 750);
    // At a photo's start, page up goes to the start of the one before.
    strip.scrollBar()->triggerAction(QAbstractSlider::SliderPageStepSub);
    QCOMPARE(strip.scrollOffset(), 0.0f);
    strip.scrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    QCOMPARE(strip.scrollOffset(), 0.0f);
  }

  void clicksKeysAndTheOutline() {
    AddPhoto(project_, 400, 300, "/photos/a.jpg");
    AddPhoto(project_, 300, 400, "/photos/b.jpg");
    AddPhoto(project_, 0, 0, "/photos/missing.jpg");
    ImageSelector& strip = ShowStrip(80, 400);
    QSignalSpy chosen(&strip, &ImageSelector::photoChosen);
    QSignalSpy hide(&strip, &ImageSelector::hideRequested);

    // Bands: 0..60, 60..166, 166..226 (the unloaded photo at 3:4); below them nothing.
    QTest::mouseClick(&strip, Qt::LeftButton, {}, QPoint(40, 100));
    QCOMPARE(chosen.count(), 1);
    QCOMPARE(chosen.last().at(0).toInt(), 1);
    QTest::mouseClick(&strip, Qt::LeftButton, {}, QPoint(40, 200));
    QCOMPARE(chosen.last().at(0).toInt(), 2);
    QTest::mouseClick(&strip, Qt::LeftButton, {}, QPoint(40, 300));
    QCOMPARE(chosen.count(), 2);
    QTest::mouseDClick(&strip, Qt::LeftButton, {}, QPoint(40, 10));
    QCOMPARE(chosen.last().at(0).toInt(), 0);
    QCOMPARE(hide.count(), 1);

    // The arrow keys step from the current photo, never past either end.
    strip.SetCurrentPhoto(0);
    chosen.clear();
    QTest::keyClick(&strip, Qt::Key_Up);
    QCOMPARE(chosen.count(), 0);
    QTest::keyClick(&strip, Qt::Key_Down);
    QCOMPARE(chosen.last().at(0).toInt(), 1);
    strip.SetCurrentPhoto(2);
    QTest::keyClick(&strip, Qt::Key_Down);
    QCOMPARE(chosen.count(), 1);
    QTest::keyClick(&strip, Qt::Key_Escape);
    QCOMPARE(hide.count(), 2);

    // The current photo's band is outlined in red; the rest of the strip is white.
    strip.SetCurrentPhoto(1);
    const QImage shot = strip.grab().toImage();
    QCOMPARE(QColor(shot.pixel(40, 61)), QColor(255, 0, 0));
    QCOMPARE(QColor(shot.pixel(1, 100)), QColor(255, 0, 0));
    QCOMPARE(QColor(shot.pixel(40, 100)), QColor(200, 200, 200));
    QCOMPARE(QColor(shot.pixel(40, 20)), QColor(200, 200, 200));
    QCOMPARE(QColor(shot.pixel(40, 350)), QColor(Qt::white));
  }
};

QTEST_MAIN(ImageSelectorTest)
#include "image_selector_test.moc"
