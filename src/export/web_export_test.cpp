#include "export/web_export.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "engine/progress.h"
#include "mesh/mesh_builder.h"
#include "model/project.h"
#include "square_project.h"
#include "temp_dir.h"

namespace modrin::exporters {
namespace {

using testing::ReadFileText;
using testing::WriteFileText;

// The viewer's values are checked in a browser (tests/js/web_page_check.js); here, the texts of
// the user's: a '/' joins the site address and the model's name, and nothing in them can end
// the script they stand in.
TEST(WebPageHtmlTest, UserTextsAreEscapedWhereTheyStand) {
  WebExportSettings settings;
  settings.webOrLocal = true;
  settings.siteAddress = " http://x/\"</script><!--\\\xE2\x80\xA8 ";
  settings.fileName = "/web/<b>& #1.html";
  const std::string html = WebPageHtml(settings, WebPageFilesFor(settings.fileName));
  EXPECT_NE(html.find("\"model\": \"http://x/\\\"\\u003c/script\\u003e\\u003c!--\\\\\\u2028/"
                      "%3Cb%3E%26%20%231.glb\", \"modelScript\": \"%3Cb%3E%26%20%231.glb.js\""),
            std::string::npos);
  EXPECT_NE(html.find("<title>&lt;b&gt;&amp; #1</title>"), std::string::npos);
  std::size_t scripts = 0;
  for (std::size_t at = html.find("</script"); at != std::string::npos;
       at = html.find("</script", at + 1)) {
    ++scripts;
  }
  EXPECT_EQ(scripts, 5u);  // settings, three viewer scripts, the viewer
}

// Counts the steps a run shows.
class CountingProgress : public engine::NullProgress {
 public:
  void Create(const std::string& text) override { texts.insert(text); }
  void StepIt() override { ++steps; }
  std::set<std::string> texts;
  int steps = 0;
};

// The square project with its meshes, a stand-in for three.js's folder and a page in web/.
class WebPageWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mesh::UpdateModelWithMeshes(square.project);
    for (const ThreeJsScript& script : kThreeJsScripts) {
      const std::filesystem::path source = dir.File("three/") + script.source;
      std::filesystem::create_directories(source.parent_path());
      ASSERT_TRUE(WriteFileText(source, script.name));
    }
    std::filesystem::create_directory(dir.File("web"));
    settings.fileName = dir.File("web/square.html");
  }

  // The files and folders under web/.
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
  EXPECT_EQ(Written(),
            (std::set<std::string>{"square.html", "square.glb", "square.glb.js", "js",
                                   "js/three.min.js", "js/OrbitControls.js", "js/GLTFLoader.js"}));
  EXPECT_EQ(ReadFileText(dir.File("web/js/OrbitControls.js")), "OrbitControls.js");
  const std::string glb = ReadFileText(dir.File("web/square.glb"));
  EXPECT_TRUE(glb.starts_with("glTF"));
  EXPECT_EQ(ReadFileText(dir.File("web/square.glb.js")), WebModelScript(glb));
  EXPECT_EQ(WebModelScript(std::string("foob\xff\xfe\x00", 7)),
            "window.modrinModel = \"Zm9vYv/+AA==\";\n");
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
      // A folder in the model's place, which a rename only refuses after the files before it.
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
    EXPECT_NE(result.error.find(c.named), std::string::npos) << result.error;
    EXPECT_EQ(Written(), before) << c.named;
    EXPECT_EQ(ReadFileText(settings.fileName), "the earlier page") << c.named;
    std::filesystem::remove_all(dir.File("web/js"));
    std::filesystem::remove_all(dir.File("web/square.glb"));
  }
}

}  // namespace
}  // namespace modrin::exporters
