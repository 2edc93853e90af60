#include "cli/cli.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "images/camera_database.h"
#include "images/jpeg_writer.h"
#include "temp_dir.h"

namespace modrin::cli {
namespace {

using testing::ReadFileText;
using testing::TempDir;
using testing::WriteFileText;

struct CliRun {
  int status;
  std::string out;
  std::string err;
};

CliRun RunCli(const std::vector<std::string>& args, const std::string& exeDir = "/nonexistent",
              bool errIsTerminal = false) {
  std::ostringstream out, err;
  int status = Main(args, exeDir, out, err, errIsTerminal);
  return {status, out.str(), err.str()};
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The per-user camera database goes to a folder of this test.
    setenv("XDG_DATA_HOME", dir.File("data").c_str(), 1);
    const auto image = images::DecodedImage::Filled(64, 48, 200);
    images::ExifCamera exif;
    exif.model = "Test Cam";
    exif.focalLengthMm = 24;
    exif.focalPlaneResolutionUnit = 3;  // centimetres
    exif.focalPlaneXResolution = 64 / 2.4;
    exif.focalPlaneYResolution = 48 / 1.8;
    ASSERT_TRUE(images::WriteJpegFile(dir.File("a.jpg"), image, 90, exif));
    project = dir.File("p.mpj");
    ASSERT_TRUE(WriteFileText(project,
                              "Modrin file version 3.00\n"
                              "Image: \"" +
                                  dir.File("a.jpg") +
                                  "\"\n"
                                  "\tCalibrated: Y\n"
                                  "Image: \"" +
                                  dir.File("missing.jpg") +
                                  "\"\n"
                                  "Positions:\n"
                                  "\t1: U R(1.000,2.000,3.000) 0(10,20) 1(11,21)\n"
                                  "\t2: - 0(30,40)\n"
                                  "Edges:\n"
                                  "\t1: (1,2)\n"
                                  "Object: \"Box\"\n"
                                  "\tCurrent: Y\n"
                                  "\tVertices: 1 2\n"));
  }

  // `pictures` photos of a.jpg, then one whose file is missing, with four real positions marked
  // in every picture.
  std::string WriteCalibrationProject(int pictures) {
    std::string text = "Modrin file version 3.00\n";
    for (int i = 0; i < pictures; ++i) text += "Image: \"" + dir.File("a.jpg") + "\"\n";
    text += "Image: \"" + dir.File("missing.jpg") + "\"\nPositions:\n";
    const char* const positions[] = {"1: U R(0.000,0.000,0.000)", "2: U R(4.000,0.000,0.000)",
                                     "3: U R(4.000,3.000,0.000)", "4: U R(0.000,3.000,2.000)"};
    const int marks[][2] = {{10, 10}, {50, 12}, {48, 30}, {14, 40}};
    for (int p = 0; p < 4; ++p) {
      text += std::string("\t") + positions[p];
      for (int i = 0; i < pictures; ++i) {
        // Piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on "literal" + string.
        text += ' ';
        text += std::to_string(i);
        text += '(';
        text += std::to_string(marks[p][0] + i);
        text += ',';
        text += std::to_string(marks[p][1] - i);
        text += ')';
      }
      text += "\n";
    }
    const std::string path = dir.File("calibrate.mpj");
    EXPECT_TRUE(WriteFileText(path, text));
    return path;
  }

  TempDir dir;
  std::string project;
};

TEST_F(CliTest, InfoListsPhotosAndCounts) {
  CliRun run = RunCli({"info", project});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Photo 0: " + dir.File("a.jpg") +
                         ", 64 x 48 pixels, camera \"Test Cam\", focal 24.00 mm, calibrated\n"
                         "Photo 1: " +
                         dir.File("missing.jpg") +
                         ", not loaded, camera unknown, focal 0.00 mm, not calibrated\n"
                         "Positions: 2 (1 real, 0 computed)\n"
                         "Edges: 1\n"
                         "Objects: 1\n");
  // Opening found a new camera model; it joins the user's camera database.
  images::CameraDatabase saved;
  ASSERT_TRUE(saved.Load(dir.File("data/Modrin/Cameras.txt")));
  double width = 0, height = 0;
  ASSERT_TRUE(saved.Get("Test Cam", width, height));
  EXPECT_NEAR(width, 0.024, 1e-6);
  EXPECT_NEAR(height, 0.018, 1e-6);
}

