#include "views2d/img_frame.h"

#include <QAction>
#include <QComboBox>
#include <QEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <QToolBar>
#include <algorithm>

#include "model/project.h"
#include "views2d/image_selector.h"
#include "views2d/img.h"
#include "views2d/view_host.h"
#include "views2d/view_parameters_dialog.h"
#include "widgets/drawn_icon.h"

namespace modrin::views2d {

namespace {

const QColor kInk(40, 44, 52);
const QColor kMark(222, 0, 0);
const QColor kLine(47, 111, 185);

void DrawEdgeMode(QPainter& p) {
  p.setPen(QPen(kLine, 1.6));
  p.drawLine(QPointF(3, 12), QPointF(8, 4));
  p.drawLine(QPointF(8, 4), QPointF(13, 11));
  p.setPen(QPen(kMark, 1.2));
  p.setBrush(Qt::NoBrush);
  for (const QPointF& at : {QPointF(3, 12), QPointF(8, 4), QPointF(13, 11)}) {
    p.drawRect(QRectF(at - QPointF(1.5, 1.5), QSizeF(3, 3)));
  }
}

void DrawGeneralMove(QPainter& p) {
  p.setPen(QPen(kInk, 1));
  p.setBrush(QColor(250, 250, 246));
  p.drawRect(QRectF(0.5, 3.5, 6.5, 9));
  p.drawRect(QRectF(9, 3.5, 6.5, 9));
  p.setPen(QPen(kMark, 1.2));
  p.setBrush(Qt::NoBrush);
  p.drawRect(QRectF(2.5, 6.5, 2.5, 2.5));
  p.drawRect(QRectF(11.5, 7, 2.5, 2.5));
  p.setPen(QPen(kLine, 1, Qt::DashLine));
  p.drawLine(QPointF(5, 7.8), QPointF(11.5, 8.2));
}

void DrawImageSelector(QPainter& p) {
  p.setPen(QPen(kInk, 1));
  for (int row = 0; row < 3; ++row) {
    p.setBrush(row == 1 ? QColor(120, 170, 220) : QColor(250, 250, 246));
    p.drawRect(QRectF(3.5, 0.5 + row * 5, 9, 4));
  }
  p.setPen(QPen(kMark, 1));
  p.setBrush(Qt::NoBrush);
  p.drawRect(QRectF(2.5, 4.5, 11, 6));
}

void DrawParameters(QPainter& p) {
  p.setPen(QPen(kInk, 1.2));
  for (int row = 0; row < 3; ++row)
    p.drawLine(QPointF(2, 3.5 + row * 4.5), QPointF(14, 3.5 + row * 4.5));
  p.setBrush(QColor(235, 186, 52));
  const double knobs[] = {5, 10, 7};
  for (int row = 0; row < 3; ++row) p.drawRect(QRectF(knobs[row] - 1.5, 2 + row * 4.5, 3, 3));
}

}  // namespace

ImgFrame::ImgFrame(ViewHost& host, QWidget* parent) : QMainWindow(parent), host_(host) {
  // A frame inside the layout, not a window of its own.
  setWindowFlags(Qt::Widget);
  client_ = new QWidget(this);
  view_ = new Img(host, client_);
  selector_ = new ImageSelector(client_);
  selector_->hide();
  client_->installEventFilter(this);
  setCentralWidget(client_);
  CreateToolBar();

  connect(view_, &Img::zoomChanged, zoomBox_, &QComboBox::setEditText);
  connect(view_, &Img::edgeChainingShown, action(kEdgeModeCommand), &QAction::setChecked);
  connect(view_, &Img::cursorAliveChanged, action(kGeneralMoveCommand), &QAction::setChecked);
  connect(selector_, &ImageSelector::photoChosen, this, &ImgFrame::ShowChosenPhoto);
  connect(selector_, &ImageSelector::hideRequested, this,
          [this] { action(kImageSelectorCommand)->trigger(); });
}

ImgFrame::~ImgFrame() {
  // Closing the frame takes the focus from the zoom box, which would apply its text to a view
  // that is going.
  disconnect(zoomBox_->lineEdit(), nullptr, this, nullptr);
}

void ImgFrame::CreateToolBar() {
  toolBar_ = new QToolBar(tr("2D views Toolbar"), this);
  toolBar_->setObjectName("2DViewsToolBar");
  toolBar_->setIconSize(QSize(16, 16));
  addToolBar(Qt::TopToolBarArea, toolBar_);

  auto addButton = [&](int id, const QString& tip, const QString& status, QIcon icon) {
    QAction* button = toolBar_->addAction(icon, tip);
    button->setData(id);
    button->setToolTip(tip);
    button->setStatusTip(status);
    button->setCheckable(true);
    return button;
  };
  QAction* edgeMode = addButton(kEdgeModeCommand, tr("Edge mode"), tr("Edit Edges"),
                                widgets::DrawnIcon(DrawEdgeMode));
  connect(edgeMode, &QAction::triggered, view_, &Img::SetEdgeMode);
  toolBar_->addSeparator();
  QAction* generalMove = addButton(kGeneralMoveCommand, tr("General move"),
                                   tr("Move in all images"), widgets::DrawnIcon(DrawGeneralMove));
  connect(generalMove, &QAction::triggered, view_, &Img::SetCursorAlive);

  zoomBox_ = new QComboBox(toolBar_);
  zoomBox_->setObjectName(QString::number(kZoomCommand));
  zoomBox_->setEditable(true);
  zoomBox_->setInsertPolicy(QComboBox::NoInsert);
  zoomBox_->addItems({" 10%", " 20%", " 50%", "100%", "250%", "500%", "Full Image"});
  zoomBox_->setCurrentIndex(zoomBox_->count() - 1);
  QFont font("Arial");
  font.setPixelSize(14);
  zoomBox_->setFont(font);
  // At least 80 pixels, and wide enough to show "Full Image" whole in any style and font.
  zoomBox_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
  zoomBox_->setFixedWidth(std::max(80, zoomBox_->sizeHint().width()));
  zoomBox_->setMaxVisibleItems(zoomBox_->count());
  zoomBox_->setToolTip(tr("Zoom"));
  zoomBox_->setStatusTip(tr("Zoom"));
  QAction* zoom = toolBar_->addWidget(zoomBox_);
  zoom->setData(kZoomCommand);
  connect(zoomBox_, &QComboBox::activated, this,
          [this](int index) { ApplyZoomText(zoomBox_->itemText(index)); });
  // Leaving the box (or Enter) takes the typed text.
  connect(zoomBox_->lineEdit(), &QLineEdit::editingFinished, this,
          [this] { ApplyZoomText(zoomBox_->lineEdit()->text()); });

  QAction* selector = addButton(kImageSelectorCommand, tr("Image selector"), tr("Image list"),
                                widgets::DrawnIcon(DrawImageSelector));
  connect(selector, &QAction::toggled, this, &ImgFrame::ToggleSelector);
  toolBar_->addSeparator();
  QAction* parameters = addButton(kParametersCommand, tr("Parameters"), tr("Image parameters"),
                                  widgets::DrawnIcon(DrawParameters));
  parameters->setCheckable(false);
  connect(parameters, &QAction::triggered, this, &ImgFrame::OpenParameters);
}

QAction* ImgFrame::action(int id) const {
  for (QAction* candidate : toolBar_->actions()) {
    if (candidate->data().toInt() == id) return candidate;
  }
  return nullptr;
}

void ImgFrame::SetProject(model::Project* project, int photo) {
  project_ = project;
  selector_->Setup(project, photo);
  view_->SetProject(project);
  view_->ResetMode();
  const bool inRange =
      project != nullptr && photo >= 0 && static_cast<std::size_t>(photo) < project->photos.size();
  view_->SetPhoto(inRange ? photo : -1);
  if (!inRange) return;
  view_->SetZoom(-1);
  view_->Redraw();
  view_->DrawCursorMarker();
}

int ImgFrame::photo() const { return view_->photoIndex(); }

void ImgFrame::RedrawView() { view_->Redraw(); }

std::optional<float> ImgFrame::ZoomFromText(const QString& text) {
  if (text == "Full Image") return -1.0f;
  // An integer as "%d" reads it: blanks, a sign, digits; what follows does not matter.
  const QString head = text.left(9);
  qsizetype at = 0;
  while (at < head.size() && head[at].isSpace()) ++at;
  bool negative = false;
  if (at < head.size() && (head[at] == '-' || head[at] == '+')) negative = head[at++] == '-';
  long value = 0;
  const qsizetype digitsFrom = at;
  while (at < head.size() && head[at] >= '0' && head[at] <= '9') {
    value = value * 10 + (head[at].unicode() - '0');
    ++at;
  }
  if (at == digitsFrom) return std::nullopt;
  return static_cast<float>((negative ? -value : value) * 0.01);
}

void ImgFrame::ApplyZoomText(const QString& text) {
  if (const std::optional<float> zoom = ZoomFromText(text)) view_->SetZoom(*zoom);
}

void ImgFrame::ToggleSelector(bool shown) {
  selector_->setVisible(shown);
  if (shown) selector_->setFocus(Qt::OtherFocusReason);
  LayoutClient();
}

void ImgFrame::ShowChosenPhoto(int index) {
  view_->SetPhoto(index);
  view_->Redraw();
  view_->DrawCursorMarker();
  selector_->SetCurrentPhoto(index);
}

void ImgFrame::OpenParameters() {
  const ViewSettings original = view_->settings();
  ViewParametersDialog dialog(
      original, [this](const QString& topic) { host_.ShowHelpTopic(topic); }, this);
  connect(&dialog, &ViewParametersDialog::settingsChanged, view_, &Img::SetSettings);
  connect(&dialog, &ViewParametersDialog::applyToAllRequested, this,
          [this](const ViewSettings& settings) {
            for (Img* view : host_.photoViews()) view->SetSettings(settings);
          });
  connect(&dialog, &ViewParametersDialog::redrawAllRequested, this,
          [this] { host_.Redraw2DViews(); });
  dialog.exec();
}

void ImgFrame::LayoutClient() {
  const QRect area = client_->rect();
  if (!selector_->isVisible()) {
    view_->setGeometry(area);
    return;
  }
  // The view gives up a band at its left to the strip, never more than its width.
  const int band = std::min(kSelectorWidth, area.width());
  view_->setGeometry(area.adjusted(band, 0, 0, 0));
  selector_->setGeometry(QRect(area.left(), area.top() + 2, band, std::max(0, area.height() - 3)));
  selector_->UpdateScrollRange();
}

bool ImgFrame::eventFilter(QObject* watched, QEvent* event) {
  if (watched == client_ && event->type() == QEvent::Resize) LayoutClient();
  return QMainWindow::eventFilter(watched, event);
}

}  // namespace modrin::views2d
