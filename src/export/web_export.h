#pragma once

#include <optional>
#include <string>
#include <vector>

#include "export/web_export_settings.h"

namespace modrin::engine {
class Progress;
}

namespace modrin::model {
class Project;
}

namespace modrin::exporters {

// Where Debian's libjs-three package installs three.js, whose viewer scripts a page copies.
inline constexpr char kThreeJsFolder[] = "/usr/share/javascript/three";
// The largest texture side a page may ask for; browsers refuse larger textures.
inline constexpr int kMaxWebTextureSide = 16384;

// The texture side typed as `text`: a whole number from 1 to kMaxWebTextureSide, blanks
// around it allowed; null for anything else.
std::optional<int> ParseMaxTextureSide(const std::string& text);

// The value a problem of the settings lies in.
enum class WebSetting {
  kNone,
  kFileName,
  kMaxTexturePixels,
  kTextureQuality,
  kHorizontalRange,
  kVerticalRange,
  kWindowSize
};
struct WebSettingsProblem {
  WebSetting setting = WebSetting::kNone;  // kNone: the settings are fine
  std::string message;                     // a sentence naming the value
};

// What is wrong with `settings` for writing a page, the first problem in the dialog's order
// from the file name down. The file name must end in .html or .htm, the texture side pass
// ParseMaxTextureSide, the quality lie in 0 to 100, each angle range have its minimum at most
// its maximum and the window sides be 0 or more.
WebSettingsProblem CheckWebExportSettings(const WebExportSettings& settings);

// The files of a page, named after its HTML file: "house.html" has the model "house.glb", the
// model as a script "house.glb.js" and the viewer scripts in "js/" beside it.
struct WebPageFiles {
  std::string folder;       // the HTML file's folder with its trailing '/'; empty: the current one
  std::string html;         // the HTML file's name
  std::string model;        // the .glb's name
  std::string modelScript;  // the name of the script holding the .glb as base64
};
WebPageFiles WebPageFilesFor(const std::string& htmlPath);
// The folder beside the page that holds the viewer scripts.
inline constexpr char kWebScriptsFolder[] = "js";
// The viewer scripts copied from three.js: the path inside the three.js folder, then the name
// in kWebScriptsFolder, in the order the page loads them.
struct ThreeJsScript {
  const char* source;
  const char* name;
};
inline constexpr ThreeJsScript kThreeJsScripts[] = {
    {"build/three.min.js", "three.min.js"},
    {"examples/js/controls/OrbitControls.js", "OrbitControls.js"},
    {"examples/js/loaders/GLTFLoader.js", "GLTFLoader.js"},
};

// The HTML page of `files` showing the model with the settings: a canvas of the window size
// (a side of 0 follows the browser window), the background colour behind it and the page,
// the model fitted into view and turned by dragging only within the angle ranges. The model
// is fetched by its relative name, or by the site address and its name when webOrLocal is set;
// a page opened from a file ("file:"), where browsers refuse to fetch, and one whose fetch
// fails load the model script instead. Every user text is escaped for where it stands.
std::string WebPageHtml(const WebExportSettings& settings, const WebPageFiles& files);

// The script that gives the page the model `glb` when it cannot fetch it: it sets
// window.modrinModel to the bytes in base64.
std::string WebModelScript(const std::string& glb);

struct WebExportResult {
  bool ok = false;
  std::string error;                 // what went wrong, naming the file, when !ok
  std::vector<std::string> written;  // the files written, the HTML file first
};

// Writes the web page of the last model update as settings.fileName, with its model, model
// script and viewer scripts (see WebPageFiles). The textures are the photos shrunk by area
// averaging to at most the maximum side (power-of-two sides) and encoded as JPEG at the
// quality. The viewer scripts are copied from `threeJsFolder`. Nothing is written unless
// everything can be: bad settings, a project without a current object or without triangles
// in them, a photo that cannot be read, missing viewer scripts or a file that cannot be
// written are reported and leave the folder as it was (existing files of the same names
// are replaced only once all the new ones are written). `progress` (may be null) shows one
// step per texture.
WebExportResult WriteWebPage(const model::Project& project, const WebExportSettings& settings,
                             engine::Progress* progress = nullptr,
                             const std::string& threeJsFolder = kThreeJsFolder);

}  // namespace modrin::exporters
