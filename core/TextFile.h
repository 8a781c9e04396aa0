// A file opened as a text stream, the way every data, results and log file of the program
// is written and read: each LF written reaches the disk as CR LF; on reading, CR bytes are
// dropped and a 0x1A byte ends the file.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

class TextFile {
public:
    TextFile() = default;
    ~TextFile();
    TextFile(const TextFile&) = delete;
    TextFile& operator=(const TextFile&) = delete;

    // Modes "r" (read), "w" (create or truncate), "a" (append), "a+" (append and read).
    // Returns false when the mode is unknown or the file cannot be opened; a folder is
    // never a file, even where the system would open it for reading. "r" opens only a
    // regular file, and never waits in the open for the writer of a pipe.
    bool Open(const std::string& name, const char* mode);
    // As Open, but in every mode only a regular file opens (a missing one is created by
    // the write modes): for a file that is also read back, such as a backup file.
    bool OpenRegular(const std::string& name, const char* mode);
    bool IsOpen() const { return file_ != nullptr; }
    // Flushes and closes; false when buffered data could not be written. Safe to repeat.
    bool Close();

    // Writes text with every LF expanded to CR LF. False (and Failed()) on a short write.
    bool Write(std::string_view text);
    bool Failed() const { return failed_; }
    // Hands everything written so far to the system; Sync also waits until it is on the
    // disk (a pipe or terminal, which cannot be synced, only needs the hand-over). False
    // (and Failed()) when the data could not be written.
    bool Flush();
    bool Sync();
    // Bytes in the file, everything flushed included; -1 when unknown.
    long Size() const;
    // Drops what is still buffered and cuts the file to `size` bytes; writing goes on
    // from there. For taking back a partly written block after a write error.
    bool Truncate(long size);
    // Appends a block whole or not at all: writes it, hands it to the system (and waits
    // for the disk when `sync` is set) and, when any of that fails, cuts the file back to
    // the size it had before, so that the next block never begins inside a cut one. False
    // when the block was not stored; errno is left as the failure set it.
    bool AppendWhole(std::string_view block, bool sync);

    // Next character with CR bytes dropped, or -1 at the end of the file (or at 0x1A) and
    // after a read error; ReadError() tells the two apart.
    int ReadChar();
    bool ReadError() const { return readError_; }
    // Gives one character back; the next ReadChar returns it.
    void UnreadChar(int c);
    // Reads up to the next LF (dropped) or the end; false when nothing was left to read.
    bool ReadLine(std::string& line);
    bool Eof() const { return eof_ && pushed_ < 0; }
    // Raw byte position, for returning to a remembered place with Seek.
    long Position() const;
    bool Seek(long position);
    bool Rewind() { return Seek(0); }

private:
    // Closes and clears the state, and sets `raw` to the binary std::fopen mode of `mode`.
    // False for an unknown mode or an empty name.
    bool Reset(const std::string& name, const char* mode, const char*& raw);

    std::FILE* file_ = nullptr;
    bool failed_ = false;
    bool eof_ = false;
    bool readError_ = false;
    int pushed_ = -1;
};
