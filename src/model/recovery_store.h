#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "model/project_document.h"

namespace modrin::model {

// Recovery copies: the text of a project with unsaved changes, written now and then so that a
// crash loses little work. They live in the per-user state folder, one file per project path.

// The folder of the recovery copies: `stateHome`/modrin/recovery when `stateHome`
// (XDG_STATE_HOME) is an absolute path, otherwise `home`/.local/state/modrin/recovery. Empty
// when neither is usable; there is then no recovery.
std::string RecoveryFolder(const char* stateHome, const char* home);
// The same from the environment variables XDG_STATE_HOME and HOME.
std::string RecoveryFolder();

// The file name of the recovery copy of the project at the absolute path `projectPath`:
// "untitled" for a project never saved (empty path); otherwise the path with every byte other
// than a letter, digit, "-", "_" and "." written as %XX (so "/" is "%2F"), which tells apart
// any two paths and can never be "untitled". A name that would be longer than a file name may
// be is cut to its last 200 bytes and ends in "~" and the path's 64-bit FNV-1a hash in hex.
std::string RecoveryFileName(const std::string& projectPath);

// A recovery copy found on the disk.
struct RecoveryCopy {
  std::string path;
  std::chrono::system_clock::time_point written;  // its last modification
};

// The recovery copy of `projectPath` (empty: the untitled project) in `folder`, when there is
// one and it was written after the project file was last changed (any copy when the project
// file does not exist). None otherwise.
std::optional<RecoveryCopy> FindNewerRecoveryCopy(const std::string& folder,
                                                  const std::string& projectPath);

// Whether the recovery copy at `copyPath` can be opened: it is read and parsed as
// OpenRecoveryCopy would, without touching any document. Failed, with an error naming the copy
// and the reason, when it cannot.
FileResult CheckRecoveryCopy(const std::string& copyPath);

// Reads the recovery copy at `copyPath` into `document` in place of the file of its project:
// the project path becomes `projectPath` (the file the copy was taken of, empty for an
// untitled project), the photos' images are loaded as for that file and the project is marked
// modified, so that Save writes it where it belongs. A copy that cannot be read, is not a
// project file or is refused leaves the document as it was; the error names the copy and the
// reason. The copy itself is never removed here.
FileResult OpenRecoveryCopy(ProjectDocument& document, const std::string& projectPath,
                            const std::string& copyPath);

}  // namespace modrin::model
