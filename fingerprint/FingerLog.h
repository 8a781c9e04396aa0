// The files of the fingerprint commands: the fingerprint log file shared by backup and
// restore (its time stamps, the two menu items that choose and erase it) and how both
// commands open and append to their files.
#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <string_view>

class IOperator;
class TextFile;
struct PollState;

namespace finger {

// "DD/MM/YY HH:MM:SS " of a local time, as the session lines of the log carry it.
std::string LogStamp(const std::tm& t);

// Opens a template backup file. A name that exists but is no regular file (a folder, a
// device, a pipe) is refused: the file is read as the memory of what was fetched, and
// reading a device or a pipe need never end.
bool OpenBackupFile(TextFile& file, const std::string& name, const char* mode);

enum class PutResult {
    Written,
    Failed,  // the system did not take the text (disk full, file gone)
};

// Appends text through the text stream and hands it to the system at once, so a write
// that does not reach the disk is noticed at the line that failed.
PutResult Put(TextFile& file, std::string_view text);

// The box shown for a write that failed while the command goes on.
void AccessErrorBox(IOperator& op, const std::string& text);

// "Fingerprint Log File...": the open dialog preset to the current name and the log file
// filter; a chosen name becomes FingerLogFile and is remembered through `remember`.
void ChooseFingerLogFile(PollState& ps, IOperator& op,
                         const std::function<void(const std::string&)>& remember);

// "Delete Fingerprint Log File": asks, then empties the log file.
void EraseFingerLogFile(PollState& ps, IOperator& op);

}  // namespace finger
