#include "model/project_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "images/file_io.h"
#include "images/number_text.h"
#include "images/text_scanner.h"
#include "model/project.h"

namespace modrin::model {

using images::AppendFixed;
using images::AppendInt;
using images::TextScanner;

namespace {

// ---------------------------------------------------------------------------------------------
// Writing. Numbers are written as printf writes them in the C locale, whatever the process
// locale is.

// "(%d,%d)"
void AppendIntPair(std::string& out, std::int32_t a, std::int32_t b) {
  out += '(';
  AppendInt(out, a);
  out += ',';
  AppendInt(out, b);
  out += ')';
}

// `prefix` x `separator` y `separator` z ")"
void AppendTriple(std::string& out, std::string_view prefix, double x, double y, double z,
                  int precision, std::string_view separator) {
  out += prefix;
  AppendFixed(out, x, precision);
  out += separator;
  AppendFixed(out, y, precision);
  out += separator;
  AppendFixed(out, z, precision);
  out += ')';
}

void WritePhoto(const Photo& photo, std::string& out) {
  const engine::CameraRecord& camera = photo.camera;
  // Path bytes are written unchanged.
  out += "Image: \"";
  out += photo.path;
  out += "\"\n\tCalibrated: ";
  out += camera.calibrated ? 'Y' : 'N';
  out += '\n';
  AppendTriple(out, "\tTranslation: (", camera.translation.x, camera.translation.y,
               camera.translation.z, 4, ", ");
  out += '\n';
  AppendTriple(out, "\tOrientation: (", camera.orientation.x, camera.orientation.y,
               camera.orientation.z, 4, ", ");
  out += "\n\tFocal: ";
  AppendFixed(out, camera.focal, 6);
  out += '\n';
}

void WritePosition(std::int32_t id, const Position& position, std::string& out) {
  out += '\t';
  AppendInt(out, id);
  out += position.isReal ? ": U" : ": -";
  if (position.isReal || position.isComputed) {
    AppendTriple(out, " R(", position.coords[0], position.coords[1], position.coords[2], 3, ",");
  }
  for (const auto& [photo, point] : position.imagePoints) {
    out += ' ';
    AppendInt(out, photo);
    AppendIntPair(out, point.x, point.y);
  }
  out += '\n';
}

// ---------------------------------------------------------------------------------------------
// Reading.

// Moves what reading fills (photos, positions, edges, objects and both id counters) from
// `from` into `into`, replacing what `into` held; the camera database stays.
void MoveContents(Project& from, Project& into) {
  into.Clear();
  into.photos = std::move(from.photos);
  PositionGraph& graph = into.graph;
  graph.positions = std::move(from.graph.positions);
  graph.lastPositionId = from.graph.lastPositionId;
  graph.edges = std::move(from.graph.edges);
  graph.lastEdgeId = from.graph.lastEdgeId;
  into.objects = std::move(from.objects);
  for (auto& object : into.objects) object->graph = &graph;
}

// Empties everything reading fills: objects, photos, positions, edges and both counters.
void EmptyProject(Project& project) {
  project.Clear();
  project.graph.positions.clear();
  project.graph.lastPositionId = 0;
  project.graph.edges.clear();
  project.graph.lastEdgeId = 0;
}

// Gives object names exactly as Project::AddObject does (the requested name, else the
// requested name followed by the smallest counter from 1 on that no object has), in time
// linear in the text read. AddObject compares with every object for every candidate, which a
// file of many same-named objects would turn into cubic time. The smallest free counter of a
// name never goes down while objects are only added, so each name resumes where it stopped.
class ObjectNamer {
 public:
  std::string Unique(const std::string& requested) {
    if (taken_.insert(requested).second) return requested;
    long long& counter = lastCounter_[requested];
    std::string candidate;
    do {
      ++counter;
      candidate = requested + std::to_string(counter);
    } while (!taken_.insert(candidate).second);
    return candidate;
  }

