#include "views2d/view_parameters_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using modrin::views2d::ColourButton;
using modrin::views2d::ViewParametersDialog;
using modrin::views2d::ViewSettings;

namespace {

template <typename T>
T* Control(const QWidget& dialog, int id) {
  return dialog.findChild<T*>(QString::number(id));
}

ViewSettings Reported(const QSignalSpy& spy) { return spy.last().at(0).value<ViewSettings>(); }

}  // namespace

Q_DECLARE_METATYPE(ViewSettings)

class ViewParametersDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { qRegisterMetaType<ViewSettings>(); }

  void changesShowAtOnceAndCancelRestores() {
    ViewSettings start;
    start.pointSize = 3;
    ViewParametersDialog dialog(start, {});
    dialog.SetColourChooser([](const QColor&, QWidget*) { return QColor(10, 20, 30); });
    QSignalSpy changed(&dialog, &ViewParametersDialog::settingsChanged);
    QSignalSpy redraw(&dialog, &ViewParametersDialog::redrawAllRequested);
    QCOMPARE(Control<QComboBox>(dialog, ViewParametersDialog::kPointSizeCombo)->currentText(),
             QString("3"));

    QTest::mouseClick(Control<ColourButton>(dialog, ViewParametersDialog::kDefaultButton),
                      Qt::LeftButton);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(Reported(changed).defaultColour, QColor(10, 20, 30));
    QCOMPARE(Reported(changed).currentColour, start.currentColour);
    // The labels' colour has a button of its own.
    QTest::mouseClick(Control<ColourButton>(dialog, ViewParametersDialog::kLabelColourButton),
                      Qt::LeftButton);
    QCOMPARE(Reported(changed).labelColour, QColor(10, 20, 30));

    // The button shows the chosen colour.
    const QImage swatch = Control<ColourButton>(dialog, ViewParametersDialog::kDefaultButton)
                              ->icon()
                              .pixmap(18)
                              .toImage();
    QCOMPARE(QColor(swatch.pixel(9, 9)), QColor(10, 20, 30));

    // A size from the keyboard, as the user steps through the items.
    QTest::keyClick(Control<QComboBox>(dialog, ViewParametersDialog::kEdgeWidthCombo),
                    Qt::Key_Down);
    QCOMPARE(Reported(changed).edgeWidth, 2);
    QCOMPARE(Reported(changed).defaultColour, QColor(10, 20, 30));

    // Cancel gives the view its settings from before, and every view is drawn again.
    dialog.show();
    QTest::mouseClick(dialog.findChild<QPushButton*>("Cancel"), Qt::LeftButton);
    QVERIFY(Reported(changed) == start);
    QCOMPARE(redraw.count(), 1);
    QVERIFY(!dialog.isVisible());
  }

  void escapeRestoresLikeCancel() {
    ViewSettings start;
    ViewParametersDialog dialog(start, {});
    QSignalSpy changed(&dialog, &ViewParametersDialog::settingsChanged);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    Control<QCheckBox>(dialog, ViewParametersDialog::kVertexIdCheck)->click();
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(!dialog.isVisible());
    QVERIFY(Reported(changed) == start);
  }

  void cancelledChoosersChangeNothing() {
    ViewSettings start;
    ViewParametersDialog dialog(start, {});
    dialog.SetColourChooser([](const QColor&, QWidget*) { return std::optional<QColor>(); });
    QFont offered;
    dialog.SetFontChooser([&](const QFont& font, QWidget*) {
      offered = font;
      return std::optional<QFont>();
    });
    QSignalSpy changed(&dialog, &ViewParametersDialog::settingsChanged);
    auto* current = Control<ColourButton>(dialog, ViewParametersDialog::kCurrentButton);
    QTest::mouseClick(current, Qt::LeftButton);
    QTest::mouseClick(Control<QPushButton>(dialog, ViewParametersDialog::kFontButton),
                      Qt::LeftButton);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(current->colour(), start.currentColour);
    // The font chooser starts from the view's label font.
    QCOMPARE(offered, start.labelFont);
  }

  void sizeOutsideTheItemsStays() {
    ViewSettings start;
    start.pointWidth = 9;
    ViewParametersDialog dialog(start, {});
    QSignalSpy changed(&dialog, &ViewParametersDialog::settingsChanged);
    auto* width = Control<QComboBox>(dialog, ViewParametersDialog::kPointWidthCombo);
    QCOMPARE(width->currentIndex(), -1);
    Control<QCheckBox>(dialog, ViewParametersDialog::kVertexIdCheck)->click();
    QVERIFY(Reported(changed).showIds);
    QCOMPARE(Reported(changed).pointWidth, 9);
  }

  void applyToAllCarriesTheFont() {
    ViewParametersDialog dialog(ViewSettings{}, {});
    QFont chosen("DejaVu Serif");
    chosen.setPixelSize(22);
    dialog.SetFontChooser([&](const QFont&, QWidget*) { return chosen; });
    QSignalSpy all(&dialog, &ViewParametersDialog::applyToAllRequested);
    QSignalSpy redraw(&dialog, &ViewParametersDialog::redrawAllRequested);
    QTest::mouseClick(Control<QPushButton>(dialog, ViewParametersDialog::kFontButton),
                      Qt::LeftButton);
    QTest::mouseClick(Control<QPushButton>(dialog, ViewParametersDialog::kApplyToAllButton),
                      Qt::LeftButton);
    QCOMPARE(all.count(), 1);
    QCOMPARE(Reported(all).labelFont, chosen);
    // The label colour stays: the font chooser offers none.
    QCOMPARE(Reported(all).labelColour, ViewSettings{}.labelColour);
    QCOMPARE(redraw.count(), 1);
  }

  void helpKeyOpensItsPage() {
    QString asked;
    ViewParametersDialog dialog(ViewSettings{}, [&](const QString& topic) { asked = topic; });
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::keyClick(&dialog, Qt::Key_F1);
    QCOMPARE(asked, QString("Params2DViews.html"));
  }
};

QTEST_MAIN(ViewParametersDialogTest)
#include "view_parameters_dialog_test.moc"
