#include "images/camera_database.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace modrin::images {
namespace {

using modrin::testing::ReadFileText;
using modrin::testing::TempDir;
using modrin::testing::WriteFileText;

std::vector<std::string> Names(const CameraDatabase& database) {
  std::vector<std::string> names;
  for (auto name = database.NextName(""); name; name = database.NextName(*name)) {
    names.push_back(*name);
  }
  return names;
}

// Sets an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(CameraDatabaseTest, InsertFindGetAndEnumerateInByteOrder) {
  CameraDatabase database;
  database.Insert("b", 0.002, 0.001, false);
  database.Insert("B", 0.004, 0.003, false);
  database.Insert("a", 0.006, 0.005, false);
  database.Insert("", 1, 1, false);  // not a model
  EXPECT_EQ(Names(database), (std::vector<std::string>{"B", "a", "b"}));
  EXPECT_FALSE(database.NextName("b").has_value());
  EXPECT_EQ(database.NextName("C"), "a");  // names absent from the map work too

  double width = -1, height = -1;
  EXPECT_FALSE(database.Get("c", width, height));
  EXPECT_EQ(width, -1);
  ASSERT_TRUE(database.Get("B", width, height));
  EXPECT_EQ(width, 0.004);
  EXPECT_EQ(height, 0.003);
  EXPECT_EQ(database.Find("x"), nullptr);
  ASSERT_NE(database.Find("a"), nullptr);
  EXPECT_EQ(database.Find("a")->name, "a");

  // Without replace an existing entry keeps its values, even zeros.
  database.Insert("z", 0, 0, false);
  database.Insert("z", 0.1, 0.2, false);
  EXPECT_EQ(database.Find("z")->cellWidth, 0);
  database.Insert("z", 0.1, 0.2, true);
  EXPECT_EQ(database.Find("z")->cellWidth, 0.1);
  EXPECT_EQ(database.Find("z")->cellHeight, 0.2);
}

TEST(CameraDatabaseTest, MergeFromUpdatesEntriesInPlace) {
  CameraDatabase live;
  live.Insert("Kept", 0.001, 0.001, false);
  live.Insert("Changed", 0.002, 0.002, false);
  const CameraEntry* seenByAPhoto = live.Find("Changed");

  CameraDatabase edited;
  edited.Insert("Changed", 0.0055, 0.0041, false);
  edited.Insert("New", 0.003, 0.003, false);
  live.MergeFrom(edited);

  EXPECT_EQ(live.Find("Changed"), seenByAPhoto);
  EXPECT_EQ(seenByAPhoto->cellWidth, 0.0055);
  EXPECT_EQ(seenByAPhoto->cellHeight, 0.0041);
  EXPECT_EQ(Names(live), (std::vector<std::string>{"Changed", "Kept", "New"}));
}

TEST(CameraDatabaseFileTest, WritesTheFileGrammarHeightFirst) {
  CameraDatabase database;
  database.Insert("Canon PowerShot S40", 0.00576, 0.00432, false);
  database.Insert("E-10", 0.0088, 0.0066, false);
  EXPECT_EQ(database.ToText(),
            "\"Canon PowerShot S40\"\n\tCell Height: 0.004320\n\tCell Width : 0.005760\n\n"
            "\"E-10\"\n\tCell Height: 0.006600\n\tCell Width : 0.008800\n\n");
}

