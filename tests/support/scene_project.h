#pragma once

// A project whose photos are taken by known cameras of a synthetic scene, marked at the
// projections of known points: the fixture of the engine's reconstruction and accuracy tests.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/geometry/camera.h"
#include "images/decoded_image.h"
#include "model/project.h"
#include "synthetic_scene.h"

namespace modrin::testing {

class SceneProject {
 public:
  explicit SceneProject(int width = kPhotoWidth, int height = kPhotoHeight)
      : width_(width), height_(height) {}

  // Adds a pending, not calibrated photo of the camera, without its pose. Its picture has the
  // scene's size and no pixels: only the size enters the engine.
  void AddPhoto(const engine::CameraRecord& truth) {
    model::Photo& photo = project.AddPhoto();
    photo.path = "/scene/photo" + std::to_string(project.photos.size()) + ".jpg";
    auto picture = std::make_unique<images::DecodedImage>();
    picture->width = width_;
    picture->height = height_;
    photo.levels.push_back(std::move(picture));
    photo.camera.cameraEntry = truth.cameraEntry;
    photo.camera.focal = truth.focal;
    photo.camera.pending = true;
    truths.push_back(truth);
  }

  // A position marked in the given photos at its projection rounded to pixels, after normally
  // distributed noise of `sigmaPixels` on each axis when `random` is given.
  std::int32_t Mark(const engine::Vec3& point, const std::vector<int>& photos, bool real,
                    std::mt19937* random = nullptr, double sigmaPixels = 0) {
    std::normal_distribution<double> noise(0, sigmaPixels);
    std::int32_t id = 0;
    project.graph.NewPosition(id);
    for (const int p : photos) {
      const engine::Vec2 uv = engine::WorldToImage(truths[p], point).image;
      double x = (uv.x + 0.5) * width_, y = (uv.y + 0.5) * height_;
      if (random != nullptr) {
        x += noise(*random);
        y += noise(*random);
      }
      project.graph.SetImagePoint(
          id, p,
          {static_cast<std::int32_t>(std::lround(x)), static_cast<std::int32_t>(std::lround(y))});
    }
    if (real) project.graph.SetRealCoords(id, {point.x, point.y, point.z});
    return id;
  }

  // Gives every photo its true pose and marks it calibrated.
  void UseTruePoses() {
    for (std::size_t p = 0; p < truths.size(); ++p) {
      engine::CameraRecord& camera = project.photos[p]->camera;
      camera.translation = truths[p].translation;
      camera.orientation = truths[p].orientation;
      camera.calibrated = true;
      camera.pending = false;
    }
  }

  const engine::CameraRecord& camera(int p) const { return project.photos[p]->camera; }

  model::Project project;
  std::vector<engine::CameraRecord> truths;

 private:
  int width_;
  int height_;
};

// Three cameras around a 10 x 8 x 5 box whose eight corners are known.
inline void AddBoxScene(SceneProject& scene) {
  const engine::Vec3 centre{5, 4, 2.5};
  for (const engine::Vec3& position :
       {engine::Vec3{-14, -12, 9}, engine::Vec3{22, -10, 7}, engine::Vec3{18, 24, 11}}) {
    scene.AddPhoto(MakeCamera(0.03, position, LookAt(position, centre, 0.02)));
  }
  for (const double x : {0.0, 10.0}) {
    for (const double y : {0.0, 8.0}) {
      for (const double z : {0.0, 5.0}) scene.Mark({x, y, z}, {0, 1, 2}, true);
    }
  }
}

// `count` photos on a ring around the 10 x 8 x 5 box at two heights and three distances, each
// framing the whole box.
inline void AddRing(SceneProject& scene, int count) {
  const engine::Vec3 centre{5, 4, 2.5};
  for (int k = 0; k < count; ++k) {
    const double azimuth = 2 * engine::Pi() * k / count + 0.2, elevation = k % 2 ? 0.45 : 0.25;
    const double distance = 20 + 2 * (k % 3);
    const engine::Vec3 position =
        centre + engine::Vec3{std::cos(azimuth) * std::cos(elevation),
                              std::sin(azimuth) * std::cos(elevation), std::sin(elevation)} *
                     distance;
    engine::CameraRecord camera = MakeCamera(0.035, position, LookAt(position, centre, 0.01 * k));
    double extent = 0;
    for (const double x : {0.0, 10.0}) {
      for (const double y : {0.0, 8.0}) {
        for (const double z : {0.0, 5.0}) {
          const engine::Vec2 uv = engine::WorldToImage(camera, {x, y, z}).image;
          extent = std::max({extent, std::abs(uv.x), std::abs(uv.y)});
        }
      }
    }
    camera.focal *= 0.45 / extent;
    scene.AddPhoto(camera);
  }
}

}  // namespace modrin::testing
