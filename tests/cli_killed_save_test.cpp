// Kills `modrin-cli resave` of a large project with SIGKILL at seeded random moments: the file
// being replaced is always either the old file or the whole new one, and the temporary files a
// killed save leaves behind are removed by the next save that succeeds.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "model/project.h"
#include "model/project_file.h"
#include "temp_dir.h"

extern char** environ;

namespace modrin {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kPositions = 100'000;
constexpr int kKills = 50;

// `kPositions` positions with real coordinates, `shift` apart from the other file's, held by
// one object. (No edges: adding one searches all the others.)
std::string PositionsProjectText(double shift) {
  model::Project project;
  model::Object& object = project.AddObject("Points");
  for (int i = 0; i < kPositions; ++i) {
    std::int32_t id = 0;
    project.graph.NewPosition(id);
    project.graph.SetRealCoords(id, {i * 0.001 + shift, (i % 317) * 0.01, (i % 89) * 0.1});
    object.AddPosition(id);
  }
  return model::WriteProjectText(project);
}

// Starts `modrin-cli resave from to` with its output thrown away.
pid_t StartResave(const std::string& cameras, const std::string& from, const std::string& to) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<std::string> words{MODRIN_CLI_PATH, "--cameras", cameras, "resave", from, to};
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return error == 0 ? pid : -1;
}

// Waits for `pid`; its exit status, or -1 when a signal ended it.
int Wait(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> FolderNames(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(KilledSaveTest, TheFileIsOldOrNewAndLeftoversGoAtTheNextSave) {
  testing::TempDir dir;
  const std::string cameras = dir.File("Cameras.txt");
  ASSERT_TRUE(testing::WriteFileText(cameras, ""));
  const fs::path work = dir.path() / "work";
  fs::create_directories(work);
  const std::string source = (work / "new.mpj").string();
  const std::string target = (work / "target.mpj").string();
  const std::string newText = PositionsProjectText(0);
  const std::string oldText = PositionsProjectText(1);
  ASSERT_TRUE(testing::WriteFileText(source, newText));

  // When a whole resave starts writing and when it ends here: reading the project takes most
  // of the run, so half the kills fall anywhere in it and half from just before the temporary
  // file appears to just after the end, where a kill can tear the write.
  ASSERT_TRUE(testing::WriteFileText(target, oldText));
  const auto started = Clock::now();
  const pid_t timed = StartResave(cameras, source, target);
  ASSERT_GT(timed, 0);
  const std::string timedTemporary = target + ".tmp-" + std::to_string(timed) + "-0";
  double writeSeconds = -1;
  int status = 0;
  while (::waitpid(timed, &status, WNOHANG) == 0) {
    if (writeSeconds < 0 && fs::exists(timedTemporary)) {
      writeSeconds = std::chrono::duration<double>(Clock::now() - started).count();
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  const double wholeSeconds = std::chrono::duration<double>(Clock::now() - started).count();
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_EQ(testing::ReadFileText(target), newText) << "resave does not write the project as is";
  if (writeSeconds < 0) writeSeconds = wholeSeconds;

  std::mt19937 random(20261209);
  std::uniform_real_distribution<double> anywhere(0.0, 1.1 * wholeSeconds);
  std::uniform_real_distribution<double> nearWrite(0.9 * writeSeconds, 1.1 * wholeSeconds);
  int oldKept = 0, newWritten = 0, midWrite = 0;
  pid_t lastKilled = 0;
  for (int run = 0; run < kKills; ++run) {
    ASSERT_TRUE(testing::WriteFileText(target, oldText));
    const pid_t pid = StartResave(cameras, source, target);
    ASSERT_GT(pid, 0);
    const double moment = run % 2 == 0 ? anywhere(random) : nearWrite(random);
    std::this_thread::sleep_for(std::chrono::duration<double>(moment));
    ::kill(pid, SIGKILL);
    Wait(pid);
    lastKilled = pid;
    if (fs::exists(target + ".tmp-" + std::to_string(pid) + "-0")) ++midWrite;
    const std::string text = testing::ReadFileText(target);
    if (text == oldText) {
      ++oldKept;
    } else {
      ASSERT_EQ(text.size(), newText.size()) << "kill " << run << " left a mixed file";
      ASSERT_TRUE(text == newText) << "kill " << run << " left a mixed file";
      ++newWritten;
    }
  }
  // The kills that came during a write left their temporary files (a save that ran to its end
  // since removed those before it); one more stands for a kill just before the rename.
  ASSERT_TRUE(
      testing::WriteFileText(target + ".tmp-" + std::to_string(lastKilled) + "-0", newText));
  std::printf("kills: %d old file kept (%d of them during the write), %d new file whole\n", oldKept,
              midWrite, newWritten);

  // A temporary file of a killed save is neither taken for the project nor in the way: the
  // next save succeeds and removes it.
  ASSERT_EQ(Wait(StartResave(cameras, source, target)), 0);
  EXPECT_EQ(testing::ReadFileText(target), newText);
  EXPECT_EQ(FolderNames(work), (std::vector<std::string>{"new.mpj", "target.mpj"}));
}

}  // namespace
}  // namespace modrin