TEST(CameraDatabaseFileTest, SaveAndLoadGiveBackNamesAndValuesToSixDecimals) {
  TempDir dir;
  CameraDatabase database;
  database.Insert("Canon PowerShot S40", 0.00576, 0.00432, false);
  database.Insert("NIKON D70 ", 0.0237, 0.0156, false);
  database.Insert("odd \t name", 0.0000004, 12.3456789, false);
  // The folder does not exist yet.
  const std::string path = dir.File("Modrin/Cameras.txt");
  ASSERT_TRUE(database.Save(path));

  CameraDatabase loaded;
  ASSERT_TRUE(loaded.Load(path));
  EXPECT_EQ(Names(loaded), Names(database));
  for (const std::string& name : Names(database)) {
    EXPECT_NEAR(loaded.Find(name)->cellWidth, database.Find(name)->cellWidth, 5e-7) << name;
    EXPECT_NEAR(loaded.Find(name)->cellHeight, database.Find(name)->cellHeight, 5e-7) << name;
  }
  EXPECT_EQ(loaded.ToText(), database.ToText());
  // No temporary file is left behind.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("Modrin")),
                          std::filesystem::directory_iterator()),
            1);
}

TEST(CameraDatabaseFileTest, SaveFailsWithoutTouchingTheOldFile) {
  TempDir dir;
  const std::string blocker = dir.File("not-a-folder");
  ASSERT_TRUE(WriteFileText(blocker, "x"));
  CameraDatabase database;
  database.Insert("A", 1, 1, false);
  EXPECT_FALSE(database.Save(blocker + "/Cameras.txt"));
  EXPECT_FALSE(database.Save(""));

  // A read-only folder: the rename cannot happen, the old file stays. (Root ignores modes.)
  if (geteuid() != 0) {
    const std::string folder = dir.File("locked");
    std::filesystem::create_directory(folder);
    ASSERT_TRUE(WriteFileText(folder + "/Cameras.txt", "old"));
    chmod(folder.c_str(), 0555);
    EXPECT_FALSE(database.Save(folder + "/Cameras.txt"));
    chmod(folder.c_str(), 0755);
    EXPECT_EQ(ReadFileText(folder + "/Cameras.txt"), "old");
  }
}

TEST(CameraDatabaseFileTest, SaveWritesThroughASymbolicLink) {
  TempDir dir;
  ASSERT_TRUE(WriteFileText(dir.File("real.txt"), ""));
  std::filesystem::create_symlink(dir.File("real.txt"), dir.File("Cameras.txt"));
  CameraDatabase database;
  database.Insert("A", 0.001, 0.002, false);
  ASSERT_TRUE(database.Save(dir.File("Cameras.txt")));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.File("Cameras.txt")));
  EXPECT_EQ(ReadFileText(dir.File("real.txt")), database.ToText());
}

TEST(CameraDatabaseLoadTest, TheFirstBlockOfANameWins) {
  CameraDatabase database;
  database.LoadFromText(
      "\"Cam\"\n\tCell Height: 0.001000\n\tCell Width : 0.002000\n\n"
      "\"Cam\"\n\tCell Height: 0.003000\n\tCell Width : 0.004000\n\n");
  ASSERT_EQ(database.size(), 1u);
  EXPECT_EQ(database.Find("Cam")->cellHeight, 0.001);
  EXPECT_EQ(database.Find("Cam")->cellWidth, 0.002);
}

TEST(CameraDatabaseLoadTest, WhiteSpaceMatchesAnyRunIncludingNone) {
  CameraDatabase database;
  database.LoadFromText(
      "\"A\"\r\n  Cell Height:0.5\r\n\r\n\r\n Cell Width :  +1e-3\n"
      "\"B\"\tCellHeight:.25\tCellWidth:2.\n\n\n");
  ASSERT_EQ(database.size(), 2u);
  EXPECT_EQ(database.Find("A")->cellHeight, 0.5);
  EXPECT_EQ(database.Find("A")->cellWidth, 0.001);
  EXPECT_EQ(database.Find("B")->cellHeight, 0.25);
  EXPECT_EQ(database.Find("B")->cellWidth, 2.0);
}

