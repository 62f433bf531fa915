// A short plain-text log of one run, for support: what the loader did and
// when, in the loader's temporary folder.
#pragma once

#include "Handles.h"
#include "basFiles.h"

#include <string>

namespace rvz {

class RunLog {
public:
    // How many logs of earlier and this run stay in the temporary folder.
    static constexpr size_t kKept = 10;

    // A log that is off: Write does nothing, Path is empty.
    RunLog() = default;

    // Starts this run's log in the folder (ending in a backslash), named
    // "RAVoduza-<yyyymmdd>-<hhmmss>.log" by the local time, with "-2",
    // "-3"... before ".log" when that name is taken; always a new file, never
    // one that exists or a link; UTF-8 with a byte order mark, so that
    // Notepad on every Windows reads it as such; every user may read it.
    // Deletes the oldest logs of that pattern (by the time in their names)
    // so that this and the nine newest others are kept, and only the
    // loader's own (see RemoveOwnFile); other files are never touched.
    // Never throws: a log that cannot be made is off.
    static RunLog Open(const std::wstring& folder, OwnerCheck isLoaders = MadeByAdministrators) noexcept;

    // Appends one line: the local time (hh:mm:ss.mmm), two blanks, the text,
    // CR LF. Written at once, so that it stays when the loader is killed.
    // Never throws; a failed write is not reported.
    void Write(const std::wstring& text) noexcept;

    // The log's full path; empty when the log is off.
    const std::wstring& Path() const noexcept { return path_; }

private:
    std::wstring path_;
    UniqueFile file_;
};

}  // namespace rvz
