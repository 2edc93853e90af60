#include "export/web_export.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <utility>

#include "engine/progress.h"
#include "mesh/mesh_builder.h"
#include "model/project.h"
#include "square_project.h"
#include "temp_dir.h"

namespace modrin::exporters {
namespace {

using testing::ReadFileText;
using testing::WriteFileText;

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

TEST(WebExportSettingsTest, BadValuesAreNamed) {
  for (const char* text :
       {"0", "-5", "+5", "", " ", "abc", "1.5", "256px", "16385", "99999999999"}) {
    EXPECT_FALSE(ParseMaxTextureSide(text)) << text;
  }
  EXPECT_EQ(ParseMaxTextureSide(" 64 "), 64);
  EXPECT_EQ(ParseMaxTextureSide("16384"), 16384);

  const struct {
    std::function<void(WebExportSettings&)> change;
    WebSetting setting;
    const char* named;
  } cases[] = {
      {[](WebExportSettings& s) { s.fileName.clear(); }, WebSetting::kFileName, "Choose the HTML"},
      {[](WebExportSettings& s) { s.fileName = "/web/page.txt"; }, WebSetting::kFileName,
       ".html or .htm"},
      {[](WebExportSettings& s) { s.maxTexturePixels = "0"; }, WebSetting::kMaxTexturePixels,
       "not \"0\""},
      {[](WebExportSettings& s) { s.textureQuality = 101; }, WebSetting::kTextureQuality,
       "quality"},
      {[](WebExportSettings& s) { s.horizontalMin_deg = 10, s.horizontalMax_deg = 0; },
       WebSetting::kHorizontalRange, "horizontal"},
      {[](WebExportSettings& s) { s.verticalMin_deg = 1, s.verticalMax_deg = -1; },
       WebSetting::kVerticalRange, "vertical"},
      {[](WebExportSettings& s) { s.windowHeight_px = -1; }, WebSetting::kWindowSize,
       "window size"},
  };
  WebExportSettings good;
  good.fileName = "/web/Page.HTM";
  EXPECT_EQ(CheckWebExportSettings(good).setting, WebSetting::kNone);
  for (const auto& c : cases) {
    WebExportSettings settings = good;
    c.change(settings);
    const WebSettingsProblem problem = CheckWebExportSettings(settings);
    EXPECT_EQ(problem.setting, c.setting) << c.named;
    EXPECT_NE(problem.message.find(c.named), std::string::npos) << problem.message;
  }
}

TEST(WebPageHtmlTest, ValuesReachTheViewerAndUserTextsAreEscaped) {
  WebExportSettings settings;
  settings.fileName = "/web/my house#1.html";
  settings.background = {20, 40, 200};
  settings.horizontalMin_deg = 100;
  settings.horizontalMax_deg = 260;
  settings.verticalMin_deg = -120;  // below the horizon's lowest
  settings.windowWidth_px = 0;
  const WebPageFiles files = WebPageFilesFor(settings.fileName);
  EXPECT_EQ(files.folder, "/web/");
  EXPECT_EQ(files.model, "my house#1.glb");
  EXPECT_EQ(files.modelScript, "my house#1.glb.js");

  std::string html = WebPageHtml(settings, files);
  for (const char* part :
       {"<title>my house#1</title>", "background: #1428c8;", "width: 100vw; height: 300px",
        "\"model\": \"my%20house%231.glb\"", "\"modelScript\": \"my%20house%231.glb.js\"",
        "\"width\": 0, \"height\": 300", "\"bearingMiddle\": 180, \"bearingHalfSpan\": 80",
        "\"elevationMin\": -90, \"elevationMax\": 90", "<script src=\"js/three.min.js\">",
        "<script src=\"js/OrbitControls.js\">", "<script src=\"js/GLTFLoader.js\">"}) {
    EXPECT_NE(html.find(part), std::string::npos) << part;
  }

  // A full turn or more turns freely; a site address gets the model's name after a '/', and
  // nothing in it can end the script it stands in.
  settings.horizontalMin_deg = -200;
  settings.webOrLocal = true;
  for (const auto& [site, model] : {std::pair{"http://a.org/models", "http://a.org/models/"},
                                    {" http://a.org/ ", "http://a.org/"}}) {
    settings.siteAddress = site;
    html = WebPageHtml(settings, files);
    EXPECT_NE(html.find("\"bearingHalfSpan\": null"), std::string::npos);
    EXPECT_NE(html.find(std::string("\"model\": \"") + model + "my%20house%231.glb\""),
              std::string::npos)
        << site;
  }
  settings.siteAddress = "http://x/\"</script><!--\\\xE2\x80\xA8";
  settings.fileName = "/web/<b>&.html";
  html = WebPageHtml(settings, WebPageFilesFor(settings.fileName));
  EXPECT_EQ(Count(html, "</script"), 5u);  // settings, three viewer scripts, the viewer
  EXPECT_EQ(Count(html, "<!--"), 0u);
  EXPECT_NE(html.find("\"http://x/\\\"\\u003c/script\\u003e\\u003c!--\\\\\\u2028/%3Cb%3E%26.glb\""),
            std::string::npos);
  EXPECT_NE(html.find("<title>&lt;b&gt;&amp;</title>"), std::string::npos);
}

TEST(WebModelScriptTest, HoldsTheModelInBase64) {
  const std::pair<std::string, const char*> cases[] = {
      {"", ""},        {"f", "Zg=="},        {"fo", "Zm8="},
      {"foo", "Zm9v"}, {"foob", "Zm9vYg=="}, {std::string("\xff\xfe\x00", 3), "//4A"}};
  for (const auto& [bytes, base64] : cases) {
    EXPECT_EQ(WebModelScript(bytes), std::string("window.modrinModel = \"") + base64 + "\";\n");
  }
}

// Counts the steps a run shows.
class CountingProgress : public engine::NullProgress {
 public:
  void Create(const std::string& text) override { texts.insert(text); }
  void StepIt() override { ++steps; }
  std::set<std::string> texts;
  int steps = 0;
};

// The square project with its meshes, and a stand-in for three.js's folder.
class WebPageWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mesh::UpdateModelWithMeshes(square.project);
    std::filesystem::create_directories(dir.File("three/build"));
    std::filesystem::create_directories(dir.File("three/examples/js/controls"));
    std::filesystem::create_directories(dir.File("three/examples/js/loaders"));
    for (const ThreeJsScript& script : kThreeJsScripts) {
      ASSERT_TRUE(WriteFileText(dir.File("three/") + script.source, script.name));
    }
    std::filesystem::create_directory(dir.File("web"));
    settings.fileName = dir.File("web/square.html");
  }

