#include "views3d/ogl.h"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions_2_1>
#include <QOpenGLVersionFunctionsFactory>
#include <QPainter>
#include <QPixmap>
#include <QSurfaceFormat>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace modrin::views3d {

namespace {

constexpr int kTimerPeriodMs = 5;
constexpr ViewPose kStill{0, 0, 0, 0};

// Whether a 3D view is drawing: every view shares it, so a draw never starts inside another
// (a timer tick arriving while a view draws).
bool drawing = false;

// The rotate cursor: a solid ball in an orbit ring; hot spot at the centre.
QCursor RotateCursor() {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(Qt::white, 4));
  painter.setBrush(Qt::NoBrush);
  painter.drawEllipse(QRectF(2.5, 9.5, 27, 13));
  painter.setPen(QPen(Qt::black, 2));
  painter.drawEllipse(QRectF(2.5, 9.5, 27, 13));
  painter.setPen(QPen(Qt::white, 1.5));
  painter.setBrush(Qt::black);
  painter.drawEllipse(QPointF(16, 16), 6, 6);
  return QCursor(pixmap, 16, 16);
}

// The zoom cursor: bars narrowing upwards like a road running away; hot spot on the middle bar.
QCursor ZoomCursor() {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setPen(QPen(Qt::white, 1));
  painter.setBrush(Qt::black);
  const int widths[] = {6, 10, 14, 18, 22, 26};
  for (int i = 0; i < 6; ++i) {
    const int width = widths[i];
    painter.drawRect(16 - width / 2, 2 + i * 5, width - 1, 3);
  }
  return QCursor(pixmap, 15, 14);
}

// A perspective of `fovy` degrees, as the classic perspective helper sets it.
void LoadPerspective(QOpenGLFunctions_2_1& gl, const Projection& p) {
  const double top = p.zNear * std::tan(p.fovy / 2 * std::numbers::pi / 180);
  const double right = top * p.aspect;
  gl.glMatrixMode(GL_PROJECTION);
  gl.glLoadIdentity();
  gl.glFrustum(-right, right, -top, top, p.zNear, p.zFar);
  gl.glMatrixMode(GL_MODELVIEW);
}

}  // namespace

Ogl::Ogl(QWidget* parent)
    : QOpenGLWidget(parent), rotateCursor_(RotateCursor()), zoomCursor_(ZoomCursor()) {
  setFormat(SurfaceFormat());
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
}

Ogl::~Ogl() {
  timer_.stop();
  // The context is destroyed after this body, by the base class; by then the view's members
  // are gone, so it must not call back.
  if (context() != nullptr) disconnect(context(), nullptr, this, nullptr);
  ReleaseGL();
}

QSurfaceFormat Ogl::SurfaceFormat() {
  QSurfaceFormat format;
  format.setRenderableType(QSurfaceFormat::OpenGL);
  format.setProfile(QSurfaceFormat::CompatibilityProfile);
  format.setVersion(2, 1);
  format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
  format.setRedBufferSize(8);
  format.setGreenBufferSize(8);
  format.setBlueBufferSize(8);
  format.setDepthBufferSize(16);
  return format;
}

void Ogl::ReleaseGL() {
  DeleteGLObjects();
  photoEntries_.clear();
  texturesStale_ = listsStale_ = false;
}

void Ogl::DeleteGLObjects() {
  if (gl_ == nullptr || (textureNames_.empty() && listCount_ == 0)) return;
  makeCurrent();
  for (const unsigned name : textureNames_) {
    if (name != 0) gl_->glDeleteTextures(1, &name);
  }
  if (listCount_ > 0) gl_->glDeleteLists(listBase_, listCount_);
  doneCurrent();
  textureNames_.clear();
  listBase_ = 0;
  listCount_ = 0;
}

void Ogl::CreateTextures(const model::Project& project) {
  photoEntries_ = CreateEntries(project);
  texturesStale_ = true;
  listsStale_ = true;
}

void Ogl::BuildArrays(const model::Project& project) {
  box_ = views3d::BuildArrays(project, photoEntries_, &markers_, markerOptions_);
  homeTurn_ = HomeTurn(project, box_);
}

