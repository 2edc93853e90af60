#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

namespace modrin::images {
struct DecodedImage;
}
namespace modrin::model {
class Project;
}

namespace modrin::views3d {

// One corner of a drawn triangle in OpenGL's interleaved T2F_N3F_V3F layout: texture
// coordinates, the triangle's normal, position. The view's axes: x right, y up (the model's
// z), z towards the eye (minus the model's y), centred on the model's bounding box.
struct DrawVertex {
  float s = 0, t = 0;
  float nx = 0, ny = 0, nz = 0;
  float x = 0, y = 0, z = 0;
};
static_assert(sizeof(DrawVertex) == 32, "OpenGL reads the vertices tightly packed");

// A photo resampled for a texture: power-of-two sides up to 1024, three bytes per pixel in
// blue-green-red order, rows bottom-up (t = 0 is the bottom of the photo).
struct TextureImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> bgr;

  bool empty() const { return width == 0 || height == 0; }
};

// What the view draws for one photo: its texture and the triangles of every current object's
// mesh for that photo, three vertices per triangle.
struct PhotoDrawEntry {
  TextureImage texture;  // empty for a photo without a decoded picture: nothing is drawn
  std::vector<DrawVertex> vertices;
};

// The bounding box of the drawn model in model coordinates. Without any triangle the box keeps
// its initial extremes (min above max); a box made without values is empty too.
struct ModelBox {
  std::array<double, 3> min{1, 1, 1};
  std::array<double, 3> max{-1, -1, -1};
  std::array<double, 3> center{};

  bool empty() const { return min[0] > max[0]; }
};

// A position with 3D coordinates, drawn as a dot of constant screen size at `at` (the view's
// axes, as DrawVertex positions), coloured by how well it agrees with its marks.
struct MarkerPoint {
  std::array<float, 3> at{};
  std::array<std::uint8_t, 3> colour{};
  bool control = false;  // typed coordinates: drawn larger
};

// A calibrated photo's camera, drawn as a pyramid: the apex at its centre of projection, the
// base its photo's frame (corners counter-clockwise from the lower left, as the photo shows
// them), a tenth of the scene's size away.
struct MarkerCamera {
  std::array<float, 3> apex{};
  std::array<std::array<float, 3>, 4> base{};
  bool highlighted = false;  // the photo is shown in a photo view
  std::size_t photo = 0;
};

// What the view draws besides the meshes, and which of it goes into the box it fits.
struct MarkerOptions {
  bool points = true;
  bool cameras = true;
  // The largest reprojection error in pixels of each position (by id) in the photos it is
  // marked in; a position without one is drawn grey.
  std::map<std::int32_t, double> largestError_px;
  std::set<std::size_t> highlightedPhotos;
};

struct SceneMarkers {
  std::vector<MarkerPoint> points;
  std::vector<MarkerCamera> cameras;
};

// The dot colour of a largest reprojection error: green below 1 pixel, red above 5, through
// yellow (at 3) in between.
std::array<std::uint8_t, 3> ErrorColour(double error_px);

// The texture side for a picture side: the next power of two, at most 1024.
int TextureSide(int pictureSide);

// The picture resampled to its texture size with nearest-pixel sampling.
TextureImage MakeTexture(const images::DecodedImage& picture);

// One entry per photo of the project, in photo order, with its texture and no vertices.
std::vector<PhotoDrawEntry> CreateEntries(const model::Project& project);

// Fills every entry's vertices from the meshes of the project's current objects and returns the
// box they span. Entries past the project's photos stay empty. With `markers`, also the
// positions with 3D coordinates and the calibrated cameras, as `options` choose them; those
// shown widen the box, so the view fits them too.
ModelBox BuildArrays(const model::Project& project, std::vector<PhotoDrawEntry>& entries,
                     SceneMarkers* markers = nullptr, const MarkerOptions& options = {});

// The eye and projection of the view: the model turned by rotX, rotY, rotZ (degrees, about the
// view's x, y, z axes) and moved zDist along the view's z axis. Turned as OpenGL applies them,
// z first: with rotZ at 0, rotY turns the model about its upright axis and rotX then tilts it
// toward the eye, so rotX is the eye's elevation above the model's horizon.
struct ViewPose {
  float rotX = 0, rotY = 0, rotZ = 0;
  float zDist = -10.0f;

  bool operator==(const ViewPose&) const = default;
};

// The elevation a turn may reach: from straight below (-90) to straight above (90), so the
// model never turns over.
inline constexpr float kLowestElevation = -90.0f;
inline constexpr float kHighestElevation = 90.0f;

// The share of the view's half-width and half-height that a fitted model's box reaches.
inline constexpr double kFitShare = 0.85;

struct Projection {
  double fovy = 45.0;  // degrees, vertical
  double aspect = 1.0;
  double zNear = 0.1;
  double zFar = 100.0;
};

// A point given in the view's axes relative to the box centre, turned by the pose's rotation
// as the view draws it.
std::array<double, 3> Turned(const ViewPose& pose, const std::array<double, 3>& point);

// The turn the view starts from and goes back to (Home, Full screen): the model seen from the
// side of the camera of the first calibrated photo, at least 20 degrees above the horizon so
// that its top shows; from above and in front (30 degrees up, 30 to the right) when no photo
// is calibrated or the model is empty. zDist is left at its default.
ViewPose HomeTurn(const model::Project& project, const ModelBox& box);

// The distance at which the whole box shows in a view of the given field and aspect, turned
// as `turn` is: every corner within kFitShare of the view's half-width and half-height.
float FitDistance(const ModelBox& box, const ViewPose& turn, double fovy, double aspect);

// Whether a model whose box is now `box` has grown out of the view last fitted to `fitted`:
// it needs the eye farther away than that fit put it (at the view's turn, field and aspect as
// they are now), or the fit was made with nothing to show. A box that shrinks or keeps its
// size, wherever its centre moved, still shows whole, centred in the view.
bool OutgrowsFit(const ModelBox& fitted, const ModelBox& box, const ViewPose& turn, double fovy,
                 double aspect);

// The near and far planes for the box seen from `zDist`: a tenth of the distance to the box's
// near face and ten times the distance to its far face.
void SetDepthRange(const ModelBox& box, float zDist, Projection& projection);

}  // namespace modrin::views3d