  // The files under web/, with their folders.
  std::set<std::string> Written() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.File("web"))) {
      names.insert(entry.path().lexically_relative(dir.File("web")).string());
    }
    return names;
  }

  testing::TempDir dir;
  testing::SquareProject square{{"Square"}};
  WebExportSettings settings;
};

TEST_F(WebPageWriteTest, WritesThePageItsModelAndTheViewerScripts) {
  CountingProgress progress;
  const WebExportResult result =
      WriteWebPage(square.project, settings, &progress, dir.File("three"));
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_EQ(result.written.front(), settings.fileName);
  EXPECT_EQ(Written(),
            (std::set<std::string>{"square.html", "square.glb", "square.glb.js", "js",
                                   "js/three.min.js", "js/OrbitControls.js", "js/GLTFLoader.js"}));
  for (const ThreeJsScript& script : kThreeJsScripts) {
    EXPECT_EQ(ReadFileText(dir.File("web/js/") + script.name), script.name);
  }
  const std::string glb = ReadFileText(dir.File("web/square.glb"));
  EXPECT_TRUE(glb.starts_with("glTF"));
  EXPECT_EQ(ReadFileText(dir.File("web/square.glb.js")), WebModelScript(glb));
  EXPECT_EQ(ReadFileText(settings.fileName),
            WebPageHtml(settings, WebPageFilesFor(settings.fileName)));
  // One texture: the square is marked in the first photo only.
  EXPECT_EQ(progress.steps, 1);
  EXPECT_EQ(progress.texts, (std::set<std::string>{"Writing the web page square.html"}));
}

// What a failure case changes before the page is written.
struct WebPageCase {
  model::Project& project;
  WebExportSettings& settings;
  std::string& threeJsFolder;
  const testing::TempDir& dir;
};

// Whatever fails, the error names the cause and the folder is left as it was: an earlier page
// of the same name is kept whole.
TEST_F(WebPageWriteTest, FailuresNameTheCauseAndLeaveTheFolderAsItWas) {
  ASSERT_TRUE(WriteFileText(settings.fileName, "the earlier page"));
  const struct {
    std::function<void(WebPageCase&)> change;
    const char* named;
  } cases[] = {
      {[](WebPageCase& c) { c.settings.maxTexturePixels = "-256"; }, "\"-256\""},
      {[](WebPageCase& c) { c.project.objects[0]->current = false; }, "no current object"},
      {[](WebPageCase& c) {
         c.project.graph.edges.clear();
         mesh::UpdateModelWithMeshes(c.project);
       },
       "no faces"},
      {[](WebPageCase& c) { c.project.photos[0]->levels.clear(); }, "C:\\photos\\front.jpg"},
      {[](WebPageCase& c) { c.threeJsFolder = c.dir.File("no three"); }, "libjs-three"},
      {[](WebPageCase& c) { c.settings.fileName = c.dir.File("web/no/such.html"); }, "web/no/js"},
      {[](WebPageCase& c) { WriteFileText(c.dir.File("web/js"), ""); }, "web/js"},
      // A folder no one may write in, root included.
      {[](WebPageCase& c) { c.settings.fileName = "/proc/square.html"; }, "\"/proc/js\""},
      // A folder in the model's place: the files before it are written, then removed.
      {[](WebPageCase& c) { std::filesystem::create_directory(c.dir.File("web/square.glb")); },
       "web/square.glb\""},
  };
  for (const auto& c : cases) {
    testing::SquareProject fresh({"Square"});
    mesh::UpdateModelWithMeshes(fresh.project);
    WebExportSettings changed = settings;
    std::string threeJsFolder = dir.File("three");
    WebPageCase change{fresh.project, changed, threeJsFolder, dir};
    c.change(change);
    const std::set<std::string> before = Written();
    const WebExportResult result = WriteWebPage(fresh.project, changed, nullptr, threeJsFolder);
    EXPECT_FALSE(result.ok) << c.named;
    EXPECT_NE(result.error.find(c.named), std::string::npos) << result.error;
    EXPECT_EQ(Written(), before) << c.named;
    EXPECT_EQ(ReadFileText(settings.fileName), "the earlier page") << c.named;
    std::filesystem::remove_all(dir.File("web/js"));
    std::filesystem::remove_all(dir.File("web/square.glb"));
  }
}

}  // namespace
}  // namespace modrin::exporters