void Ogl::BuildDisplayLists() { listsStale_ = true; }

void Ogl::FitView() {
  pose_.zDist = FitDistance(box_, pose_, projection_.fovy, projection_.aspect);
  fittedBox_ = box_;
  fittedPose_ = pose_;
  UpdateProjection();
}

void Ogl::ResetView() {
  pose_.rotX = homeTurn_.rotX;
  pose_.rotY = homeTurn_.rotY;
  pose_.rotZ = homeTurn_.rotZ;
  FitView();
}

void Ogl::UpdateProjection() {
  SetDepthRange(box_, pose_.zDist, projection_);
  Render();
}

// Qt composes an OpenGL view into its window from the event loop, so drawing "now" means at
// the next turn of the loop, which comes before any other input is handled.
void Ogl::Render() { update(); }

void Ogl::initializeGL() {
  gl_ = QOpenGLVersionFunctionsFactory::get<QOpenGLFunctions_2_1>(context());
  if (gl_ == nullptr) return;  // no compatibility context: the view stays white
  // The context goes before the widget when the window closes: its objects go with it.
  connect(context(), &QOpenGLContext::aboutToBeDestroyed, this, [this] {
    DeleteGLObjects();
    gl_ = nullptr;
  });
  gl_->glLightModeli(GL_LIGHT_MODEL_LOCAL_VIEWER, 0);
  gl_->glClearColor(1, 1, 1, 1);
  gl_->glEnable(GL_DEPTH_TEST);
  gl_->glDepthFunc(GL_LESS);
  texturesStale_ = listsStale_ = !photoEntries_.empty();
}

void Ogl::resizeGL(int w, int h) {
  if (h < 1) return;
  projection_.aspect = static_cast<double>(w) / h;
  // A view that nothing has moved since its fit stays fitted to its new shape; among others
  // the first one, which may be fitted before the view has its size.
  if (pose_ == fittedPose_) {
    pose_.zDist = FitDistance(box_, pose_, projection_.fovy, projection_.aspect);
    fittedPose_ = pose_;
  }
  SetDepthRange(box_, pose_.zDist, projection_);
}

void Ogl::UploadTextures() {
  for (const unsigned name : textureNames_) {
    if (name != 0) gl_->glDeleteTextures(1, &name);
  }
  textureNames_.assign(photoEntries_.size(), 0);
  gl_->glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  for (std::size_t i = 0; i < photoEntries_.size(); ++i) {
    const TextureImage& texture = photoEntries_[i].texture;
    if (texture.empty()) continue;
    gl_->glGenTextures(1, &textureNames_[i]);
    gl_->glBindTexture(GL_TEXTURE_2D, textureNames_[i]);
    gl_->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    gl_->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    gl_->glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, texture.width, texture.height, 0, GL_BGR,
                      GL_UNSIGNED_BYTE, texture.bgr.data());
  }
  texturesStale_ = false;
}

void Ogl::CompileDisplayLists() {
  if (listCount_ > 0) gl_->glDeleteLists(listBase_, listCount_);
  listCount_ = static_cast<int>(photoEntries_.size());
  listBase_ = listCount_ > 0 ? gl_->glGenLists(listCount_) : 0;
  if (listBase_ == 0) listCount_ = 0;
  for (int i = 0; i < listCount_; ++i) {
    const PhotoDrawEntry& entry = photoEntries_[static_cast<std::size_t>(i)];
    // A photo without a picture has no texture and draws nothing.
    if (entry.vertices.empty() || textureNames_[static_cast<std::size_t>(i)] == 0) continue;
    gl_->glNewList(listBase_ + static_cast<unsigned>(i), GL_COMPILE);
    gl_->glBindTexture(GL_TEXTURE_2D, textureNames_[static_cast<std::size_t>(i)]);
    gl_->glEnable(GL_TEXTURE_2D);
    gl_->glInterleavedArrays(GL_T2F_N3F_V3F, 0, entry.vertices.data());
    gl_->glDrawArrays(GL_TRIANGLES, 0, static_cast<int>(entry.vertices.size()));
    gl_->glDisable(GL_TEXTURE_2D);
    if (wireframe_) DrawWireframe(entry);
    gl_->glEndList();
  }
  listsStale_ = false;
}

