#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace modrin::images {

// One camera model and the size of its whole image sensor, in metres.
struct CameraEntry {
  std::string name;
  double cellWidth = 0;
  double cellHeight = 0;
};

// Camera model name -> sensor size, ordered by byte-wise comparison of the names. Entries are
// updated in place, so pointers to them stay valid while the database lives.
class CameraDatabase {
 public:
  // Adds an entry (sizes in metres); an existing name gets the new sizes only when `replace`
  // is set. An empty name is no camera model and is ignored.
  void Insert(const std::string& name, double cellWidth, double cellHeight, bool replace);
  // The entry of that name, or null. The pointer stays valid while the database lives.
  CameraEntry* Find(const std::string& name);
  const CameraEntry* Find(const std::string& name) const;
  // Copies the entry's sizes to the out arguments; false (nothing written) when unknown.
  bool Get(const std::string& name, double& cellWidth, double& cellHeight) const;
  // The name after `name` in map order, or the first name when `name` is empty.
  std::optional<std::string> NextName(const std::string& name) const;
  // Inserts every entry of `other`, replacing the sizes of names present here.
  void MergeFrom(const CameraDatabase& other);
  std::size_t size() const { return entries_.size(); }
  const std::map<std::string, CameraEntry>& entries() const { return entries_; }

  // Reads the "Cameras.txt" grammar; entries read up to the first mismatch are kept. Returns
  // false only when the file cannot be opened.
  // Blocks of names already present are skipped: the first block of a name wins.
  // A file not read to its end (more than white space follows the last block read) is
  // remembered, and Save refuses to write over it: the entries behind the block that could not
  // be read would be lost.
  bool Load(const std::string& path);
  // The same grammar from memory; true when the text was read to its end.
  bool LoadFromText(const std::string& text);
  // Whether `path` names a file that Load did not read to its end (the same file, also through
  // another path to it).
  bool IsPartlyReadFile(const std::string& path) const;
  // Writes the whole database, replacing the file through a temporary file in the same folder.
  // Returns false (the old file untouched) when it cannot be written, and writes nothing over a
  // file that IsPartlyReadFile names.
  // Creates the file's folder when missing. Numbers are written with six decimals and a '.'
  // whatever the process locale.
  bool Save(const std::string& path) const;
  // The text Save writes.
  std::string ToText() const;

 private:
  std::map<std::string, CameraEntry> entries_;
  std::vector<std::string> partlyReadFiles_;  // canonical paths
};

// Where the live database is read from and saved to: "$XDG_DATA_HOME/Modrin/Cameras.txt",
// by default "~/.local/share/Modrin/Cameras.txt"; empty when no home folder is known.
std::string UserCameraDatabasePath();

// The file to read at start-up: the user's own when it exists, else "Cameras.txt" beside the
// executable (`executableDir`), else the installed data folder's copy; empty when none exists.
std::string CameraDatabaseReadPath(const std::string& executableDir);

}  // namespace modrin::images