TEST_F(CliTest, CamerasOptionIsReadAndNeverWritten) {
  const std::string cameras = dir.File("cams.txt");
  const std::string text = "\"Test Cam\"\n\tCell Height: 0.001000\n\tCell Width : 0.002000\n\n";
  ASSERT_TRUE(WriteFileText(cameras, text));
  CliRun run = RunCli({"--cameras", cameras, "info", project});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFileText(cameras), text);
  EXPECT_FALSE(std::filesystem::exists(dir.File("data/Modrin/Cameras.txt")));

  CliRun missing = RunCli({"--cameras", dir.File("none.txt"), "info", project});
  EXPECT_NE(missing.status, 0);
  EXPECT_NE(missing.err.find("none.txt"), std::string::npos);
}

// The names in a camera database file, in its order; empty when it cannot be read.
std::vector<std::string> CameraNames(const std::string& path) {
  images::CameraDatabase database;
  std::vector<std::string> names;
  if (!database.Load(path)) return names;
  for (auto name = database.NextName(""); name; name = database.NextName(*name)) {
    names.push_back(*name);
  }
  return names;
}

TEST_F(CliTest, AQuoteInACameraModelCostsNoEntryOfTheUsersDatabase) {
  // Photos of three models, one with quotes in its name and one after it in the file's order.
  const auto projectOf = [&](const std::string& name, const std::vector<std::string>& models) {
    std::string text = "Modrin file version 3.00\n";
    for (std::size_t i = 0; i < models.size(); ++i) {
      images::ExifCamera exif;
      exif.model = models[i];
      exif.focalLengthMm = 8;
      const std::string photo = dir.File(name + std::to_string(i) + ".jpg");
      EXPECT_TRUE(images::WriteJpegFile(photo, images::DecodedImage::Filled(16, 16, 9), 90, exif));
      text += "Image: \"" + photo + "\"\n";
    }
    EXPECT_TRUE(WriteFileText(dir.File(name + ".mpj"), text));
    return dir.File(name + ".mpj");
  };
  const std::string cameras = dir.File("data/Modrin/Cameras.txt");
  CliRun first = RunCli({"info", projectOf("first", {"Acam", "Cam \"Q\" 1", "Dcam"})});
  ASSERT_EQ(first.status, 0) << first.err;
  EXPECT_NE(first.out.find("camera \"Cam 'Q' 1\""), std::string::npos) << first.out;
  EXPECT_EQ(CameraNames(cameras), (std::vector<std::string>{"Acam", "Cam 'Q' 1", "Dcam"}));

  // A second run that brings a new model reads every entry back and keeps them all.
  CliRun second = RunCli({"info", projectOf("second", {"Bcam"})});
  ASSERT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(second.err.find("note"), std::string::npos) << second.err;
  EXPECT_EQ(CameraNames(cameras), (std::vector<std::string>{"Acam", "Bcam", "Cam 'Q' 1", "Dcam"}));
}

TEST_F(CliTest, AUsersDatabaseWithAnUnreadableBlockIsLeftAsItIs) {
  // Written by an older version or by hand: reading stops at the middle block, so saving the
  // database with the new model of the project would drop the last entry.
  const std::string cameras = dir.File("data/Modrin/Cameras.txt");
  const std::string text =
      "\"Acam\"\n\tCell Height: 0.001000\n\tCell Width : 0.002000\n\n"
      "\"Cam \"Q\" 1\"\n\tCell Height: 0.003000\n\tCell Width : 0.004000\n\n"
      "\"Zcam\"\n\tCell Height: 0.005000\n\tCell Width : 0.006000\n\n";
  std::filesystem::create_directories(dir.File("data/Modrin"));
  ASSERT_TRUE(WriteFileText(cameras, text));
  CliRun run = RunCli({"info", project});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFileText(cameras), text);
  EXPECT_NE(run.err.find("modrin-cli: note: the camera database \"" + cameras +
                         "\" could not be read to its end"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("data/Modrin")),
                          std::filesystem::directory_iterator()),
            1);
}

