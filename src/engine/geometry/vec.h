#pragma once

#include <cmath>

namespace modrin::engine {

// pi and 2 pi as the engine computes them, so every angle fold agrees bit for bit.
inline double Pi() { return 2.0 * std::acos(0.0); }
inline double TwoPi() { return 4.0 * std::acos(0.0); }

struct Vec3 {
  double x = 0;
  double y = 0;
  double z = 0;

  friend Vec3 operator+(const Vec3& a, const Vec3& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
  friend Vec3 operator-(const Vec3& a, const Vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
  friend Vec3 operator*(const Vec3& a, double s) { return {a.x * s, a.y * s, a.z * s}; }
  friend Vec3 operator/(const Vec3& a, double s) { return {a.x / s, a.y / s, a.z / s}; }
  friend bool operator==(const Vec3&, const Vec3&) = default;

  double SquaredLength() const { return x * x + y * y + z * z; }
};

// (a.x / b.x, a.y / b.y, a.z / b.z)
inline Vec3 ComponentwiseQuotient(const Vec3& a, const Vec3& b) {
  return {a.x / b.x, a.y / b.y, a.z / b.z};
}

inline Vec3 Cross(const Vec3& a, const Vec3& b) {
  return {a.y * b.z - b.y * a.z, b.x * a.z - a.x * b.z, b.y * a.x - a.y * b.x};
}

inline double Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

struct Vec2 {
  double x = 0;
  double y = 0;

  friend Vec2 operator-(const Vec2& a, const Vec2& b) { return {a.x - b.x, a.y - b.y}; }
  friend bool operator==(const Vec2&, const Vec2&) = default;

  double SquaredLength() const { return x * x + y * y; }

  // Direction angle in [-pi/2, 3pi/2); (0, 0) gives pi/2. Callers use only differences.
  double Angle() const {
    if (x == 0) return y >= 0 ? Pi() / 2 : -Pi() / 2;
    double angle = std::atan(y / x);
    return x < 0 ? angle + Pi() : angle;
  }
};

// A line through `origin` along `dir` (not normalized).
struct Line3 {
  Vec3 origin;
  Vec3 dir;
};

// A plane through the origin with unit `normal`; `offset` is stored but not used by projection.
struct Plane {
  double offset = 0;
  Vec3 normal;

  Plane() = default;
  Plane(const Vec3& direction, double planeOffset)
      : offset(planeOffset), normal(direction / std::sqrt(direction.SquaredLength())) {}
};

}  // namespace modrin::engine
