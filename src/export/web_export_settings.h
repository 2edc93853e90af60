#pragma once

#include <cstdint>
#include <string>

namespace modrin::exporters {

// The viewer a web page of the model would embed. Only ActiveX can be chosen for now.
enum class PluginType { kActiveX, kJava };

// An 8-bit RGB colour.
struct RgbColour {
  std::uint8_t r = 255;
  std::uint8_t g = 255;
  std::uint8_t b = 255;

  bool operator==(const RgbColour&) const = default;
};

// The settings of a web page showing the 3D model, as the "Output to HTML" dialog gathers
// them. The member values are the ones the dialog starts with. Nothing writes a page from them
// yet.
struct WebExportSettings {
  static constexpr char kDefaultSiteAddress[] = "http://www.example.com/";

  std::string fileName;                           // the HTML file, UTF-8; empty: not chosen
  std::string siteAddress = kDefaultSiteAddress;  // the URL the page is published under
  bool webOrLocal = false;                        // the site address is used
  // How far the visitor may turn the model, in degrees.
  int horizontalMin_deg = -180;
  int horizontalMax_deg = 180;
  int verticalMin_deg = -90;
  int verticalMax_deg = 90;
  PluginType pluginType = PluginType::kActiveX;
  RgbColour background;  // white
  // The size of the model's window on the page, in pixels; never negative.
  int windowWidth_px = 400;
  int windowHeight_px = 300;
  // The largest texture side in pixels, as the user chose or typed it (not checked).
  std::string maxTexturePixels = "256";
  // The texture compression quality, from 0 (smallest files) to 100 (best pictures).
  int textureQuality = 80;

  bool operator==(const WebExportSettings&) const = default;
};

}  // namespace modrin::exporters