TEST(CameraDatabaseLoadTest, ReadingStopsAtTheFirstMismatch) {
  const std::string good = "\"A\"\n\tCell Height: 0.001\n\tCell Width : 0.002\n\n";
  const std::string last = "\"Z\"\n\tCell Height: 0.001\n\tCell Width : 0.002\n\n";
  struct Case {
    std::string broken;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"", {"A", "Z"}},
      // Cut inside a block: the block is not inserted and nothing after it is read.
      {"\"B\"\n\tCell Height: 0.001\n\tCell Wid", {"A"}},
      {"\"B\"\n\tCell Height: 0.001\n", {"A"}},
      {"\"B\"\n\tCell Height: x\n\tCell Width : 0.002\n\n", {"A"}},
      {"\"B\"\n\tCell Width : 0.002\n\tCell Height: 0.001\n\n", {"A"}},  // lines swapped
      {"\"\"\n\tCell Height: 0.001\n\tCell Width : 0.002\n\n", {"A"}},   // empty name
      {"B\"\n", {"A"}},                                                  // no opening quote
      {"\"B", {"A"}},                                                    // cut inside the name
  };
  for (const Case& c : cases) {
    CameraDatabase database;
    // Read to its end only when nothing was broken.
    EXPECT_EQ(database.LoadFromText(good + c.broken + last), c.broken.empty()) << c.broken;
    EXPECT_EQ(Names(database), c.names) << c.broken;
  }
  // White space before the first quote is a mismatch too.
  CameraDatabase database;
  EXPECT_FALSE(database.LoadFromText(" " + good));
  EXPECT_EQ(database.size(), 0u);
}

TEST(CameraDatabaseLoadTest, TextReadToItsEndMayEndInWhiteSpaceOrWithoutTheEmptyLine) {
  const std::string block = "\"A\"\n\tCell Height: 0.001\n\tCell Width : 0.002";
  for (const std::string& text :
       {std::string(), std::string(" \n\t"), block, block + "\n", block + "\n\n  \r\n\n"}) {
    CameraDatabase database;
    EXPECT_TRUE(database.LoadFromText(text)) << text;
  }
  // Anything else after the last block is a block that could not be read.
  CameraDatabase database;
  EXPECT_FALSE(database.LoadFromText(block + "\n\n#"));
  EXPECT_EQ(Names(database), std::vector<std::string>{"A"});
}

TEST(CameraDatabaseFileTest, AFileNotReadToItsEndIsNeverWrittenOver) {
  TempDir dir;
  const std::string path = dir.File("Cameras.txt");
  // The middle block names a model with a quote in it, which the grammar cannot read.
  const std::string text =
      "\"A\"\n\tCell Height: 0.001000\n\tCell Width : 0.002000\n\n"
      "\"Cam \"Q\" 1\"\n\tCell Height: 0.001000\n\tCell Width : 0.002000\n\n"
      "\"Z\"\n\tCell Height: 0.001000\n\tCell Width : 0.002000\n\n";
  ASSERT_TRUE(WriteFileText(path, text));
  std::filesystem::create_symlink(path, dir.File("link.txt"));
  std::filesystem::create_hard_link(path, dir.File("hard.txt"));

  CameraDatabase database;
  ASSERT_TRUE(database.Load(path));
  EXPECT_EQ(Names(database), std::vector<std::string>{"A"});
  database.Insert("New", 0.003, 0.004, false);
  for (const std::string& name :
       {path, dir.File("link.txt"), dir.File("hard.txt"), dir.File("./Cameras.txt")}) {
    EXPECT_TRUE(database.IsPartlyReadFile(name)) << name;
    EXPECT_FALSE(database.Save(name)) << name;
  }
  EXPECT_EQ(ReadFileText(path), text);
  // Another file is written, and a copy of the database keeps the protection.
  EXPECT_FALSE(database.IsPartlyReadFile(dir.File("other.txt")));
  EXPECT_TRUE(database.Save(dir.File("other.txt")));
  const CameraDatabase copy = database;
  EXPECT_FALSE(copy.Save(path));
  EXPECT_EQ(ReadFileText(path), text);

  // A file read to its end is saved over as before.
  CameraDatabase whole;
  ASSERT_TRUE(whole.Load(dir.File("other.txt")));
  EXPECT_FALSE(whole.IsPartlyReadFile(dir.File("other.txt")));
  EXPECT_TRUE(whole.Save(dir.File("other.txt")));
}