// Dots of a constant size on the screen, each with a dark rim so that it shows on any photo,
// control points larger; then the camera pyramids' edges. Immediate mode: the markers are few
// next to the triangles and change with every update.
void Ogl::DrawMarkers() {
  const float ratio = static_cast<float>(devicePixelRatioF());
  gl_->glDepthFunc(GL_LEQUAL);
  for (const bool control : {false, true}) {
    const float size = control ? 9.0f : 6.0f;
    for (const bool rim : {true, false}) {
      gl_->glPointSize((rim ? size + 2 : size) * ratio);
      gl_->glBegin(GL_POINTS);
      for (const MarkerPoint& point : markers_.points) {
        if (point.control != control) continue;
        if (rim) {
          gl_->glColor3ub(30, 30, 30);
        } else {
          gl_->glColor3ub(point.colour[0], point.colour[1], point.colour[2]);
        }
        gl_->glVertex3f(point.at[0], point.at[1], point.at[2]);
      }
      gl_->glEnd();
    }
  }
  gl_->glLineWidth(1.5f * ratio);
  gl_->glBegin(GL_LINES);
  for (const MarkerCamera& camera : markers_.cameras) {
    if (camera.highlighted) {
      gl_->glColor3ub(255, 140, 0);
    } else {
      gl_->glColor3ub(40, 70, 160);
    }
    for (std::size_t k = 0; k < 4; ++k) {
      const auto& corner = camera.base[k];
      const auto& next = camera.base[(k + 1) % 4];
      gl_->glVertex3f(camera.apex[0], camera.apex[1], camera.apex[2]);
      gl_->glVertex3f(corner[0], corner[1], corner[2]);
      gl_->glVertex3f(corner[0], corner[1], corner[2]);
      gl_->glVertex3f(next[0], next[1], next[2]);
    }
  }
  gl_->glEnd();
  gl_->glDepthFunc(GL_LESS);
  // The textures are modulated by the current colour.
  gl_->glColor3f(1, 1, 1);
}

void Ogl::DrawWireframe(const PhotoDrawEntry& entry) {
  gl_->glColor3f(1, 1, 1);
  gl_->glLineWidth(2);
  gl_->glDepthFunc(GL_LEQUAL);
  for (std::size_t k = 0; k + 2 < entry.vertices.size(); k += 3) {
    gl_->glBegin(GL_LINE_LOOP);
    for (std::size_t c = k; c < k + 3; ++c) {
      gl_->glVertex3f(entry.vertices[c].x, entry.vertices[c].y, entry.vertices[c].z);
    }
    gl_->glEnd();
  }
  gl_->glDepthFunc(GL_LESS);
}

void Ogl::paintGL() {
  if (gl_ == nullptr || drawing) return;
  drawing = true;
  if (texturesStale_) UploadTextures();
  if (listsStale_) CompileDisplayLists();
  const qreal ratio = devicePixelRatioF();
  gl_->glViewport(0, 0, static_cast<int>(width() * ratio), static_cast<int>(height() * ratio));
  LoadPerspective(*gl_, projection_);
  gl_->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  gl_->glLoadIdentity();
  gl_->glTranslatef(0, 0, pose_.zDist);
  gl_->glRotatef(pose_.rotX, 1, 0, 0);
  gl_->glRotatef(pose_.rotY, 0, 1, 0);
  gl_->glRotatef(pose_.rotZ, 0, 0, 1);
  for (int i = 0; i < listCount_; ++i) {
    if (!photoEntries_[static_cast<std::size_t>(i)].vertices.empty()) {
      gl_->glCallList(listBase_ + static_cast<unsigned>(i));
    }
  }
  DrawMarkers();
  drawing = false;
}

void Ogl::StartTimer() {
  if (!timer_.isActive()) timer_.start(kTimerPeriodMs, this);
}

void Ogl::mousePressEvent(QMouseEvent* event) {
  lastMouse_ = event->position().toPoint();
  if (event->button() != Qt::LeftButton || !hasContent()) return;
  setCursor(event->modifiers() & Qt::ShiftModifier ? zoomCursor_ : rotateCursor_);
  StartTimer();
}

