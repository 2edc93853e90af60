#include "views2d/image_selector.h"

#include <QApplication>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>
#include <QWheelEvent>
#include <memory>

#include "model/project.h"

using modrin::model::Project;
using modrin::views2d::ImageSelector;

namespace {

using modrin::images::DecodedImage;

void AddPhoto(Project& project, DecodedImage image, const std::string& path) {
  modrin::model::Photo& photo = project.AddPhoto();
  photo.path = path;
  photo.levels.push_back(std::make_unique<DecodedImage>(std::move(image)));
}

// A grey photo, or one whose picture is not loaded when `width` is 0.
void AddPhoto(Project& project, int width, int height, const std::string& path) {
  if (width > 0) return AddPhoto(project, DecodedImage::Filled(width, height, 200), path);
  project.AddPhoto().path = path;
}

// Top half red, bottom half blue.
DecodedImage RedOverBlue(int width, int height) {
  DecodedImage image = DecodedImage::Filled(width, height, 0);
  for (int row = 0; row < height; ++row) {
    for (int x = 0; x < width; ++x) {
      image.pixels[static_cast<std::size_t>(row) * image.stride() + 3 * x +
                   (row < height / 2 ? 0 : 2)] = 255;
    }
  }
  return image;
}

bool IsRed(const QImage& shot, int x, int y) { return QColor(shot.pixel(x, y)) == QColor(Qt::red); }

void Wheel(QWidget& widget, int notches) {
  QWheelEvent event(QPointF(10, 10), widget.mapToGlobal(QPointF(10, 10)), QPoint(),
                    QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                    false);
  QApplication::sendEvent(&widget, &event);
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
    // At a photo's start, page up goes to the start of the one before.
    using Bar = QAbstractSlider;
    const std::pair<Bar::SliderAction, float> steps[] = {
        {Bar::SliderSingleStepAdd, 0.01f}, {Bar::SliderPageStepAdd, 0.75f},
        {Bar::SliderPageStepAdd, 0.75f},   {Bar::SliderSingleStepAdd, 0.75f},
        {Bar::SliderPageStepSub, 0.0f},    {Bar::SliderSingleStepSub, 0.0f},
    };
    for (int i = 0; i < std::ssize(steps); ++i) {
      strip.scrollBar()->triggerAction(steps[i].first);
      QVERIFY2(std::abs(strip.scrollOffset() - steps[i].second) < 1e-6f &&
                   strip.scrollBar()->value() == qRound(steps[i].second * 1000),
               qPrintable(QString("step %1: %2").arg(i + 1).arg(strip.scrollOffset())));
    }
    // Inside a photo, page up goes back to that photo's own start.
    AddPhoto(project_, 400, 400, "/photos/c.jpg");
    strip.Setup(&project_, 0);
    strip.scrollBar()->setSliderPosition(1000);
    QCOMPARE(strip.scrollOffset(), 1.0f);
    strip.scrollBar()->triggerAction(QAbstractSlider::SliderPageStepSub);
    QCOMPARE(strip.scrollOffset(), 0.75f);
  }

  void scrolledStripPicksUnderTheMouse() {
    AddPhoto(project_, 400, 300, "/photos/a.jpg");
    AddPhoto(project_, 300, 400, "/photos/b.jpg");
    ImageSelector& strip = ShowStrip(74, 74);
    QSignalSpy chosen(&strip, &ImageSelector::photoChosen);
    // Dragging the thumb to 0.75 puts the second photo at the top.
    strip.scrollBar()->setSliderPosition(750);
    QCOMPARE(strip.scrollOffset(), 0.75f);
    QTest::mouseClick(&strip, Qt::LeftButton, {}, QPoint(30, 10));
    QCOMPARE(chosen.last().at(0).toInt(), 1);

    // The wheel steps three lines a notch.
    strip.UpdateScrollRange();
    Wheel(strip, -1);
    QVERIFY(std::abs(strip.scrollOffset() - 0.03f) < 1e-6f);
    Wheel(strip, -3);
    QVERIFY(std::abs(strip.scrollOffset() - 0.12f) < 1e-6f);
    Wheel(strip, 2);
    QVERIFY(std::abs(strip.scrollOffset() - 0.06f) < 1e-6f);

    // All photos fit in a tall strip: the wheel moves nothing, as the scroll bar cannot.
    strip.resize(strip.width(), 370);
    strip.UpdateScrollRange();
    Wheel(strip, -1);
    QCOMPARE(strip.scrollOffset(), 0.0f);
  }