TEST_F(CliTest, ResaveWritesTheCurrentFormat) {
  // An older two-photo file comes out in the current grammar.
  const std::string old = dir.File("old.mpj");
  ASSERT_TRUE(
      WriteFileText(old, "Image left:  \"" + dir.File("a.jpg") + "\"\nImage right: \"b.jpg\"\n"));
  const std::string out = dir.File("new.mpj");
  CliRun run = RunCli({"resave", old, out});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string written = ReadFileText(out);
  EXPECT_TRUE(written.starts_with("Modrin file version 3.00\nImage: \"" + dir.File("a.jpg") +
                                  "\"\n\tCalibrated: N\n"))
      << written;
  // The EXIF focal length of the loaded photo is in the written file.
  EXPECT_NE(written.find("\tFocal: 0.024000\n"), std::string::npos) << written;
}

TEST_F(CliTest, ErrorsAreReportedWithANonZeroStatus) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"info", dir.File("none.mpj")}, "modrin-cli: cannot open \"" + dir.File("none.mpj")},
      {{"info", dir.path().string()}, "it is a folder"},
      {{"info"}, "info takes one project file"},
      {{"frobnicate", project}, "unknown command \"frobnicate\""},
      {{"--bogus", "info", project}, "unknown option \"--bogus\""},
      {{"--cameras"}, "--cameras needs a file name"},
      {{"resave", project, dir.File("no/such/folder/out.mpj")}, "cannot save"},
      {{"calibrate"}, "calibrate takes one project file"},
      {{"calibrate", dir.File("none.mpj")}, "cannot open"},
      {{"calibrate", project, "--photos", "1,x"}, "not \"1,x\""},
      {{"calibrate", project, "--photos", "0,,1"}, "not \"0,,1\""},
      {{"calibrate", project, "--photos=-1"}, "not \"-1\""},
      {{"calibrate", project, "--photos", "0,2"}, "no photo 2 (the project has 2 photos"},
      {{"calibrate", project, "--photos"}, "--photos needs a list"},
      {{"calibrate", project, "--all", "--photos", "0"}, "only one of --all and --photos"},
      {{"calibrate", project, "-o"}, "-o needs a file name"},
      {{"calibrate", project, "--fast"}, "unknown option \"--fast\""},
      {{"info", project, "--no-polish"}, "--no-polish is an option of calibrate only"},
      {{"calibrate", project, "--csv"}, "--csv is an option of report only"},
      {{"report"}, "report takes one project file"},
      {{"report", dir.File("none.mpj")}, "cannot open"},
      {{"report", project, "--check"}, "--check needs a list of position ids"},
      {{"report", project, "--check", "1,x"}, "not \"1,x\""},
      {{"report", project, "--check=2"}, "position 2 is not a position with real coordinates"},
      {{"calibrate", project, "--check", "7"}, "position 7 is not a position with real"},
      {{"info", project, "--check", "1"},
       "--check is an option of calibrate, report and refine only"},
      {{"refine", project}, "refining needs at least two calibrated photos"},
      {{"refine", project, "--soft", "x"}, "--soft needs a positive number in world units"},
      {{"refine", project, "--huber=0"}, "--huber needs a positive number of pixels"},
      {{"report", project, "--focal"}, "--focal is an option of refine only"},
      {{"export", project, "-o", "x"}, "-o is an option of calibrate and refine only"},
      {{"calibrate", project, "-o", dir.File("no/such/folder/out.mpj")}, "cannot save"},
      {{"export", project}, "export takes a project file and an output file"},
      {{"export", project, dir.File("model.ply")}, "must end in .obj, .wrl, .x, .gltf or .glb"},
      {{"export", dir.File("none.mpj"), dir.File("model.obj")}, "cannot open"},
      {{"export", project, dir.File("no/such/folder/model.wrl")}, "cannot write"},
  };
  const std::string before = ReadFileText(project);
  for (const Case& c : cases) {
    CliRun run = RunCli(c.args);
    EXPECT_NE(run.status, 0) << c.message;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
  EXPECT_EQ(ReadFileText(project), before);
  EXPECT_FALSE(std::filesystem::exists(dir.File("model.ply")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("model.obj")));
}

