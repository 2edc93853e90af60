#include "engine/resection.h"

#include <Eigen/Dense>
#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <limits>

#include "engine/calibration.h"
#include "images/camera_database.h"

namespace modrin::engine {
namespace {

// At most this many points, spread over the scene, make the triples of the closed-form pose:
// 120 triples, a few microseconds each.
constexpr std::size_t kSpreadPoints = 10;
// A root of the distance quartic counts as real when its imaginary part is this small against
// its size: a double root (two poses merging) comes out of the eigenvalues slightly complex.
constexpr double kRealRoot = 1e-6;

// Coefficients from the constant term up.
using Polynomial = std::vector<double>;

Polynomial Multiply(const Polynomial& a, const Polynomial& b) {
  Polynomial product(a.size() + b.size() - 1, 0.0);
  for (std::size_t i = 0; i < a.size(); ++i) {
    for (std::size_t j = 0; j < b.size(); ++j) product[i + j] += a[i] * b[j];
  }
  return product;
}

Polynomial Add(Polynomial a, const Polynomial& b, double scale) {
  if (a.size() < b.size()) a.resize(b.size(), 0.0);
  for (std::size_t i = 0; i < b.size(); ++i) a[i] += scale * b[i];
  return a;
}

double Evaluate(const Polynomial& p, double x) {
  double value = 0;
  for (std::size_t i = p.size(); i-- > 0;) value = value * x + p[i];
  return value;
}

// The real roots, from the eigenvalues of the companion matrix, each sharpened by Newton steps.
std::vector<double> RealRoots(Polynomial p) {
  double largest = 0;
  for (const double c : p) largest = std::max(largest, std::abs(c));
  while (p.size() > 1 && std::abs(p.back()) <= 1e-14 * largest) p.pop_back();
  const auto degree = static_cast<Eigen::Index>(p.size()) - 1;
  std::vector<double> roots;
  if (degree < 1 || !(largest > 0)) return roots;
  Eigen::MatrixXd companion = Eigen::MatrixXd::Zero(degree, degree);
  for (Eigen::Index i = 0; i < degree; ++i) {
    companion(0, i) = -p[static_cast<std::size_t>(degree - 1 - i)] / p.back();
    if (i + 1 < degree) companion(i + 1, i) = 1;
  }
  const Eigen::VectorXcd eigenvalues = companion.eigenvalues();
  Polynomial derivative;
  for (std::size_t i = 1; i < p.size(); ++i) derivative.push_back(static_cast<double>(i) * p[i]);
  for (Eigen::Index i = 0; i < degree; ++i) {
    const std::complex<double> z = eigenvalues[i];
    if (std::abs(z.imag()) > kRealRoot * (1 + std::abs(z.real()))) continue;
    double x = z.real();
    for (int step = 0; step < 3; ++step) {
      const double slope = Evaluate(derivative, x);
      if (slope == 0) break;
      const double next = x - Evaluate(p, x) / slope;
      if (!std::isfinite(next)) break;
      x = next;
    }
    roots.push_back(x);
  }
  return roots;
}

Eigen::Vector3d ToEigen(const Vec3& v) { return {v.x, v.y, v.z}; }
Vec3 FromEigen(const Eigen::Vector3d& v) { return {v.x(), v.y(), v.z()}; }

// The unit camera-frame direction of a normalized image point.
Eigen::Vector3d Bearing(const CameraRecord& camera, const Vec2& image) {
  return Eigen::Vector3d(image.x * camera.cameraEntry->cellWidth, camera.focal,
                         image.y * camera.cameraEntry->cellHeight)
      .normalized();
}

// The pose that carries the world points onto the camera-frame points (the camera frame's
// points are world_to_camera (world - centre)): the least-squares rigid motion.
std::optional<CameraPose> Align(const std::array<Eigen::Vector3d, 3>& world,
                                const std::array<Eigen::Vector3d, 3>& inCamera) {
  const Eigen::Vector3d worldMean = (world[0] + world[1] + world[2]) / 3;
  const Eigen::Vector3d cameraMean = (inCamera[0] + inCamera[1] + inCamera[2]) / 3;
  Eigen::Matrix3d covariance = Eigen::Matrix3d::Zero();
  for (std::size_t i = 0; i < 3; ++i) {
    covariance += (world[i] - worldMean) * (inCamera[i] - cameraMean).transpose();
  }
  const Eigen::JacobiSVD<Eigen::Matrix3d> svd(covariance,
                                              Eigen::ComputeFullU | Eigen::ComputeFullV);
  Eigen::Matrix3d flip = Eigen::Matrix3d::Identity();
  if ((svd.matrixV() * svd.matrixU().transpose()).determinant() < 0) flip(2, 2) = -1;
  const Eigen::Matrix3d cameraFromWorld = svd.matrixV() * flip * svd.matrixU().transpose();
  const Eigen::Matrix3d worldFromCamera = cameraFromWorld.transpose();
  const Eigen::Vector3d centre = worldMean - worldFromCamera * cameraMean;
  if (!worldFromCamera.allFinite() || !centre.allFinite()) return std::nullopt;
  Rotation rotation;
  for (int r = 0; r < 3; ++r) {
    rotation.rows[static_cast<std::size_t>(r)] = FromEigen(worldFromCamera.row(r).transpose());
  }
  return CameraPose{FromEigen(centre), OrientationOf(rotation)};
}

std::vector<Correspondence> FullyKnownOf(const CameraRecord& camera) {
  std::vector<Correspondence> known;
  for (const Correspondence& c : camera.correspondences) {
    if (IsFullyKnown(c.real)) known.push_back(c);
  }
  return known;
}

// Up to kSpreadPoints indices of `known`, each the farthest from those chosen before, starting
// with the one farthest from the centroid (the first of equals), so the triples span the scene.
std::vector<std::size_t> SpreadPoints(const std::vector<Correspondence>& known) {
  Vec3 centroid{0, 0, 0};
  for (const Correspondence& c : known) centroid = centroid + c.real;
  centroid = centroid / static_cast<double>(known.size());
  std::vector<double> nearest(known.size());
  for (std::size_t i = 0; i < known.size(); ++i) {
    nearest[i] = (known[i].real - centroid).SquaredLength();
  }
  std::vector<std::size_t> chosen;
  while (chosen.size() < std::min(kSpreadPoints, known.size())) {
    const auto next = static_cast<std::size_t>(std::max_element(nearest.begin(), nearest.end()) -
                                               nearest.begin());
    chosen.push_back(next);
    for (std::size_t i = 0; i < known.size(); ++i) {
      nearest[i] = std::min(nearest[i], (known[i].real - known[next].real).SquaredLength());
    }
    nearest[next] = -1;
  }
  std::sort(chosen.begin(), chosen.end());
  return chosen;
}

}  // namespace

std::vector<CameraPose> ThreePointPoses(const CameraRecord& camera, const Correspondence& p1,
                                        const Correspondence& p2, const Correspondence& p3) {
  std::vector<CameraPose> poses;
  const std::array<Eigen::Vector3d, 3> world{ToEigen(p1.real), ToEigen(p2.real), ToEigen(p3.real)};
  const std::array<Eigen::Vector3d, 3> bearing{Bearing(camera, p1.image), Bearing(camera, p2.image),
                                               Bearing(camera, p3.image)};
  // Side lengths opposite each point and the cosines of the angles between the rays.
  const double a2 = (world[1] - world[2]).squaredNorm(), b2 = (world[0] - world[2]).squaredNorm(),
               c2 = (world[0] - world[1]).squaredNorm();
  const double area = (world[1] - world[0]).cross(world[2] - world[0]).norm();
  if (!(area > 1e-9 * std::max({a2, b2, c2}))) return poses;
  const double cosAlpha = bearing[1].dot(bearing[2]), cosBeta = bearing[0].dot(bearing[2]),
               cosGamma = bearing[0].dot(bearing[1]);

  // With distances s1, s2 = x s1, s3 = y s1 along the rays, the law of cosines for the three
  // sides gives two conics in (x, y). Their difference is linear in x, x = n(y) / d(y);
  // substituted into the conic of side c it leaves a quartic in y.
  const double k = (a2 - c2) / b2;
  const Polynomial n{1 + k, -2 * k * cosBeta, k - 1};
  const Polynomial d{2 * cosGamma, -2 * cosAlpha};
  const Polynomial e{1 - c2 / b2, 2 * c2 / b2 * cosBeta, -c2 / b2};
  Polynomial quartic = Multiply(n, n);
  quartic = Add(quartic, Multiply(n, d), -2 * cosGamma);
  quartic = Add(quartic, Multiply(e, Multiply(d, d)), 1);

  for (const double y : RealRoots(quartic)) {
    const double denominator = Evaluate(d, y);
    if (!(y > 0) || std::abs(denominator) < 1e-12) continue;
    const double x = Evaluate(n, y) / denominator;
    const double s1Squared = b2 / (1 + y * y - 2 * y * cosBeta);
    if (!(x > 0) || !(s1Squared > 0) || !std::isfinite(s1Squared)) continue;
    const double s1 = std::sqrt(s1Squared);
    const std::optional<CameraPose> pose =
        Align(world, {bearing[0] * s1, bearing[1] * (x * s1), bearing[2] * (y * s1)});
    if (!pose) continue;
    CameraRecord placed = camera;
    placed.translation = pose->translation;
    placed.orientation = pose->orientation;
    const Rotation rotation = CameraRotation(pose->orientation);
    bool inFront = true;
    for (const Correspondence* c : {&p1, &p2, &p3}) {
      inFront = inFront && WorldToImage(placed, rotation, c->real).inFront;
    }
    if (inFront) poses.push_back(*pose);
  }
  return poses;
}

std::optional<CameraPose> ClosedFormPose(const CameraRecord& camera) {
  const std::vector<Correspondence> known = FullyKnownOf(camera);
  if (known.size() < 4) return std::nullopt;
  const std::vector<std::size_t> spread = SpreadPoints(known);
  CameraRecord placed = camera;
  std::optional<CameraPose> best;
  double bestSum = std::numeric_limits<double>::infinity();
  for (std::size_t i = 0; i < spread.size(); ++i) {
    for (std::size_t j = i + 1; j < spread.size(); ++j) {
      for (std::size_t k = j + 1; k < spread.size(); ++k) {
        for (const CameraPose& pose :
             ThreePointPoses(camera, known[spread[i]], known[spread[j]], known[spread[k]])) {
          placed.translation = pose.translation;
          placed.orientation = pose.orientation;
          const std::optional<double> sum = MarkFit(placed);
          if (sum && *sum < bestSum) {
            bestSum = *sum;
            best = pose;
          }
        }
      }
    }
  }
  return best;
}

std::optional<double> LineResidual(const CameraRecord& camera, const Rotation& rotation,
                                   const Correspondence& correspondence) {
  const std::array<double, 3> real{correspondence.real.x, correspondence.real.y,
                                   correspondence.real.z};
  int unknown = -1, unknowns = 0;
  for (int axis = 0; axis < 3; ++axis) {
    if (real[static_cast<std::size_t>(axis)] == UnknownCoordinate) {
      unknown = axis;
      ++unknowns;
    }
  }
  if (unknowns != 1) return std::nullopt;
  // The plane through the camera centre and the line sees the line's image; its normal in the
  // camera frame gives that image line on the image plane (second component = focal).
  Vec3 onLine = correspondence.real, along{0, 0, 0};
  (unknown == 0 ? onLine.x : unknown == 1 ? onLine.y : onLine.z) = 0;
  (unknown == 0 ? along.x : unknown == 1 ? along.y : along.z) = 1;
  const Vec3 toLine = onLine - camera.translation;
  const Vec3 normal = rotation.ApplyInverse(Cross(toLine, along));
  const double inPlane = std::sqrt(normal.x * normal.x + normal.z * normal.z);
  if (!(inPlane > 1e-12 * std::sqrt(toLine.SquaredLength()))) return std::nullopt;
  const Vec3 mark{correspondence.image.x * camera.cameraEntry->cellWidth, camera.focal,
                  correspondence.image.y * camera.cameraEntry->cellHeight};
  const double residual = std::abs(Dot(normal, mark)) / inPlane / camera.cameraEntry->cellWidth;
  return std::isfinite(residual) ? std::optional<double>(residual) : std::nullopt;
}

std::optional<double> MarkFit(const CameraRecord& camera) {
  const Rotation rotation = CameraRotation(camera.orientation);
  double sum = 0;
  for (const Correspondence& c : camera.correspondences) {
    if (IsFullyKnown(c.real)) {
      const ImageProjection q = WorldToImage(camera, rotation, c.real);
      if (!q.inFront) return std::nullopt;
      const double du = q.image.x - c.image.x, dv = q.image.y - c.image.y;
      sum += du * du + dv * dv;
    } else if (const std::optional<double> residual = LineResidual(camera, rotation, c)) {
      sum += *residual * *residual;
    }
  }
  return std::isfinite(sum) ? std::optional<double>(sum) : std::nullopt;
}

}  // namespace modrin::engine