TEST(CameraDatabaseLoadTest, NamesOfAnyLengthAndOddNumbers) {
  const std::string name(1000, 'n');
  CameraDatabase database;
  database.LoadFromText("\"" + name + "\"\n\tCell Height: 125e-3\n\tCell Width : -2.5E-2\n\n" +
                        "\"inf\"\n\tCell Height: inf\n\tCell Width : -INF\n\n" +
                        // A number out of the range of double is no number: reading ends.
                        "\"huge\"\n\tCell Height: 1e999\n\tCell Width : 1\n\n");
  ASSERT_NE(database.Find(name), nullptr);
  EXPECT_EQ(database.Find(name)->cellHeight, 0.125);
  EXPECT_EQ(database.Find(name)->cellWidth, -0.025);
  ASSERT_NE(database.Find("inf"), nullptr);
  EXPECT_TRUE(std::isinf(database.Find("inf")->cellWidth));
  EXPECT_EQ(database.Find("huge"), nullptr);
}

TEST(CameraDatabaseLoadTest, MissingFileLeavesTheDatabaseEmpty) {
  TempDir dir;
  CameraDatabase database;
  EXPECT_FALSE(database.Load(dir.File("none.txt")));
  EXPECT_EQ(database.size(), 0u);
}

TEST(CameraDatabaseLocaleTest, TextIsTheSameUnderAGermanLocale) {
  CameraDatabase database;
  database.Insert("Cam", 0.00576, 1234.5, false);
  const std::string inC = database.ToText();
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
    GTEST_SKIP() << "locale de_DE.UTF-8 is not installed";
  }
  const std::string inGerman = database.ToText();
  CameraDatabase loaded;
  loaded.LoadFromText(inC);
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(inGerman, inC);
  ASSERT_NE(loaded.Find("Cam"), nullptr);
  EXPECT_EQ(loaded.Find("Cam")->cellWidth, 0.00576);
  EXPECT_EQ(loaded.Find("Cam")->cellHeight, 1234.5);
}

TEST(CameraDatabasePathTest, UserFileUnderXdgDataHomeOrHome) {
  {
    ScopedEnv xdg("XDG_DATA_HOME", "/data/home");
    EXPECT_EQ(UserCameraDatabasePath(), "/data/home/Modrin/Cameras.txt");
  }
  ScopedEnv home("HOME", "/home/someone");
  {
    ScopedEnv xdg("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(UserCameraDatabasePath(), "/home/someone/.local/share/Modrin/Cameras.txt");
  }
  {
    ScopedEnv xdg("XDG_DATA_HOME", "relative/is/ignored");
    EXPECT_EQ(UserCameraDatabasePath(), "/home/someone/.local/share/Modrin/Cameras.txt");
  }
}

TEST(CameraDatabasePathTest, ReadPathPrefersTheUsersFileThenTheProgramFolder) {
  TempDir dir;
  ScopedEnv xdg("XDG_DATA_HOME", dir.File("data").c_str());
  const std::string program = dir.File("bin");
  std::filesystem::create_directories(program);

  // Nothing beside the program and no user file: maybe the installed copy, else nothing.
  const std::string fallback = CameraDatabaseReadPath(program);
  EXPECT_TRUE(fallback.empty() || fallback.find("/modrin/Cameras.txt") != std::string::npos)
      << fallback;

  ASSERT_TRUE(WriteFileText(program + "/Cameras.txt", ""));
  EXPECT_EQ(CameraDatabaseReadPath(program), program + "/Cameras.txt");

  CameraDatabase database;
  ASSERT_TRUE(database.Save(UserCameraDatabasePath()));
  EXPECT_EQ(CameraDatabaseReadPath(program), dir.File("data") + "/Modrin/Cameras.txt");
}

}  // namespace
}  // namespace modrin::images
