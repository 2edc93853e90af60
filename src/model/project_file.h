#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace modrin::images {
class TextScanner;
}

namespace modrin::model {

class Object;
class Project;

// The version this program writes into the header line of a project file.
inline constexpr double kFileVersion = 3.0;

// The version taken for a file without a readable header: the older two-photo format.
inline constexpr float kOlderFileVersion = 2.0f;

// Reading refuses a file whose objects and photos together would need more per-photo meshes
// (objects x photos) than this. Each object holds one mesh per photo, so a small file naming
// many photos and many objects would otherwise take memory quadratic in its size. Real projects
// stay far below: a thousand photos with a thousand objects is still read.
inline constexpr std::size_t kMaxReadPhotoMeshes = 1'000'000;

// "Modrin file version 3.00\n".
std::string ProjectFileHeader();

// Reads the header line "Modrin file version <number>" and the white space after it, and
// returns the number. Without a number there, the version is kOlderFileVersion and the scanner
// is back where it started: the whole text is the body.
float ReadHeaderVersion(images::TextScanner& in);
// The same for text in memory; `bodyStart` receives the offset of the body.
float ReadHeaderVersion(std::string_view text, std::size_t& bodyStart);

// The whole project file: the header line, then Project::Write.
std::string WriteProjectText(const Project& project);

// Reads a whole project file into `project`, replacing its photos, positions, edges and
// objects: the header picks the grammar (version 3.0 and above: the current one; below, or no
// header: the older two-photo format). Text that fits no pattern ends the section being read;
// nothing is reported for it. Returns false only when the file is refused for needing more than
// kMaxReadPhotoMeshes meshes; the project is then left as it was.
bool ReadProject(Project& project, images::TextScanner& in);
bool ReadProjectText(Project& project, std::string_view text);
// Reads the project file at `path` as ReadProject does, pulling the file in as reading reaches
// it, so memory is bounded by the longest line read and not by the file's size. False, the
// project as it was, with a message naming the file in `error` when it cannot be opened or read
// or is refused.
bool ReadProjectFile(Project& project, const std::string& path, std::string& error);

// The lines of one object block after its "Object:" line: "Current" and "Vertices".
void WriteObject(const Object& object, std::string& out);

// Reads the lines of one object block after its "Object:" line. False, the object unchanged,
// when the "Current" line does not match. For a version below 3.0 reading ends after the
// "Current" line.
bool ReadObject(Object& object, images::TextScanner& in, float version);

}  // namespace modrin::model
