#include "model/project_file.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "images/text_scanner.h"
#include "model/project.h"

namespace modrin::model {
namespace {

using Ids = std::set<std::int32_t>;
using engine::Vec3;
using images::TextScanner;

// Two photos; a computed, a plain and a real position; two edges; a current and an empty object.
void FillSample(Project& project) {
  Photo& left = project.AddPhoto();
  left.SetPath("/photos/left side.jpg");
  left.camera.calibrated = true;
  left.camera.translation = {1.23456, -0.00004, 2.5};
  left.camera.orientation = {0.1, -0.2, 3.14159};
  left.camera.focal = 0.0351234567;
  project.AddPhoto().SetPath("C:\\photos\\right.jpg");
  project.graph.positions = {{3, {{{1, {-3, 7}}}, {-1.2346, 0.0004, 1000}, false, true}},
                             {7, {{{0, {1, 2}}}, {0, 0, 0}, false, false}},
                             {12, {{{0, {512, 388}}, {1, {640, 401}}}, {1, 0, 2.5}, true, false}}};
  project.graph.edges = {{1, {3, 12}}, {4, {12, 7}}};
  Object& house = project.AddObject("House");
  house.current = true;
  house.positionIds = {12, 3, 7};
  project.AddObject("Empty");
}

constexpr char kSampleText[] =
    "Modrin file version 3.00\n"
    "Image: \"/photos/left side.jpg\"\n"
    "\tCalibrated: Y\n"
    "\tTranslation: (1.2346, -0.0000, 2.5000)\n"
    "\tOrientation: (0.1000, -0.2000, 3.1416)\n"
    "\tFocal: 0.035123\n"
    "Image: \"C:\\photos\\right.jpg\"\n"
    "\tCalibrated: N\n"
    "\tTranslation: (0.5000, 0.0000, 0.0000)\n"
    "\tOrientation: (0.0000, 0.0000, 0.0000)\n"
    "\tFocal: 0.000000\n"
    "Positions:\n"
    "\t3: - R(-1.235,0.000,1000.000) 1(-3,7)\n"
    "\t7: - 0(1,2)\n"
    "\t12: U R(1.000,0.000,2.500) 0(512,388) 1(640,401)\n"
    "Edges:\n"
    "\t1: (3,12)\n"
    "\t4: (12,7)\n"
    "Object: \"House\"\n"
    "\tCurrent: Y\n"
    "\tVertices: 3 7 12\n"
    "Object: \"Empty\"\n"
    "\tCurrent: N\n"
    "\tVertices:\n";

// Every line of the older two-photo format, with position lines among the ground positions.
constexpr char kOlderBody[] =
    "Image left:  \"/data/left.bmp\"\n"
    "Image right: \"/data/right.bmp\"\n"
    "\nProcess parameters\nNbPt: (12,34)\n"
    "\tCurrent: Y\n\tCurrent: N\n"
    "\nInterpolation parameters\n"
    "Left photo height above ground: 1.5\nLeft photo vertical angle: -0.25\n"
    "Right photo relative position X: 2\nRight photo relative position Y: 3.5\n"
    "Right photo relative position Z: -1\nRight photo horizontal angle: 0.75\n"
    "Right photo vertical angle: 0.125\nFocal: 0.05\nCell width: 0.036\nCell height: 0.024\n"
    "Ground positions:\n"
    " [(1.0,2.0)-(3.0,4.0)]\n"
    "\t4: (10,20)-(30,40) U\n"
    " [(5,6)-(7,8)]\n"
    "\t2: (1,2)-(3,4) -\n"
    "\t4: (9,9)-(9,9) -\n";

// Reads `text` into `project` and returns the text written from it.
std::string Reread(Project& project, const std::string& text) {
  EXPECT_TRUE(ReadProjectText(project, text));
  return WriteProjectText(project);
}

std::string Body(const std::string& positions, const std::string& rest = "Edges:\n") {
  return "Modrin file version 3.00\nPositions:\n" + positions + rest;
}

std::vector<std::string> Names(const Project& project) {
  std::vector<std::string> names;
  for (const auto& object : project.objects) names.push_back(object->name);
  return names;
}

TEST(ProjectFileTest, SampleIsWrittenExactlyAndReadsBack) {
  Project project;
  EXPECT_EQ(WriteProjectText(project), "Modrin file version 3.00\nPositions:\nEdges:\n");
  FillSample(project);
  EXPECT_EQ(WriteProjectText(project), kSampleText);

  Project read;
  EXPECT_EQ(Reread(read, kSampleText), kSampleText);
  EXPECT_TRUE(read.photos.at(0)->camera.calibrated);
  EXPECT_EQ(read.photos[1]->path, "C:\\photos\\right.jpg");
  const auto& positions = read.graph.positions;
  // A real position comes back computed as well.
  EXPECT_TRUE(positions.at(12).isReal && positions.at(12).isComputed);
  EXPECT_TRUE(!positions.at(3).isReal && positions.at(3).isComputed);
  EXPECT_TRUE(!positions.at(7).isReal && !positions.at(7).isComputed);
  EXPECT_EQ(read.graph.lastPositionId, 12);
  EXPECT_EQ(read.graph.lastEdgeId, 4);
  ASSERT_EQ(Names(read), (std::vector<std::string>{"House", "Empty"}));
  EXPECT_EQ(read.objects[0]->positionIds, (Ids{3, 7, 12}));
  EXPECT_EQ(read.objects[1]->photoMeshes.size(), 2u);

  Reread(read, "Modrin file version 3.00\nPositions:\nEdges:\n");
  EXPECT_TRUE(read.photos.empty() && read.objects.empty() && read.graph.lastPositionId == 0);
}

TEST(ProjectFileTest, NumbersAreWrittenAsPrintfWritesThemInAnyLocale) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (double value : {0.00005, 0.00015, 0.0015, 2.675, 1.0005, -0.00004, -0.0, -1e300,
                       std::numeric_limits<double>::max(), 4.9e-324, inf, -inf, nan, -nan}) {
    Project project;
    project.AddPhoto().camera.translation = {value, value, value};
    project.photos[0]->camera.focal = value;
    project.graph.positions[1] = {{}, {value, value, value}, false, true};
    std::vector<char> expected(1200);
    std::snprintf(expected.data(), expected.size(),
                  "\tTranslation: (%.4f, %.4f, %.4f)\n\tOrientation: (0.0000, 0.0000, 0.0000)\n"
                  "\tFocal: %f\nPositions:\n\t1: - R(%.3f,%.3f,%.3f)\n",
                  value, value, value, value, value, value, value);
    EXPECT_NE(project.Write().find(expected.data()), std::string::npos) << expected.data();
  }

  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "no de_DE.UTF-8";
  Project project;
  FillSample(project);
  const std::string written = WriteProjectText(project);
  const std::string rewritten = Reread(project, kSampleText);
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(written, kSampleText);
  EXPECT_EQ(rewritten, kSampleText);
}

TEST(ProjectFileTest, LongTextsAndCarriageReturnsReadBack) {
  Project project;
  const std::string path = std::string(100000, 'p') + " with blanks\nand a newline";
  project.AddPhoto().SetPath(path);
  project.AddObject(std::string(100000, 'n'));
  const std::string text = WriteProjectText(project);
  Project read;
  EXPECT_EQ(Reread(read, text), text);
  EXPECT_EQ(read.photos.at(0)->path, path);

  std::string crlf;
  for (char c : std::string(kSampleText)) crlf += c == '\n' ? "\r\n" : std::string(1, c);
  EXPECT_EQ(Reread(read, crlf), kSampleText);
}

// A double quote would end a name early and lose the objects after it: renaming refuses it,
// and a name that holds one all the same is written with single quotes.
TEST(ProjectFileTest, ObjectNamesAlwaysReadBack) {
  Project project;
  Object& house = project.AddObject("House");
  Object& shed = project.AddObject("Sh\"ed");
  project.AddObject("Gate").AddPosition(7);
  EXPECT_EQ(shed.name, "Sh'ed");
  EXPECT_FALSE(project.RenameObject(house, "Big \"red\" house"));
  EXPECT_EQ(house.name, "House");
  EXPECT_TRUE(project.RenameObject(house, "Big 'red' house, \\ and / too"));
  shed.name = "Made \"behind\" the rules";
  Project read;
  ASSERT_TRUE(ReadProjectText(read, WriteProjectText(project)));
  ASSERT_EQ(read.objects.size(), 3u);
  EXPECT_EQ(read.objects[0]->name, house.name);
  EXPECT_EQ(read.objects[1]->name, "Made 'behind' the rules");
  EXPECT_EQ(read.objects[2]->name, "Gate");
  EXPECT_EQ(read.objects[2]->positionIds, Ids{7});
}

TEST(ProjectFileTest, EmptyPathsAndNamesDoNotEndTheFile) {
  // An older file whose image lines did not match leaves photos without a path; saved and
  // reopened, everything after those photos must still be read.
  Project older;
  ASSERT_TRUE(ReadProjectText(older, "\tCurrent: Y\n"));
  ASSERT_EQ(older.photos.size(), 2u);
  ASSERT_EQ(older.objects.size(), 1u);
  older.objects[0]->AddPosition(3);
  const std::string written = WriteProjectText(older);
  EXPECT_NE(written.find("Image: \"\"\n"), std::string::npos);
  EXPECT_NE(written.find("Object: \"\"\n"), std::string::npos);

  Project reopened;
  ASSERT_TRUE(ReadProjectText(reopened, written));
  EXPECT_EQ(reopened.photos.size(), 2u);
  ASSERT_EQ(reopened.objects.size(), 1u);
  EXPECT_TRUE(reopened.objects[0]->current);
  EXPECT_EQ(reopened.objects[0]->positionIds, Ids{3});
  EXPECT_EQ(WriteProjectText(reopened), written);
}

TEST(ProjectFileTest, EarlierLineWinsForDuplicateIdsAndCountersTakeTheHighest) {
  Project project;
  Reread(project, Body("\t5: - 0(1,1)\n\t3: -\n\t5: U 0(3,3)\n\t-4: -\n",
                       "Edges:\n\t2: (3,5)\n\t2: (7,8)\n\t-1: (1,1)\n"));
  const PositionGraph& graph = project.graph;
  EXPECT_EQ(graph.positions.size(), 3u);
  EXPECT_FALSE(graph.positions.at(5).isReal);
  EXPECT_EQ(graph.positions.at(5).imagePoints.at(0), (ImagePoint{1, 1}));
  EXPECT_EQ(graph.edges.at(2).second, 5);
  EXPECT_EQ(graph.edges.at(-1).second, 1);  // taken as written
  EXPECT_EQ(graph.lastPositionId, 5);
  EXPECT_EQ(graph.lastEdgeId, 2);

  Reread(project, Body("\t-4: -\n", "Edges:\n\t-2: (1,2)\n"));
  EXPECT_EQ(graph.lastPositionId, 0);
  EXPECT_EQ(graph.lastEdgeId, 0);

  Reread(project, Body("\t2147483647: -\n"));
  std::int32_t id = 0;
  EXPECT_FALSE(project.graph.NewPosition(id));  // the id space is used up, nothing wraps

  // An id beyond 32 bits is no number: reading stops there.
  Reread(project, Body("\t1: -\n\t2147483648: -\n\t3: -\n", "Edges:\n\t1: (1,2)\n"));
  EXPECT_EQ(graph.positions.size(), 1u);
  EXPECT_TRUE(graph.edges.empty());
}

TEST(ProjectFileTest, PositionLinesAreReadWithinTheirLine) {
  Project project;
  Reread(project, Body("\t5: -\n"
                       "\t6: U R(1.000,2.000,3.000)\n"
                       "\t7: - 0(1,2) 0(3,4) 2000000000(5,6) -7(8,9)\n"
                       "\t8:X 0(1,2)x1(3,4)\n",
                       "Edges:\n\t1: (5,6)\n"));
  const auto& positions = project.graph.positions;
  ASSERT_EQ(positions.size(), 4u);
  EXPECT_TRUE(positions.at(5).imagePoints.empty());
  EXPECT_TRUE(positions.at(6).isReal && positions.at(6).isComputed);
  EXPECT_EQ(positions.at(6).coords[2], 3.0);
  const auto& points = positions.at(7).imagePoints;
  EXPECT_EQ(points.size(), 3u);
  EXPECT_EQ(points.at(0), (ImagePoint{3, 4}));  // a later entry for a photo replaces it
  EXPECT_EQ(points.at(2000000000), (ImagePoint{5, 6}));
  EXPECT_EQ(positions.at(8).imagePoints.size(), 2u);  // any one character separates entries
  EXPECT_FALSE(positions.at(8).isReal);
  EXPECT_EQ(project.graph.edges.size(), 1u);
}

TEST(ProjectFileTest, UnreadableTextEndsReadingWhereItStands) {
  Project project;
  // A missing camera line leaves its field as constructed; the next line still reads.
  Reread(project,
         "Modrin file version 3.00\nImage: \"a\"\n\tCalibrated: Y\n\tTranslation: (1, 2, 3)\n"
         "\tFocal: 0.5\nImage: \"b\"\nPositions:\n\t1: -\nEdges:\n");
  ASSERT_EQ(project.photos.size(), 2u);
  EXPECT_EQ(project.photos[0]->camera.orientation, (Vec3{0, 0, 0}));
  EXPECT_EQ(project.photos[0]->camera.focal, 0.5);
  EXPECT_EQ(project.graph.positions.size(), 1u);

  // A garbled camera line keeps the numbers read before the mismatch; nothing after it reads.
  Reread(project,
         "Modrin file version 3.00\nImage: \"a\"\n\tTranslation: (7, x, 3)\n"
         "\tFocal: 0.5\nImage: \"b\"\nPositions:\n\t1: -\nEdges:\n");
  ASSERT_EQ(project.photos.size(), 1u);
  EXPECT_EQ(project.photos[0]->camera.translation, (Vec3{7, 0, 0}));
  EXPECT_TRUE(project.graph.positions.empty());

  // Garbled position lines keep the lines before them (and what was read of them).
  for (const char* bad : {"\t2 oops\n", "\t2: - 0(1,2) junk\n"}) {
    Reread(project,
           Body(std::string("\t1: -\n") + bad + "\t3: -\n", "Edges:\n\t1: (1,2)\nObject: \"o\"\n"));
    EXPECT_EQ(project.graph.positions.size(), bad[2] == ':' ? 2u : 1u) << bad;
    EXPECT_TRUE(project.graph.edges.empty() && project.objects.empty()) << bad;
  }

  const std::string sample = kSampleText;
  Reread(project, sample.substr(0, sample.find("\t7: - 0(1") + 8));
  EXPECT_EQ(project.graph.positions.size(), 2u);
  EXPECT_TRUE(project.graph.positions.at(7).imagePoints.empty());
}

TEST(ProjectFileTest, ObjectBlocks) {
  Project project;
  Reread(project,
         "Modrin file version 3.00\nImage: \"a\"\nPositions:\nEdges:\n"
         "Object: \"Wall\"\n\tCurrent: Y\n\tVertices: 3 1 2\n"
         "Object: \"Wall\"\n\tCurrent: N\n\tVertices:\n"
         "Object: \"Roof\"\n"
         "Object: \"Door\"\n\tCurrent: Y\n\tVertices: 5\n"
         "Object: \"Gate\"\n\tBroken\n"
         "Object: \"Never\"\n\tCurrent: Y\n");
  EXPECT_EQ(Names(project), (std::vector<std::string>{"Wall", "Wall1", "Roof", "Door", "Gate"}));
  EXPECT_EQ(project.objects[0]->positionIds, (Ids{1, 2, 3}));
  EXPECT_FALSE(project.objects[2]->current);  // no "Current" line: stays as created
  EXPECT_EQ(project.objects[3]->positionIds, (Ids{5}));
  EXPECT_EQ(project.objects[4]->photoMeshes.size(), 1u);

  Object object;
  TextScanner older("\tCurrent: Y\n\tVertices: 1 2\n");
  EXPECT_TRUE(ReadObject(object, older, 2.0f));
  EXPECT_TRUE(object.current && object.positionIds.empty());

  // Names come out exactly as AddObject gives them.
  const std::vector<std::string> pool = {"a", "a1", "a11", "a2", "b", "1", "a 1"};
  std::mt19937 random(7);
  Project expected;
  std::string text = "Modrin file version 3.00\nPositions:\nEdges:\n";
  for (int i = 0; i < 400; ++i) {
    const std::string& name = pool[random() % pool.size()];
    expected.AddObject(name);
    text += "Object: \"" + name + "\"\n\tCurrent: N\n\tVertices:\n";
  }
  Reread(project, text);
  EXPECT_EQ(Names(project), Names(expected));
}

TEST(ProjectFileTest, HeaderVersionChoosesTheGrammar) {
  EXPECT_EQ(ProjectFileHeader(), "Modrin file version 3.00\n");
  std::size_t bodyStart = 99;
  EXPECT_EQ(ReadHeaderVersion("Modrin file version  3.1 \n\n\tX", bodyStart), 3.1f);
  EXPECT_EQ(bodyStart, 28u);
  EXPECT_EQ(ReadHeaderVersion("Modrin file version x\n", bodyStart), 2.0f);
  EXPECT_EQ(bodyStart, 0u);

  Project project;
  Reread(project, std::string("Modrin file version 3.10\n") + (kSampleText + 25));
  EXPECT_EQ(project.objects.size(), 2u);
  Reread(project, std::string("Modrin file version 2.99\n") + (kSampleText + 25));
  EXPECT_TRUE(project.photos.at(1)->path.empty() && project.objects.empty());

  for (const char* header : {"", "Modrin file version 2.50\n"}) {
    FillSample(project);
    Reread(project, header + std::string(kOlderBody));
    ASSERT_EQ(project.photos.size(), 2u);
    const engine::CameraRecord& left = project.photos[0]->camera;
    const engine::CameraRecord& right = project.photos[1]->camera;
    EXPECT_EQ(project.photos[1]->path, "/data/right.bmp");
    EXPECT_EQ(left.translation, (Vec3{0, 0, 1.5}));
    EXPECT_EQ(left.orientation, (Vec3{-0.25, 0, 0}));
    EXPECT_EQ(right.translation, (Vec3{2, 3.5, -1}));
    EXPECT_EQ(right.orientation, (Vec3{0.125, 0, 0.75}));
    EXPECT_TRUE(left.focal == 0.05 && right.focal == 0.05);
    EXPECT_FALSE(left.calibrated || right.calibrated);
    EXPECT_EQ(Names(project), (std::vector<std::string>{"", ""}));
    EXPECT_TRUE(project.objects[0]->current && !project.objects[1]->current);
    const auto& positions = project.graph.positions;
    ASSERT_EQ(positions.size(), 2u);
    EXPECT_EQ(positions.at(4).imagePoints.at(1), (ImagePoint{30, 40}));
    EXPECT_EQ(project.graph.lastPositionId, 4);
    EXPECT_TRUE(project.graph.edges.empty());
  }
}

TEST(ProjectFileTest, FileNeedingTooManyMeshesIsRefusedAndLeavesTheProjectAsItWas) {
  std::string text = "Modrin file version 3.00\n";
  for (int i = 0; i < 1000; ++i) text += "Image: \"p\"\n";
  text += "Positions:\n\t1: -\nEdges:\n";
  for (std::size_t i = 0; i < kMaxReadPhotoMeshes / 1000; ++i) text += "Object: \"o\"\n";
  // A million empty meshes: each must cost a few dozen bytes, not a mesh's full storage.
  const std::size_t heapBefore = mallinfo2().uordblks;
  Project project;
  EXPECT_TRUE(ReadProjectText(project, text));
  EXPECT_EQ(project.objects.size(), 1000u);
  EXPECT_LT(mallinfo2().uordblks - heapBefore, std::size_t{100} << 20);

  Project kept;
  FillSample(kept);
  const std::string before = WriteProjectText(kept);
  EXPECT_FALSE(ReadProjectText(kept, text + "Object: \"o\"\n"));
  EXPECT_EQ(WriteProjectText(kept), before);
  EXPECT_EQ(kept.objects[0]->graph, &kept.graph);
}

// A text fed to the scanner a few bytes at a time.
TextScanner::Source PiecesOf(const std::string& text, std::size_t piece,
                             std::size_t* pulled = nullptr) {
  return [&text, piece, pulled, at = std::size_t{0}](char* buffer, std::size_t size) mutable {
    const std::size_t n = std::min({piece, size, text.size() - at});
    std::copy_n(text.data() + at, n, buffer);
    at += n;
    if (pulled != nullptr) *pulled += n;
    return n;
  };
}

// Reading a stream gives what reading the whole text gives, however the stream is cut, also
// where reading ends early or the header breaks off and the body is read from the start.
TEST(ProjectFileTest, StreamReadsAsTheWholeText) {
  const std::vector<std::string> texts = {
      kSampleText,
      std::string(kSampleText) + "garbage\nObject: \"late\"\n",
      std::string("Modrin file vers\n") + kOlderBody,
      std::string("Modrin file version \n3.00\n") + (kSampleText + 25),
      kOlderBody,
      Body("\t1: U R(1,2,3) 0(1,2) 1(3,4)\n\t2: -   \n\t3: x 0(1,2)z\n"),
      Body("\t1: - 0(1,2) 1(3,"),
  };
  for (const std::string& text : texts) {
    Project whole;
    ASSERT_TRUE(ReadProjectText(whole, text));
    const std::string expected = WriteProjectText(whole);
    for (std::size_t piece : {1, 2, 3, 7, 64}) {
      Project streamed;
      TextScanner in(PiecesOf(text, piece));
      ASSERT_TRUE(ReadProject(streamed, in));
      EXPECT_EQ(WriteProjectText(streamed), expected) << piece << " " << text;
    }
  }
}

// Reading stops at the first line that fits no pattern, so an endless stream of garbage is
// left after a few bytes, and memory holds one line at most.
TEST(ProjectFileTest, ReadingEndsAtGarbageWithoutReadingOn) {
  const std::vector<std::string> garbage = {
      std::string(4096, '\0'),
      std::string(4096, 'x'),
      std::string(4096, '7'),
      "Modrin file version 3.00\n" + std::string(4096, '7'),
      "Modrin file version 3.00\nPositions:\n" + std::string(4096, '1'),
      "Modrin" + std::string(4096, ' '),
  };
  for (const std::string& start : garbage) {
    std::size_t pulled = 0;
    // Endless: the start, then its last character for ever.
    TextScanner in([&, at = std::size_t{0}](char* buffer, std::size_t size) mutable {
      for (std::size_t i = 0; i < size; ++i, ++at) {
        buffer[i] = start[std::min(at, start.size() - 1)];
      }
      pulled += size;
      return size;
    });
    Project project;
    ReadProject(project, in);
    EXPECT_LE(pulled, std::size_t{1} << 20) << start.substr(0, 40);
  }
}

TEST(ProjectFileTest, FileIsReadAsAStreamAndErrorsNameIt) {
  Project project;
  FillSample(project);
  const std::string before = WriteProjectText(project);
  std::string error;
  // An endless file: nothing fits, and reading must end at once rather than fill memory.
  ASSERT_TRUE(ReadProjectFile(project, "/dev/zero", error)) << error;
  EXPECT_EQ(project.photos.size(), 2u);  // the older format's two photos, nothing else
  EXPECT_TRUE(project.graph.positions.empty());

  Project kept;
  FillSample(kept);
  EXPECT_FALSE(ReadProjectFile(kept, "/nonexistent/p.mpj", error));
  EXPECT_NE(error.find("Cannot open \"/nonexistent/p.mpj\""), std::string::npos) << error;
  EXPECT_FALSE(ReadProjectFile(kept, "/", error));
  EXPECT_NE(error.find("folder"), std::string::npos) << error;
  EXPECT_EQ(WriteProjectText(kept), before);
}

TEST(ProjectFileTest, PathologicalInputsFinishQuickly) {
  std::mt19937 random(1);
  std::string noise(1 << 20, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  auto repeat = [](const std::string& piece, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += piece;
    return text;
  };
  const std::string header = "Modrin file version 3.00\n";
  const std::vector<std::string> inputs = {
      header + repeat("Object: \"a\"\n", 100000),
      noise,
      header + noise,
      header + repeat("Image: \"", 100000),
      header + "Positions:\n\t1: -" + repeat(" 0(1,2)", 200000),
      header + repeat("(", 1 << 20),
      header + "Image: \"a\"\n\tFocal: " + std::string(1 << 20, '7'),
      std::string(kOlderBody) + repeat(" [(1,2)-(3,4)]\n\t1: (1,2)-(3,4) U\n", 50000),
  };
  for (const std::string& input : inputs) {
    const auto start = std::chrono::steady_clock::now();
    Project project;
    ReadProjectText(project, input);
    WriteProjectText(project);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    if (&input == &inputs[0]) {
      EXPECT_EQ(project.objects.back()->name, "a99999");
    }
  }
}

}  // namespace
}  // namespace modrin::model
