// finger_backup: copies every fingerprint template a clock holds into the template backup
// file, slot by slot, fetching only the templates the file does not hold a good copy of, so
// an interrupted backup resumes where it stopped and a template that failed is fetched
// again by the next run; the run is logged in the fingerprint log.
#pragma once

#include "BackupFile.h"
#include "core/TextFile.h"
#include "core/ClockError.h"

#include <map>
#include <set>
#include <string>
#include <utility>

struct CommandContext;

namespace finger {

class TemplateBackup {
public:
    // Most data blocks one template may take, and the longest template line: a clock
    // that never sends its last block cannot keep the command busy for ever.
    static constexpr int kMaxBlocks = 1024;
    static constexpr std::size_t kMaxTemplateLine = 1024;
    // Slots a query can name: the slot number travels as 16 bits, so a clock that never
    // answers a slot with no templates cannot keep the slot loop going past the last one.
    static constexpr int kSlots = 0x10000;

    explicit TemplateBackup(CommandContext& ctx) : ctx_(ctx) {}
    // Runs the command and returns its result.
    ClockError Run();

private:
    // Where the slot loop goes next.
    enum class Step { NewSlot, Query, NextTemplate, Retry, End };

    Step Start();
    Step QuerySlot();
    Step FetchTemplate();
    Step ReadTemplate(std::string& line);
    Step Store(const std::string& templateLine);
    Step RetryPath();
    bool RecoverLink();
    // Writes text to the log file: false (result 08) when the system does not take it.
    bool Log(const std::string& text);
    void Finish();

    // Template n of the current slot is in the file, or was given up on in this run.
    bool Held(int n) const;
    // Templates the file holds for the slots the clock showed in this run.
    int TemplatesStored() const;
    bool LoadIndex(const std::string& name);
    // Sends the request built in the exchange's request buffer; false (result 10) when it
    // could not be sent.
    bool Send(int length);
    void Box(const char* text);

    CommandContext& ctx_;
    TextFile backup_;
    TextFile log_;
    BackupIndex index_;
    ClockError result_ = ceOK;
    int slot_ = 0;
    int templates_ = 0;  // templates the clock holds in the slot
    int number_ = 0;     // the template being fetched, 1..templates_
    int errors_ = 0;     // templates of the slot stored as failed lines
    int fetched_ = 0;    // templates fetched whole in this run
    // The code of the first failed line this run wrote: the run is no success.
    ClockError failedLine_ = ceOK;
    // Templates stored as failed lines in this run, by employee line and number: fetched
    // again by the next run, not by this one.
    std::set<std::pair<std::string, int>> givenUp_;
    // Each employee line the clock showed, with its template count.
    std::map<std::string, int> shown_;
    bool existing_ = false;
    std::string tag_;      // "#:" and the employee number
    std::string logLine_;  // the employee's summary line, being built
};

}  // namespace finger