  void thumbnailsShowThePhotoUpright() {
    AddPhoto(project_, RedOverBlue(4000, 3000), "/photos/a.jpg");
    AddPhoto(project_, 0, 0, "/photos/missing.jpg");
    ImageSelector& strip = ShowStrip(80, 200, 1);
    const QImage shot = strip.grab().toImage();
    // The band is 60 pixels high: red above, blue below, colours in their own channels.
    QCOMPARE(QColor(shot.pixel(40, 10)), QColor(255, 0, 0));
    QCOMPARE(QColor(shot.pixel(40, 50)), QColor(0, 0, 255));
    // The photo without a picture fills its 4:3 band, not the white below the strip's end.
    QVERIFY(QColor(shot.pixel(40, 90)) != QColor(Qt::white));
    QCOMPARE(QColor(shot.pixel(40, 125)), QColor(Qt::white));
  }

  void tooltipNamesThePhotoUnderTheMouse() {
    AddPhoto(project_, 400, 300, "/photos/a.jpg");
    AddPhoto(project_, 300, 400, "C:\\photos\\b.jpg");
    ImageSelector& strip = ShowStrip(80, 300);
    strip.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&strip));
    strip.clearFocus();
    QTest::mouseMove(&strip, QPoint(40, 100));
    // Hovering takes the focus, so the arrow keys and Escape reach the strip.
    QVERIFY(strip.hasFocus());
    QTRY_VERIFY(QToolTip::isVisible());
    QCOMPARE(QToolTip::text(), QString("b.jpg"));
    QToolTip::hideText();
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
    // A double click shows the photo first, then asks to hide the strip; below the photos it
    // does neither.
    QStringList order;
    connect(&strip, &ImageSelector::photoChosen, this, [&] { order << "chosen"; });
    connect(&strip, &ImageSelector::hideRequested, this, [&] { order << "hide"; });
    QTest::mouseDClick(&strip, Qt::LeftButton, {}, QPoint(40, 10));
    QCOMPARE(chosen.last().at(0).toInt(), 0);
    QCOMPARE(order.last(), QString("hide"));
    QVERIFY(order.indexOf("chosen") >= 0 && order.indexOf("chosen") < order.indexOf("hide"));
    QTest::mouseDClick(&strip, Qt::LeftButton, {}, QPoint(40, 300));
    QCOMPARE(hide.count(), 1);

    // The arrow keys step from the photo last picked, never past either end.
    chosen.clear();
    QTest::keyClick(&strip, Qt::Key_Up);
    QCOMPARE(chosen.count(), 0);
    QTest::keyClick(&strip, Qt::Key_Down);
    QTest::keyClick(&strip, Qt::Key_Down);
    QCOMPARE(chosen.count(), 2);
    QCOMPARE(chosen.last().at(0).toInt(), 2);
    QTest::keyClick(&strip, Qt::Key_Down);
    QCOMPARE(chosen.count(), 2);
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
    // The pen runs through (1, 61) and (78, 164), so the outline is as thick on each side and
    // leaves the next photo's band alone.
    for (int x = 0; x < 80; ++x) QCOMPARE(IsRed(shot, x, 100), IsRed(shot, 79 - x, 100));
    for (int y = 60; y < 166; ++y) QCOMPARE(IsRed(shot, 40, y), IsRed(shot, 40, 60 + 165 - y));
    QVERIFY(IsRed(shot, 78, 100) && IsRed(shot, 40, 164));
    QVERIFY(!IsRed(shot, 40, 166) && !IsRed(shot, 5, 100));
  }
};

QTEST_MAIN(ImageSelectorTest)
#include "image_selector_test.moc"
