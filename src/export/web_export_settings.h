#pragma once

#include <cstdint>
#include <string>

namespace modrin::exporters {

// The "Plugin Type" choice of the dialog. Browsers run neither plug-in any more, so it selects
// nothing: both give the same WebGL page. Only ActiveX can be chosen in the dialog.
enum class PluginType { kActiveX, kJava };

// An 8-bit RGB colour.
struct RgbColour {
  std::uint8_t r = 255;
  std::uint8_t g = 255;
  std::uint8_t b = 255;

  bool operator==(const RgbColour&) const = default;
};

// The settings of a web page showing the 3D model, as the "Output to HTML" dialog and
// `modrin-cli web` gather them; WriteWebPage (export/web_export.h) writes the page. The member
// values are the ones the dialog starts with.
struct WebExportSettings {
  static constexpr char kDefaultSiteAddress[] = "http://www.example.com/";

  std::string fileName;                           // the HTML file, UTF-8; empty: not chosen
  std::string siteAddress = kDefaultSiteAddress;  // the URL the page is published under
  bool webOrLocal = false;                        // the site address is used
  // How far the visitor may turn the model, in degrees: horizontally around the vertical axis
  // (0 looks at the front, from the world's -y side; 90 from its +x side), vertically the view's
  // height above the horizon (-90 from below, 90 from above; values beyond are taken as those).
  int horizontalMin_deg = -180;
  int horizontalMax_deg = 180;
  int verticalMin_deg = -90;
  int verticalMax_deg = 90;
  PluginType pluginType = PluginType::kActiveX;
  RgbColour background;  // white
  // The size of the model's window on the page, in pixels; never negative. 0 follows the
  // browser window.
  int windowWidth_px = 400;
  int windowHeight_px = 300;
  // The largest texture side in pixels, as the user chose or typed it (not checked).
  std::string maxTexturePixels = "256";
  // The texture compression quality, from 0 (smallest files) to 100 (best pictures).
  int textureQuality = 80;

  bool operator==(const WebExportSettings&) const = default;
};

}  // namespace modrin::exporters
