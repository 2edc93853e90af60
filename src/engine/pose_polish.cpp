#include "engine/pose_polish.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/calibration.h"
#include "engine/geometry/camera.h"

namespace modrin::engine {
namespace {

constexpr int kMaxIterations = 200;
constexpr double kInitialDamping = 1e-3;
constexpr double kMaxDamping = 1e12;
// Relative finite-difference step of the numeric Jacobian.
constexpr double kDifferenceStep = 1e-7;

using Parameters = Eigen::Matrix<double, 6, 1>;

Parameters ParametersOf(const CameraRecord& camera) {
  Parameters p;
  p << camera.orientation.x, camera.orientation.y, camera.orientation.z, camera.translation.x,
      camera.translation.y, camera.translation.z;
  return p;
}

void SetParameters(CameraRecord& camera, const Parameters& p) {
  camera.orientation = {p[0], p[1], p[2]};
  camera.translation = {p[3], p[4], p[5]};
}

// The reprojection residuals (u and v per fully known correspondence) of the scratch camera
// at `p`; false when a real point is not in front of the camera or a value is not finite.
bool Residuals(CameraRecord& scratch, const std::vector<Correspondence>& known, const Parameters& p,
               Eigen::VectorXd& r) {
  SetParameters(scratch, p);
  const Rotation rotation = CameraRotation(scratch.orientation);
  r.resize(static_cast<Eigen::Index>(2 * known.size()));
  for (std::size_t i = 0; i < known.size(); ++i) {
    const ImageProjection q = WorldToImage(scratch, rotation, known[i].real);
    if (!q.inFront) return false;
    r[static_cast<Eigen::Index>(2 * i)] = q.image.x - known[i].image.x;
    r[static_cast<Eigen::Index>(2 * i + 1)] = q.image.y - known[i].image.y;
  }
  return r.allFinite();
}

// Central differences; the translation's step scales with the distance to the scene.
bool Jacobian(CameraRecord& scratch, const std::vector<Correspondence>& known, const Parameters& p,
              double translationScale, Eigen::MatrixXd& jacobian) {
  jacobian.resize(static_cast<Eigen::Index>(2 * known.size()), 6);
  Eigen::VectorXd plus, minus;
  for (int k = 0; k < 6; ++k) {
    const double h = kDifferenceStep * (k < 3 ? 1.0 : translationScale);
    Parameters forward = p, backward = p;
    forward[k] += h;
    backward[k] -= h;
    if (!Residuals(scratch, known, forward, plus) || !Residuals(scratch, known, backward, minus)) {
      return false;
    }
    jacobian.col(k) = (plus - minus) / (2 * h);
  }
  return true;
}

std::vector<Correspondence> FullyKnown(const CameraRecord& camera) {
  std::vector<Correspondence> known;
  for (const Correspondence& c : camera.correspondences) {
    if (IsFullyKnown(c.real)) known.push_back(c);
  }
  return known;
}

CameraRecord ScratchOf(const CameraRecord& camera) {
  CameraRecord scratch;
  scratch.cameraEntry = camera.cameraEntry;
  scratch.focal = camera.focal;
  return scratch;
}

// How far the camera is from its real points: sets the scale of translation steps.
double SceneDistance(const CameraRecord& camera, const std::vector<Correspondence>& known) {
  double largest = 0;
  for (const Correspondence& c : known) {
    largest = std::max(largest, std::sqrt((c.real - camera.translation).SquaredLength()));
  }
  return std::max(largest, 1e-9);
}

}  // namespace

std::optional<double> SquaredReprojectionSum(const CameraRecord& camera) {
  const std::vector<Correspondence> known = FullyKnown(camera);
  CameraRecord scratch = ScratchOf(camera);
  Eigen::VectorXd r;
  if (!Residuals(scratch, known, ParametersOf(camera), r)) return std::nullopt;
  return r.squaredNorm();
}

std::optional<PolishedPose> PolishPose(const CameraRecord& camera) {
  const std::vector<Correspondence> known = FullyKnown(camera);
  if (known.size() < 3) return std::nullopt;
  CameraRecord scratch = ScratchOf(camera);
  const double scale = SceneDistance(camera, known);

  Parameters p = ParametersOf(camera);
  Eigen::VectorXd r;
  if (!Residuals(scratch, known, p, r)) return std::nullopt;
  const double start = r.squaredNorm();
  double cost = start;
  double damping = kInitialDamping;
  Eigen::MatrixXd jacobian;
  Eigen::VectorXd trial;
  for (int iteration = 0; iteration < kMaxIterations && damping < kMaxDamping; ++iteration) {
    if (!Jacobian(scratch, known, p, scale, jacobian)) break;
    const Eigen::Matrix<double, 6, 6> normal = jacobian.transpose() * jacobian;
    const Parameters gradient = jacobian.transpose() * r;
    bool improved = false;
    while (damping < kMaxDamping) {
      Eigen::Matrix<double, 6, 6> damped = normal;
      damped.diagonal() += damping * (normal.diagonal().array() + 1e-12).matrix();
      const Parameters step = damped.ldlt().solve(-gradient);
      const Parameters next = p + step;
      if (step.allFinite() && Residuals(scratch, known, next, trial) &&
          trial.squaredNorm() < cost) {
        const double relativeGain = (cost - trial.squaredNorm()) / cost;
        p = next;
        r = trial;
        cost = trial.squaredNorm();
        damping = std::max(damping / 10, 1e-12);
        improved = relativeGain > 1e-12;
        break;
      }
      damping *= 10;
    }
    if (!improved) break;
  }
  if (!(cost < start)) return std::nullopt;
  return PolishedPose{{p[3], p[4], p[5]}, {p[0], p[1], p[2]}, start, cost};
}

}  // namespace modrin::engine