// Every web option's bad value, and every cause that stops the page, is named; nothing is
// written.
TEST_F(CliTest, WebRefusesBadValuesAndWritesNothing) {
  const std::string page = dir.File("page.html");
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--max-texture=0"}, "--max-texture must be a whole number of pixels from 1 to 16384"},
      {{"--quality", "8.5"}, "--quality must be a whole number from 0 to 100 (not \"8.5\")"},
      {{"--size", "640x-1"}, "--size must be WIDTHxHEIGHT"},
      {{"--background", "#12345g"}, "--background must be a colour as six hexadecimal digits"},
      {{"--h-range", "30,-30"}, "--h-range must be MIN,MAX in whole degrees, MIN not above MAX"},
      {{"--v-range", "-10"}, "--v-range must be MIN,MAX"},
      {{"--url"}, "--url needs a value"},
      {{}, "the current objects have no faces"},
      {{dir.File("m.obj")}, "web takes a project file and an HTML file"},
  };
  for (const auto& [options, message] : cases) {
    std::vector<std::string> args = {"web", project, page};
    args.insert(args.end(), options.begin(), options.end());
    const CliRun run = RunCli(args);
    EXPECT_EQ(run.status, 1) << message;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
  }
  const CliRun elsewhere = RunCli({"export", project, dir.File("m.obj"), "--quality", "5"});
  EXPECT_NE(elsewhere.err.find("--quality is an option of web only"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(page));
  EXPECT_FALSE(std::filesystem::exists(dir.File("js")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("m.obj")));
}

TEST_F(CliTest, ReportPrintsTheTablesOfTheCalibratedPhotos) {
  // Photo 0 is calibrated at the initial pose, looking along +y from (0.5, 0, 0); position 1
  // projects to (0.25, 2) in normalized coordinates of the 64 x 48 picture, 38 and 100 pixels
  // off its mark. Position 2 has no coordinates, photo 1 no picture.
  CliRun run = RunCli({"report", project});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(
      run.out,
      "Photo           Control  RMS px  Max px    Marks  RMS px  Max px  Worst\n"
      "Photo 0: a.jpg        1  106.98  106.98        1  106.98  106.98      1\n"
      "\n"
      "Position  Role      Photos  RMS px  Max px  Typed-computed  Error px by photo\n"
      "       1  control        1  106.98  106.98               -  0:106.98\n"
      "\n"
      "Overall: RMS 106.98 px over 1 marks, worst 106.98 px: position 1 in photo 0 (a.jpg)\n");
  CliRun csv = RunCli({"report", "--csv", project});
  ASSERT_EQ(csv.status, 0) << csv.err;
  EXPECT_EQ(csv.out,
            "photo,name,control_marks,control_rms_px,control_max_px,marks,rms_px,max_px,"
            "worst_position\n"
            "0,a.jpg,1,106.98,106.98,1,106.98,106.98,1\n"
            "\n"
            "position,role,photos,rms_px,max_px,typed_computed,errors_px\n"
            "1,control,1,106.98,106.98,,0:106.98\n"
            "\n"
            "marks,rms_px,max_px,worst_position,worst_photo,scene_size,check_points,check_rms,"
            "check_max\n"
            "1,106.98,106.98,1,0,0.0000,0,0.0000,0.0000\n");
  // A check point is no control point of its photo.
  CliRun check = RunCli({"report", "--check", "1", project});
  ASSERT_EQ(check.status, 0) << check.err;
  const auto lines = Lines(check.out);
  ASSERT_GE(lines.size(), 5u) << check.out;
  EXPECT_EQ(lines[1], "Photo 0: a.jpg        0    0.00    0.00        1  106.98  106.98      1");
  EXPECT_EQ(lines[4], "       1  check          1  106.98  106.98               -  0:106.98");
}