 private:
  std::unordered_set<std::string> taken_;
  std::unordered_map<std::string, long long> lastCounter_;
};

// Appends `object` with one mesh per photo, as AddObject would; null, nothing appended, when
// that would pass kMaxReadPhotoMeshes.
Object* AppendObject(Project& project, std::unique_ptr<Object> object) {
  const std::size_t photoCount = project.photos.size();
  if ((project.objects.size() + 1) * photoCount > kMaxReadPhotoMeshes) return nullptr;
  object->graph = &project.graph;
  object->photoMeshes.reserve(photoCount);
  for (std::size_t i = 0; i < photoCount; ++i) {
    object->photoMeshes.push_back(std::make_unique<ObjectPhotoMesh>());
  }
  project.objects.push_back(std::move(object));
  return project.objects.back().get();
}

// `prefix` "%lf" `separator` "%lf" `separator` "%lf" ")\n". As with scanf, every number read
// is stored at once, so a line that breaks off after the first number still sets x.
void ReadTriple(TextScanner& in, std::string_view prefix, engine::Vec3& value) {
  if (in.MatchLiteral(prefix) && in.ReadDouble(value.x) && in.MatchLiteral(", ") &&
      in.ReadDouble(value.y) && in.MatchLiteral(", ") && in.ReadDouble(value.z)) {
    in.MatchLiteral(")\n");
  }
}

// `label` "%lf\n"
void ReadLabelled(TextScanner& in, std::string_view label, double& value) {
  if (in.MatchLiteral(label) && in.ReadDouble(value)) in.MatchLiteral("\n");
}

// The camera lines of a photo block, read in sequence without testing: a line that does not
// match leaves its field as constructed, and the next line is tried from the mismatch on.
void ReadCameraLines(TextScanner& in, engine::CameraRecord& camera) {
  char flag = 0;
  if (in.MatchLiteral("\tCalibrated: ") && in.ReadChar(flag)) {
    camera.calibrated = flag == 'Y';
    in.MatchLiteral("\n");
  }
  ReadTriple(in, "\tTranslation: (", camera.translation);
  ReadTriple(in, "\tOrientation: (", camera.orientation);
  ReadLabelled(in, "\tFocal: ", camera.focal);
}

// Reads within one line while it lives: the line's end counts as the end of the text.
class LineOnly {
 public:
  explicit LineOnly(TextScanner& in) : in_(in) { in_.SetLineOnly(true); }
  ~LineOnly() { in_.SetLineOnly(false); }
  LineOnly(const LineOnly&) = delete;
  LineOnly& operator=(const LineOnly&) = delete;

