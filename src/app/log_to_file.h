// SPDX-License-Identifier: Apache-2.0
// TLogToFile: appends text lines to a plain-text file. The file stays open between lines
// (opening and closing it for each line cost the bench more than the rest of its trace),
// but every line goes to the system with its own write(2), unbuffered, so other programs
// read it at once and a crash loses at most the line being written. Every kMovedCheckMs
// (on the tick counter) the file is looked up by name again: when it was moved or deleted
// (log rotation), the next line goes to a new file of that name; the lines written in
// between are in the moved file, in order.
//
// A relative LogFileName is made absolute at the first open, from the executable's
// directory (see SetExecutableDirectory); a name starting with '/' is kept. Setting
// LogFileName closes the file; the next line opens the new one.
//
// The file does not grow without bound: a line that would take it past MaxFileBytes
// first moves it to LogFileName + ".1", replacing the one moved before, and starts a new
// file, so the newest lines are kept and the log holds at most twice the limit on disk.
// The move is one rename(2), so a crash still loses at most the line being written.
//
// Failures: OpenLog swallows its failure and answers false; the writes and the close
// that follow raise EInOutError, which names the file and the system's reason. A move
// that fails (a folder the user may not write) leaves the lines going to the file.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "common/component.h"

namespace wct {

class EInOutError : public std::runtime_error {
public:
    EInOutError(const std::string& message, int errorCode)
        : std::runtime_error(message), errorCode_(errorCode) {}
    // The errno of what failed.
    int ErrorCode() const { return errorCode_; }

private:
    int errorCode_;
};

class TLogToFile : public TComponent {
public:
    static constexpr uint32_t kMovedCheckMs = 100;
    // A bench measuring every console for hours stays within it.
    static constexpr uint64_t kDefaultMaxFileBytes = 32 << 20;

    explicit TLogToFile(TComponent* owner = nullptr);
    ~TLogToFile() override;
    std::string ClassName() const override { return "TLogToFile"; }
    void DefineProperties(TPropertyList& properties) override;
    // With ClearonCreate the file is truncated once here.
    void Loaded() override;

    const std::string& LogFileName() const { return logFileName_; }
    void SetLogFileName(const std::string& value);
    bool OverwriteExistingFile() const { return overwriteExistingFile_; }
    void SetOverwriteExistingFile(bool value) { overwriteExistingFile_ = value; }
    bool ClearonCreate() const { return clearOnCreate_; }
    void SetClearonCreate(bool value) { clearOnCreate_ = value; }
    bool IncDateTime() const { return incDateTime_; }
    void SetIncDateTime(bool value) { incDateTime_ = value; }
    bool IncPrefix() const { return incPrefix_; }
    void SetIncPrefix(bool value) { incPrefix_ = value; }
    bool IncSeparator() const { return incSeparator_; }
    void SetIncSeparator(bool value) { incSeparator_ = value; }
    bool IncSuffix() const { return incSuffix_; }
    void SetIncSuffix(bool value) { incSuffix_ = value; }
    const std::string& Prefix() const { return prefix_; }
    void SetPrefix(const std::string& value) { prefix_ = value; }
    const std::string& Separator() const { return separator_; }
    void SetSeparator(const std::string& value) { separator_ = value; }
    const std::string& Suffix() const { return suffix_; }
    void SetSuffix(const std::string& value) { suffix_ = value; }
    const std::string& DateTimeFormatStr() const { return dateTimeFormatStr_; }
    void SetDateTimeFormatStr(const std::string& value) { dateTimeFormatStr_ = value; }
    // 0: no limit.
    uint64_t MaxFileBytes() const { return maxFileBytes_; }
    void SetMaxFileBytes(uint64_t value) { maxFileBytes_ = value; }

    // Opens the file: appending to an existing one unless OverwriteExistingFile; true on
    // success, false on any failure.
    bool OpenLog();
    // Closes the file; raises EInOutError when it is not open or the close fails.
    void CloseLog();
    // Writes `text` as one line (with the head and suffix the flags ask for), framed by
    // the given numbers of empty lines, opening the file first when it is not open, was
    // found moved or deleted, or OverwriteExistingFile asks for a fresh one. Lines end with
    // CR LF. Raises EInOutError when the line cannot be written; the file is then closed
    // and the next line tries to open it again.
    void WriteLog(const std::string& text, int blankBefore, int blankAfter);

private:
    // The open file is no longer the one its name leads to; looked at once a
    // kMovedCheckMs, as a look costs as much as the write.
    bool Moved();
    void Write(const std::string& line);
    // Moves the full file aside and opens a new one; when the move fails, the lines go on
    // to the full file.
    void Rotate();
    [[noreturn]] void Fail(int error) const;

    std::string logFileName_ = "LogFile.Txt";
    bool overwriteExistingFile_ = false;
    bool clearOnCreate_ = false;
    bool incDateTime_ = false;
    bool incPrefix_ = false;
    bool incSeparator_ = false;
    bool incSuffix_ = false;
    std::string prefix_;
    std::string separator_;
    std::string suffix_;
    std::string dateTimeFormatStr_ = "c";
    int fd_ = -1;
    dev_t device_ = 0;  // identity of the open file, to notice a rotation
    ino_t inode_ = 0;
    uint32_t checked_ = 0;  // tick of the last look
    int openError_ = 0;     // errno of the last failed open, for the write's message
    uint64_t size_ = 0;     // of the open file, as far as this writer knows
    uint64_t maxFileBytes_ = kDefaultMaxFileBytes;
};

// The directory relative log names are made absolute from, with its trailing '/': the
// running executable's, unless one was set. An empty text restores the executable's.
std::string ExecutableDirectory();
void SetExecutableDirectory(const std::string& directory);

// Date and time in a runtime date-format pattern: "c" (the locale's short date and long
// time), "ddddd" (short date), "t"/"tt" (short/long time), yyyy, yy, mm, m, dd, d, hh, h,
// nn, n, ss, s, zzz; text in quotes and any other character are copied.
std::string FormatDateTime(const std::string& format, std::chrono::system_clock::time_point when);

}  // namespace wct