TEST_F(CliTest, ExportWritesTheModelAndPrintsItsCounts) {
  CliRun run = RunCli({"export", project, dir.File("model.obj")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Current objects: 1\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Saved " + dir.File("model.obj")), std::string::npos);
  EXPECT_TRUE(ReadFileText(dir.File("model.obj")).starts_with("mtllib model.mtl\n"));
  EXPECT_TRUE(ReadFileText(dir.File("model.mtl")).starts_with("# Created with Modrin\n"));
}

TEST_F(CliTest, CalibrateSolvesTheChosenPhotosAndSaves) {
  const std::string input = WriteCalibrationProject(2);
  const std::string before = ReadFileText(input);
  const std::string saved = dir.File("out.mpj");
  CliRun run = RunCli({"calibrate", input, "--photos", "0,2", "-o", saved}, "/nonexistent", true);
  ASSERT_EQ(run.status, 0) << run.err;
  const auto lines = Lines(run.out);
  ASSERT_EQ(lines.size(), 4u) << run.out;
  // One line per solve, a note per chosen photo that could not be solved, the summary.
  EXPECT_TRUE(lines[0].starts_with("Photo 0: a.jpg        ")) << lines[0];
  EXPECT_NE(lines[0].find("  translation ("), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find(" deg  error "), std::string::npos) << lines[0];
  EXPECT_TRUE(lines[0].ends_with(" s")) << lines[0];
  EXPECT_EQ(lines[1], "Photo 2: missing.jpg  not solved: no picture");
  EXPECT_TRUE(lines[2].starts_with("Solves: 1, accepted: ")) << lines[2];
  EXPECT_EQ(lines[3], "Saved " + saved);
  EXPECT_EQ(ReadFileText(input), before);
  EXPECT_TRUE(ReadFileText(saved).starts_with("Modrin file version 3.00\n"));
  // The bar is drawn on the error stream when it is a terminal, and cleared.
  EXPECT_TRUE(run.err.starts_with("\rCalibrating image a.jpg [")) << run.err;
  EXPECT_TRUE(run.err.ends_with(" \r")) << run.err;
  CliRun quiet = RunCli({"calibrate", input, "--no-polish", "-o", saved});
  ASSERT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(Lines(quiet.out).size(), 5u) << quiet.out;
}

TEST_F(CliTest, CalibrateNamesControlPointsThatCannotFixAPose) {
  // Photo 0 marks real points on one line, photo 1 points whose height alone is known, photo 2
  // two points.
  const std::string input = dir.File("degenerate.mpj");
  const std::string image = "Image: \"" + dir.File("a.jpg") + "\"\n";
  ASSERT_TRUE(WriteFileText(input, "Modrin file version 3.00\n" + image + image + image +
                                       "Positions:\n"
                                       "\t1: U R(0.000,0.000,0.000) 0(10,10) 2(10,10)\n"
                                       "\t2: U R(1.000,1.000,1.000) 0(20,20) 2(20,30)\n"
                                       "\t3: U R(2.000,2.000,2.000) 0(30,30)\n"
                                       "\t4: U R(99999.000,99999.000,1.000) 1(10,10)\n"
                                       "\t5: U R(99999.000,99999.000,2.000) 1(20,30)\n"
                                       "\t6: U R(99999.000,99999.000,3.000) 1(30,20)\n"));
  const std::string saved = dir.File("out.mpj");
  CliRun run = RunCli({"calibrate", input, "-o", saved});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "Photo 0: a.jpg  not solved: the marked points with two or three known coordinates "
            "lie on one line\n"
            "Photo 1: a.jpg  not solved: no marked point has more than one known coordinate\n"
            "Photo 2: a.jpg  not solved: fewer than 3 marked points with known coordinates\n"
            "Solves: 0, accepted: 0\n"
            "Saved " +
                saved + "\n");
  const std::string text = ReadFileText(saved);
  EXPECT_NE(text.find("\t4: U R(99999.000,99999.000,1.000) 1(10,10)\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("Calibrated: Y"), std::string::npos) << text;
}

// Takes the text of a stream and raises SIGINT when it is first flushed: on the output, as
// Ctrl-C pressed once the first photo's line is out; on the error stream with its progress
// bar, as Ctrl-C pressed as soon as the first search has started.
class InterruptOnFirstFlush : public std::stringbuf {
 protected:
  int sync() override {
    if (!raised_) std::raise(SIGINT);
    raised_ = true;
    return 0;
  }

 private:
  bool raised_ = false;
};

void OwnHandler(int) {}

// Runs `calibrate --all` on a project of three pictures and a missing photo, with SIGINT
// raised at the first flush of the output or of the error stream, under a SIGINT handler of
// the test's own, which the command must restore.
class CtrlCTest : public CliTest {
 protected:
  std::vector<std::string> RunInterrupted(bool duringTheFirstSearch) {
    input = WriteCalibrationProject(3);
    before = ReadFileText(input);
    struct sigaction own {};
    own.sa_handler = OwnHandler;
    sigemptyset(&own.sa_mask);
    struct sigaction previous {};
    EXPECT_EQ(sigaction(SIGINT, &own, &previous), 0);

    InterruptOnFirstFlush interrupting;
    std::ostringstream text;
    std::ostream out(duringTheFirstSearch ? text.rdbuf() : &interrupting);
    std::ostream err(duringTheFirstSearch ? &interrupting : text.rdbuf());
    status = Main({"calibrate", "--all", input}, "/nonexistent", out, err, duringTheFirstSearch);

    struct sigaction after {};
    sigaction(SIGINT, &previous, &after);
    EXPECT_EQ(after.sa_handler, &OwnHandler);
    return Lines(duringTheFirstSearch ? text.str() : interrupting.str());
  }

  // The lines after the first photo's: the others were not reached, the summary says so, and
  // the project is saved in place.
  void ExpectStoppedAfterTheFirstPhoto(const std::vector<std::string>& lines) {
    EXPECT_EQ(status, 0);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_TRUE(lines[0].starts_with("Photo 0: a.jpg  ")) << lines[0];
    EXPECT_EQ(lines[1], "Photo 1: a.jpg        not solved: not reached, the run was stopped");
    EXPECT_EQ(lines[2], "Photo 2: a.jpg        not solved: not reached, the run was stopped");
    EXPECT_EQ(lines[3], "Photo 3: missing.jpg  not solved: no picture");
    EXPECT_TRUE(lines[4].starts_with("Solves: 1, accepted: ")) << lines[4];
    EXPECT_TRUE(lines[4].ends_with(", cancelled")) << lines[4];
    EXPECT_EQ(lines[5], "Saved " + input);
    EXPECT_NE(ReadFileText(input), before);
  }

  std::string input, before;
  int status = -1;
};

TEST_F(CtrlCTest, BetweenTwoSearchesStopsTheRunBeforeTheNext) {
  ExpectStoppedAfterTheFirstPhoto(RunInterrupted(false));
}

TEST_F(CtrlCTest, DuringASearchCancelsItAndStopsTheRun) {
  const auto lines = RunInterrupted(true);
  ExpectStoppedAfterTheFirstPhoto(lines);
  // Cut short in the coarse sweep, the search left the camera on a point of its grid, whose
  // angles are whole multiples of 15 degrees.
  ASSERT_FALSE(lines.empty());
  const std::size_t start = lines[0].find("orientation (");
  const std::size_t end = lines[0].find(") deg");
  ASSERT_TRUE(start != std::string::npos && end != std::string::npos) << lines[0];
  std::istringstream angles(lines[0].substr(start + 13, end - start - 13));
  int count = 0;
  for (std::string angle; std::getline(angles, angle, ','); ++count) {
    const double degrees = std::stod(angle);
    EXPECT_NEAR(degrees, 15 * std::round(degrees / 15), 1e-3) << lines[0];
  }
  EXPECT_EQ(count, 3) << lines[0];
}

TEST(Cli, HelpAndVersion) {
  CliRun help = RunCli({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("Usage: modrin-cli"), std::string::npos);
  CliRun version = RunCli({"info", "x", "--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "modrin-cli 3.0\n");
  CliRun nothing = RunCli({});
  EXPECT_NE(nothing.status, 0);
  EXPECT_NE(nothing.err.find("Usage"), std::string::npos);
}

}  // namespace
}  // namespace modrin::cli
