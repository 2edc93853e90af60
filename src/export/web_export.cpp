#include "export/web_export.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "engine/progress.h"
#include "export/gltf_writer.h"
#include "export/model_text.h"
#include "export/web_viewer_script.h"
#include "images/file_io.h"
#include "model/photo.h"
#include "model/project.h"
#include "model/project_document.h"

namespace modrin::exporters {

namespace {

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

constexpr char kHexDigits[] = "0123456789abcdef";

// ---------------------------------------------------------------------------------------------
// Escaping: every text of the user's (the site address, the file names) passes through these
// before it reaches the page.

// `text` as a JSON string. '<', '>' and '&' are escaped too, so that the text cannot end the
// <script> element it stands in, and so are the two line separators JavaScript once refused.
std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (text.compare(i, 3, "\xE2\x80\xA8") == 0 || text.compare(i, 3, "\xE2\x80\xA9") == 0) {
      out += text[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
      i += 2;
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == '<' || c == '>' || c == '&') {
      out += "\\u00";
      out += kHexDigits[c >> 4];
      out += kHexDigits[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// `text` as HTML text or the value of a quoted attribute.
std::string HtmlText(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// A file name as a relative URL: every byte but letters, digits and "-._~" percent-encoded, so
// that a '#', '?', '%' or blank in the name stays part of it.
std::string UrlPathPart(std::string_view name) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (std::isalnum(byte) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  return out;
}

// The model's URL in the page: beside it, or under the site address (with a '/' added where
// the address lacks one).
std::string ModelUrl(const WebExportSettings& settings, const WebPageFiles& files) {
  const std::string name = UrlPathPart(files.model);
  if (!settings.webOrLocal) return name;
  const std::string site(Trimmed(settings.siteAddress));
  if (site.empty() || site.back() == '/') return site + name;
  return site + "/" + name;
}

std::string HexColour(const RgbColour& colour) {
  std::string out = "#";
  for (const std::uint8_t c : {colour.r, colour.g, colour.b}) {
    out += kHexDigits[c >> 4];
    out += kHexDigits[c & 15];
  }
  return out;
}

// Black or white, whichever reads better on `background` (for the page's error message).
const char* TextColourOn(const RgbColour& background) {
  const int luma = 299 * background.r + 587 * background.g + 114 * background.b;
  return luma > 128 * 1000 ? "#000000" : "#ffffff";
}

std::string Number(double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

// The viewer's settings (see kWebViewerScript) as JSON.
std::string ViewerSettingsJson(const WebExportSettings& settings, const WebPageFiles& files) {
  // Angles are taken as whole numbers of degrees; a span of a full turn or more turns freely.
  const double hMin = settings.horizontalMin_deg;
  const double hMax = settings.horizontalMax_deg;
  const bool fullTurn = hMax - hMin >= 360;
  const int vMin = std::clamp(settings.verticalMin_deg, -90, 90);
  const int vMax = std::clamp(settings.verticalMax_deg, -90, 90);
  std::string json = "{";
  json += "\"model\": " + JsonString(ModelUrl(settings, files));
  json += ", \"modelScript\": " + JsonString(UrlPathPart(files.modelScript));
  json += ", \"background\": " + JsonString(HexColour(settings.background));
  json += ", \"width\": " + std::to_string(std::max(settings.windowWidth_px, 0));
  json += ", \"height\": " + std::to_string(std::max(settings.windowHeight_px, 0));
  json += ", \"bearingMiddle\": " + Number(fullTurn ? 0.0 : (hMin + hMax) / 2);
  json += ", \"bearingHalfSpan\": " + (fullTurn ? std::string("null") : Number((hMax - hMin) / 2));
  json += ", \"elevationMin\": " + std::to_string(vMin);
  json += ", \"elevationMax\": " + std::to_string(vMax);
  return json + "}";
}

// "width: 400px; height: 300px", a side of 0 as the whole browser window.
std::string CanvasStyle(const WebExportSettings& settings) {
  const auto side = [](int pixels, const char* whole) {
    return pixels > 0 ? std::to_string(pixels) + "px" : std::string(whole);
  };
  return "width: " + side(settings.windowWidth_px, "100vw") +
         "; height: " + side(settings.windowHeight_px, "100vh");
}

// ---------------------------------------------------------------------------------------------
// Writing

std::string Base64(const std::string& bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      group = group << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    }
    for (std::size_t k = 0; k < 4; ++k) {
      out += k <= n ? kDigits[(group >> (18 - 6 * k)) & 63] : '=';
    }
  }
  return out;
}

bool HasHtmlExtension(const std::string& path) {
  const std::string extension = model::LowerExtension(path);
  return extension == "html" || extension == "htm";
}

// The photos a texture is made of: those with triangles in a current object's mesh.
int TextureCount(const model::Project& project) {
  std::vector<bool> textured(project.photos.size(), false);
  for (const auto& object : project.objects) {
    if (!object->current) continue;
    for (std::size_t i = 0; i < object->photoMeshes.size() && i < textured.size(); ++i) {
      if (object->photoMeshes[i]->triangleCount() > 0) textured[i] = true;
    }
  }
  return static_cast<int>(std::count(textured.begin(), textured.end(), true));
}

// Why there is nothing to show, or empty.
std::string CheckModel(const model::Project& project) {
  const bool anyCurrent = std::any_of(project.objects.begin(), project.objects.end(),
                                      [](const auto& object) { return object->current; });
  if (!anyCurrent) return "the project has no current object to put on the web page";
  if (TextureCount(project) == 0) {
    return "the current objects have no faces to put on the web page (are the photos "
           "calibrated and the faces closed by edges?)";
  }
  return {};
}

// Reads the viewer scripts of three.js into `files`, each under its name in `scriptsFolder`.
bool ReadViewerScripts(const std::string& threeJsFolder, const std::string& scriptsFolder,
                       std::vector<images::FileContents>& files, std::string& error) {
  for (const ThreeJsScript& script : kThreeJsScripts) {
    const std::string source = threeJsFolder + "/" + script.source;
    std::string contents, reason;
    if (!images::ReadWholeFile(source, contents, reason)) {
      error = "three.js is not installed: cannot read " + Quoted(source) + ": " + reason +
              " (it comes with the package libjs-three)";
      return false;
    }
    files.push_back({scriptsFolder + "/" + script.name, std::move(contents)});
  }
  return true;
}

// Makes `folder` unless it exists; `made` tells whether it was made here.
bool MakeFolder(const std::string& folder, bool& made, std::string& error) {
  std::error_code code;
  made = std::filesystem::create_directory(folder, code);
  if (code) {
    error = "cannot make the folder " + Quoted(folder) + ": " + code.message();
    return false;
  }
  return true;
}

// Shrinks the textures into the .glb, one progress step per texture.
GltfResult BuildModel(const model::Project& project, const WebExportSettings& settings,
                      const WebPageFiles& files, engine::Progress* progress, std::string& glb) {
  GltfTextureOptions textures;
  textures.maxSide = *ParseMaxTextureSide(settings.maxTexturePixels);
  textures.jpegQuality = std::clamp(settings.textureQuality, 1, 100);
  textures.powerOfTwo = true;
  GltfFiles gltf;
  if (progress != nullptr) {
    progress->Create("Writing the web page " + files.html);
    progress->SetRange(0, TextureCount(project));
    progress->SetStep(1);
  }
  const GltfResult built =
      BuildGltf(project, /*binary=*/true, textures, files.folder, std::string(), gltf, progress);
  if (progress != nullptr) progress->Destroy();
  glb = std::move(gltf.main);
  return built;
}

}  // namespace

std::optional<int> ParseMaxTextureSide(const std::string& text) {
  const std::string_view digits = Trimmed(text);
  if (digits.empty() || digits.front() == '-' || digits.front() == '+') return std::nullopt;
  int value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
  if (value < 1 || value > kMaxWebTextureSide) return std::nullopt;
  return value;
}

WebSettingsProblem CheckWebExportSettings(const WebExportSettings& settings) {
  if (settings.fileName.empty()) {
    return {WebSetting::kFileName, "Choose the HTML file the web page is written to."};
  }
  if (!HasHtmlExtension(settings.fileName)) {
    return {WebSetting::kFileName,
            "The web page " + Quoted(settings.fileName) + " must be an .html or .htm file."};
  }
  if (!ParseMaxTextureSide(settings.maxTexturePixels)) {
    return {WebSetting::kMaxTexturePixels,
            "The maximum number of pixels of a texture must be a whole number from 1 to " +
                std::to_string(kMaxWebTextureSide) + ", not " + Quoted(settings.maxTexturePixels) +
                "."};
  }
  if (settings.textureQuality < 0 || settings.textureQuality > 100) {
    return {WebSetting::kTextureQuality, "The texture quality must lie from 0 to 100, not " +
                                             std::to_string(settings.textureQuality) + "."};
  }
  if (settings.horizontalMin_deg > settings.horizontalMax_deg) {
    return {WebSetting::kHorizontalRange,
            "The horizontal angle minimum must not lie above its maximum."};
  }
  if (settings.verticalMin_deg > settings.verticalMax_deg) {
    return {WebSetting::kVerticalRange,
            "The vertical angle minimum must not lie above its maximum."};
  }
  if (settings.windowWidth_px < 0 || settings.windowHeight_px < 0) {
    return {WebSetting::kWindowSize, "The window size must not be negative."};
  }
  return {};
}

WebPageFiles WebPageFilesFor(const std::string& htmlPath) {
  WebPageFiles files;
  files.html = model::FileNamePart(htmlPath);
  files.folder = htmlPath.substr(0, htmlPath.size() - files.html.size());
  const std::string base = BaseName(htmlPath);
  files.model = base + ".glb";
  files.modelScript = base + ".glb.js";
  return files;
}

std::string WebPageHtml(const WebExportSettings& settings, const WebPageFiles& files) {
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
      "<meta name=\"generator\" content=\"Modrin\">\n"
      "<title>" +
      HtmlText(BaseName(files.html)) +
      "</title>\n"
      // No icon is fetched: a missing one is an error in the browser's console.
      "<link rel=\"icon\" href=\"data:,\">\n<style>\n"
      "html, body { margin: 0; background: " +
      HexColour(settings.background) +
      "; }\n"
      "#modrin-view { display: block; " +
      CanvasStyle(settings) +
      "; }\n"
      "#modrin-message { margin: 0; padding: 1em; font: 14px sans-serif; color: " +
      TextColourOn(settings.background) + "; }\n</style>\n</head>\n<body>\n";
  html += "<canvas id=\"modrin-view\"></canvas>\n<p id=\"modrin-message\" hidden></p>\n";
  html += "<script type=\"application/json\" id=\"modrin-settings\">" +
          ViewerSettingsJson(settings, files) + "</script>\n";
  for (const ThreeJsScript& script : kThreeJsScripts) {
    html +=
        "<script src=\"" + std::string(kWebScriptsFolder) + "/" + script.name + "\"></script>\n";
  }
  html += "<script>\n";
  html += kWebViewerScript;
  html += "</script>\n</body>\n</html>\n";
  return html;
}

std::string WebModelScript(const std::string& glb) {
  return "window.modrinModel = \"" + Base64(glb) + "\";\n";
}

WebExportResult WriteWebPage(const model::Project& project, const WebExportSettings& settings,
                             engine::Progress* progress, const std::string& threeJsFolder) {
  WebExportResult result;
  result.error = CheckWebExportSettings(settings).message;
  if (result.error.empty()) result.error = CheckModel(project);
  if (!result.error.empty()) return result;
  const WebPageFiles names = WebPageFilesFor(settings.fileName);
  const std::string scriptsFolder = names.folder + kWebScriptsFolder;
  std::vector<images::FileContents> files;
  files.push_back({settings.fileName, WebPageHtml(settings, names)});
  if (!ReadViewerScripts(threeJsFolder, scriptsFolder, files, result.error)) return result;
  std::string glb;
  const GltfResult built = BuildModel(project, settings, names, progress, glb);
  if (!built.ok) {
    result.error = built.error;
    return result;
  }
  files.push_back({names.folder + names.modelScript, WebModelScript(glb)});
  files.push_back({names.folder + names.model, std::move(glb)});

  bool madeFolder = false;
  std::string failedPath, reason;
  if (!MakeFolder(scriptsFolder, madeFolder, result.error)) return result;
  if (!images::WriteFilesAtomically(files, failedPath, reason)) {
    std::error_code ignored;
    if (madeFolder) std::filesystem::remove(scriptsFolder, ignored);
    result.error = "cannot write " + Quoted(failedPath) + ": " + reason;
    return result;
  }
  for (const images::FileContents& file : files) result.written.push_back(file.path);
  result.ok = true;
  return result;
}

}  // namespace modrin::exporters