 private:
  TextScanner& in_;
};

// Ends a line read within its own bounds. With only white space left on the line, reading
// goes on at the next line (true). Otherwise the scanner is left at the unreadable text, which
// ends the section (false).
bool FinishLine(TextScanner& in) {
  in.SkipWhitespace();
  return in.AtEnd();
}

void StorePosition(PositionGraph& graph, std::int32_t id, Position position) {
  graph.lastPositionId = std::max(graph.lastPositionId, id);
  // An id already present keeps its earlier line.
  graph.positions.emplace(id, std::move(position));
}

// One line of the positions section: "\t%d: %s", optionally " R(%lf,%lf,%lf)", then entries
// " %d(%d,%d)". The line is read within its own bounds: a line without entries (or without
// coordinates and entries) is a position without image points, and the marker is only the rest
// of its token, so neither can reach into the next line. False when no position was read, or
// when text follows that fits no piece; the scanner is then left at the mismatch.
bool ReadPositionLine(TextScanner& in, PositionGraph& graph) {
  in.SkipWhitespace();
  const LineOnly lineOnly(in);
  std::int32_t id = 0;
  std::string_view marker;
  if (!(in.ReadInt(id) && in.MatchLiteral(": ") && in.ReadToken(marker))) return false;
  Position position;
  position.isReal = marker.find('U') != std::string_view::npos;
  double x = 0, y = 0, z = 0;
  if (in.MatchLiteral(" R(") && in.ReadDouble(x) && in.MatchLiteral(",") && in.ReadDouble(y) &&
      in.MatchLiteral(",") && in.ReadDouble(z)) {
    position.coords = {x, y, z};
    position.isComputed = true;
    in.MatchLiteral(")");
  }
  // Entries "%d(%d,%d)" each followed by one separator character; a later entry for a photo
  // replaces an earlier one. The photo index is kept as read, whatever its value.
  for (;;) {
    std::int32_t photo = 0;
    ImagePoint point;
    if (!(in.ReadInt(photo) && in.MatchLiteral("(") && in.ReadInt(point.x) &&
          in.MatchLiteral(",") && in.ReadInt(point.y) && in.MatchLiteral(")"))) {
      break;
    }
    position.imagePoints[photo] = point;
    char separator = 0;
    if (!in.ReadChar(separator)) break;  // the end of the line
  }
  StorePosition(graph, id, std::move(position));
  return FinishLine(in);
}

// One position line of the older format, "\t%d: (%d,%d)-(%d,%d) %s": a position marked in
// photos 0 and 1. The marker token is read but sets nothing: such lines carry no coordinates,
// so there is nothing for it to mark as real. Read within the line's bounds as above.
bool ReadOlderPositionLine(TextScanner& in, PositionGraph& graph) {
  in.SkipWhitespace();
  const LineOnly lineOnly(in);
  std::int32_t id = 0;
  ImagePoint left, right;
  if (!(in.ReadInt(id) && in.MatchLiteral(": (") && in.ReadInt(left.x) && in.MatchLiteral(",") &&
        in.ReadInt(left.y) && in.MatchLiteral(")-(") && in.ReadInt(right.x) &&
        in.MatchLiteral(",") && in.ReadInt(right.y) && in.MatchLiteral(")"))) {
    return false;
  }
  std::string_view marker;
  in.ReadToken(marker);
  Position position;
  position.imagePoints[0] = left;
  position.imagePoints[1] = right;
  StorePosition(graph, id, std::move(position));
  return FinishLine(in);
}

// " [(%lf,%lf)-(%lf,%lf)]\n": read, not kept. A line counts when its four numbers are read.
bool ReadGroundLine(TextScanner& in) {
  double unused = 0;
  if (!(in.MatchLiteral(" [(") && in.ReadDouble(unused) && in.MatchLiteral(",") &&
        in.ReadDouble(unused) && in.MatchLiteral(")-(") && in.ReadDouble(unused) &&
        in.MatchLiteral(",") && in.ReadDouble(unused))) {
    return false;
  }
  in.MatchLiteral(")]\n");
  return true;
}

// The text between the quotes of an "Image:" or "Object:" line; the closing quote is the
// caller's to match. An empty text is read as empty: a photo without a path or an object
// without a name is written that way, and stopping there would drop the rest of the file.
bool ReadQuotedText(TextScanner& in, std::string& text) {
  std::string_view read;
  if (in.ReadUntil('"', read)) {
    text = read;
    return true;
  }
  text.clear();
  return in.NextIs('"');
}

// Version 3.0 and above. Each section reads while its lines match and then hands over to the
// next at the place where it stopped.
bool ReadCurrentFormat(Project& project, TextScanner& in, float version) {
  project.Clear();
  std::string text;
  while (in.MatchLiteral("Image: \"") && ReadQuotedText(in, text)) {
    Photo& photo = project.AddPhoto();
    photo.SetPath(text);
    in.MatchLiteral("\"\n");
    ReadCameraLines(in, photo.camera);
  }

  PositionGraph& graph = project.graph;
  graph.positions.clear();
  graph.lastPositionId = 0;
  in.MatchLiteral("Positions:\n");
  while (ReadPositionLine(in, graph)) {
  }

  in.MatchLiteral("Edges:\n");
  graph.edges.clear();
  graph.lastEdgeId = 0;
  std::int32_t id = 0;
  Edge edge;
  while (in.MatchLiteral("\t") && in.ReadInt(id) && in.MatchLiteral(": (") &&
         in.ReadInt(edge.first) && in.MatchLiteral(",") && in.ReadInt(edge.second)) {
    in.MatchLiteral(")\n");
    // Endpoints are taken as written; an id already present keeps its earlier edge.
    graph.edges.emplace(id, edge);
    graph.lastEdgeId = std::max(graph.lastEdgeId, id);
  }

  ObjectNamer namer;
  while (in.MatchLiteral("Object: \"") && ReadQuotedText(in, text)) {
    in.MatchLiteral("\"\n");
    auto created = std::make_unique<Object>();
    created->name = namer.Unique(text);
    Object* object = AppendObject(project, std::move(created));
    if (object == nullptr) return false;
    // An object whose "Current" line does not match stays as created.
    ReadObject(*object, in, version);
  }
  return true;
}

// Below version 3.0: the two-photo format with a left and a right photo, objects without names
// or positions, and the stereo parameters in place of camera blocks.
bool ReadOlderFormat(Project& project, TextScanner& in, float version) {
  EmptyProject(project);
  std::string_view text;
  Photo& left = project.AddPhoto();
  if (in.MatchLiteral("Image left:  \"") && in.ReadUntil('"', text))
    left.SetPath(std::string(text));
  in.MatchLiteral("\"\n");
  Photo& right = project.AddPhoto();
  if (in.MatchLiteral("Image right: \"") && in.ReadUntil('"', text)) {
    right.SetPath(std::string(text));
  }
  in.MatchLiteral("\"\n");

  in.MatchLiteral("\nProcess parameters\n");
  std::int32_t unusedInt = 0;
  if (in.MatchLiteral("NbPt: (") && in.ReadInt(unusedInt) && in.MatchLiteral(",") &&
      in.ReadInt(unusedInt)) {
    in.MatchLiteral(")\n");
  }

  // Objects here are appended directly: their names stay empty and are not made unique.
  for (;;) {
    auto object = std::make_unique<Object>();
    if (!ReadObject(*object, in, version)) break;
    if (AppendObject(project, std::move(object)) == nullptr) return false;
  }

  engine::CameraRecord& leftCamera = left.camera;
  in.MatchLiteral("\nInterpolation parameters\n");
  ReadLabelled(in, "Left photo height above ground: ", leftCamera.translation.z);
  ReadLabelled(in, "Left photo vertical angle: ", leftCamera.orientation.x);
  leftCamera.translation.x = 0;
  leftCamera.translation.y = 0;
  leftCamera.orientation.y = 0;
  leftCamera.orientation.z = 0;

  engine::CameraRecord& rightCamera = right.camera;
  double unused = 0;
  ReadLabelled(in, "Right photo relative position X: ", rightCamera.translation.x);
  ReadLabelled(in, "Right photo relative position Y: ", rightCamera.translation.y);
  ReadLabelled(in, "Right photo relative position Z: ", rightCamera.translation.z);
  ReadLabelled(in, "Right photo horizontal angle: ", rightCamera.orientation.z);
  ReadLabelled(in, "Right photo vertical angle: ", rightCamera.orientation.x);
  ReadLabelled(in, "Focal: ", rightCamera.focal);
  ReadLabelled(in, "Cell width: ", unused);
  ReadLabelled(in, "Cell height: ", unused);
  rightCamera.orientation.y = 0;

  // Position lines of the older format stand among or after the ground positions; both kinds
  // are read until a line fits neither.
  in.MatchLiteral("Ground positions:\n");
  while (ReadGroundLine(in) || ReadOlderPositionLine(in, project.graph)) {
  }

  leftCamera.focal = rightCamera.focal;
  return true;
}

}  // namespace

void WriteObject(const Object& object, std::string& out) {
  out += "\tCurrent: ";
  out += object.current ? 'Y' : 'N';
  out += "\n\tVertices:";
  for (std::int32_t id : object.positionIds) {
    out += ' ';
    AppendInt(out, id);
  }
  out += '\n';
}

bool ReadObject(Object& object, TextScanner& in, float version) {
  char flag = 0;
  if (!(in.MatchLiteral("\tCurrent: ") && in.ReadChar(flag))) return false;
  in.MatchLiteral("\n");
  object.current = flag == 'Y';
  object.positionIds.clear();
  if (!(version >= 3.0f)) return true;
  in.MatchLiteral("\tVertices:");
  // Pairs "%c%d": one separator character, then an id. The list ends where no id follows,
  // normally at the next "Object:" line or the end of the text.
  char separator = 0;
  std::int32_t id = 0;
  while (in.ReadChar(separator) && in.ReadInt(id)) object.positionIds.insert(id);
  return true;
}

std::string Project::Write() const {
  std::string out;
  for (const auto& photo : photos) WritePhoto(*photo, out);
  out += "Positions:\n";
  for (const auto& [id, position] : graph.positions) WritePosition(id, position, out);
  out += "Edges:\n";
  for (const auto& [id, edge] : graph.edges) {
    out += '\t';
    AppendInt(out, id);
    out += ": ";
    AppendIntPair(out, edge.first, edge.second);
    out += '\n';
  }
  for (const auto& object : objects) {
    out += "Object: \"";
    // A quote inside would end the name early when the file is read again.
    out += StorableObjectName(object->name);
    out += "\"\n";
    WriteObject(*object, out);
  }
  return out;
}

bool Project::Read(TextScanner& in, float version) {
  // A version that is not a number counts as older.
  if (version >= 3.0f) return ReadCurrentFormat(*this, in, version);
  return ReadOlderFormat(*this, in, version);
}

std::string ProjectFileHeader() {
  std::string header = "Modrin file version ";
  AppendFixed(header, kFileVersion, 2);
  header += '\n';
  return header;
}

float ReadHeaderVersion(TextScanner& in) {
  // Without a number the whole text is the body, so reading goes back to its first character.
  in.Hold();
  float version = 0;
  if (!(in.MatchLiteral("Modrin file version ") && in.ReadFloat(version))) {
    in.Rewind();
    return kOlderFileVersion;
  }
  in.Release();
  in.MatchLiteral("\n");
  return version;
}

float ReadHeaderVersion(std::string_view text, std::size_t& bodyStart) {
  TextScanner in(text);
  const float version = ReadHeaderVersion(in);
  bodyStart = in.Position();
  return version;
}

std::string WriteProjectText(const Project& project) {
  return ProjectFileHeader() + project.Write();
}

bool ReadProject(Project& project, TextScanner& in) {
  const float version = ReadHeaderVersion(in);
  Project read;
  if (!read.Read(in, version)) return false;
  MoveContents(read, project);
  return true;
}

bool ReadProjectText(Project& project, std::string_view text) {
  TextScanner in(text);
  return ReadProject(project, in);
}

bool ReadProjectFile(Project& project, const std::string& path, std::string& error) {
  images::InputFile file = images::OpenInputFile(path, error);
  if (!file) {
    error = "Cannot open \"" + path + "\": " + error;
    return false;
  }
  // Read in pieces as the grammar reaches them: reading ends at the first line that fits no
  // pattern, so the rest of a huge or endless file is never read.
  int readError = 0;
  TextScanner in([&](char* buffer, std::size_t size) {
    const std::size_t got = std::fread(buffer, 1, size, file.get());
    if (got == 0 && std::ferror(file.get())) readError = errno;
    return got;
  });
  const float version = ReadHeaderVersion(in);
  Project read;
  if (!read.Read(in, version)) {
    error = "Cannot open \"" + path + "\": it holds more photos and objects than can be loaded";
    return false;
  }
  if (readError != 0) {
    error = "Cannot read \"" + path + "\": " + std::strerror(readError);
    return false;
  }
  MoveContents(read, project);
  return true;
}

}  // namespace modrin::model