void Ogl::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) setCursor(Qt::ArrowCursor);
}

void Ogl::mouseMoveEvent(QMouseEvent* event) {
  const QPoint position = event->position().toPoint();
  const QPoint move = position - lastMouse_;
  lastMouse_ = position;
  if (!hasContent()) return;
  setFocus(Qt::MouseFocusReason);
  if (!(event->buttons() & Qt::LeftButton)) return;
  if (event->modifiers() & Qt::ShiftModifier) {
    setCursor(zoomCursor_);
    pose_.zDist += static_cast<float>(move.y()) * kZoomSpeed;
  } else {
    setCursor(rotateCursor_);
    pose_.rotY += static_cast<float>(move.x()) * DragRate();
    pose_.rotX = std::clamp(pose_.rotX + static_cast<float>(move.y()) * DragRate(),
                            kLowestElevation, kHighestElevation);
  }
  moved_ = true;
  StartTimer();
}

void Ogl::wheelEvent(QWheelEvent* event) {
  pose_.zDist += static_cast<float>(event->angleDelta().y()) * kZoomSpeed * 0.1f;
  moved_ = true;
  StartTimer();
  event->accept();
}

void Ogl::keyPressEvent(QKeyEvent* event) {
  const bool keypad = event->modifiers() & Qt::KeypadModifier;
  switch (event->key()) {
    case Qt::Key_Left:
      velocity_.rotY -= kRotSpeed;
      break;
    case Qt::Key_Right:
      velocity_.rotY += kRotSpeed;
      break;
    case Qt::Key_Up:
      velocity_.zDist -= kZoomSpeed;
      break;
    case Qt::Key_Down:
      velocity_.zDist += kZoomSpeed;
      break;
    case Qt::Key_8:
      if (keypad) velocity_.rotX += kRotSpeed;
      break;
    case Qt::Key_2:
      if (keypad) velocity_.rotX -= kRotSpeed;
      break;
    case Qt::Key_6:
      if (keypad) velocity_.rotZ += kRotSpeed;
      break;
    case Qt::Key_4:
      if (keypad) velocity_.rotZ -= kRotSpeed;
      break;
    case Qt::Key_5:
      if (!keypad) break;
      velocity_ = kStill;
      timer_.stop();
      return;
    case Qt::Key_End:
      velocity_ = kStill;
      break;
    case Qt::Key_Clear:  // keypad 5 with Num Lock off
      velocity_ = kStill;
      timer_.stop();
      return;
    case Qt::Key_Home:
      ResetView();
      break;
    case Qt::Key_Shift:
      if (hasContent() && (QGuiApplication::mouseButtons() & Qt::LeftButton)) {
        setCursor(zoomCursor_);
      }
      break;
    default:
      break;
  }
  StartTimer();
}

void Ogl::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Shift && hasContent() &&
      (QGuiApplication::mouseButtons() & Qt::LeftButton)) {
    setCursor(rotateCursor_);
  }
}

void Ogl::timerEvent(QTimerEvent* event) {
  if (event->timerId() != timer_.timerId()) {
    QOpenGLWidget::timerEvent(event);
    return;
  }
  const bool turning = velocity_ != kStill;
  if (turning) {
    // A tilt stops at straight above or below instead of turning the model over; one that
    // lands on the limit exactly stops there too.
    pose_.rotX += velocity_.rotX;
    if (pose_.rotX <= kLowestElevation || pose_.rotX >= kHighestElevation) {
      pose_.rotX = std::clamp(pose_.rotX, kLowestElevation, kHighestElevation);
      velocity_.rotX = 0;
    }
    pose_.rotY += velocity_.rotY;
    pose_.rotZ += velocity_.rotZ;
    pose_.zDist += velocity_.zDist;
  }
  // A frame only when the picture changes: an unchanged one would keep a core busy drawing
  // the same pixels 200 times a second.
  if (turning || moved_) update();
  moved_ = false;
  // With nothing turning the timer rests until the next input starts it. The velocities stay:
  // the turning resumes with the next key, drag, click or wheel turn.
  if (!turning || !rect().contains(mapFromGlobal(QCursor::pos()))) timer_.stop();
}

}  // namespace modrin::views3d
