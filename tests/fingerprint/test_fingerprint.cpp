// finger_backup and finger_restore against the simulator's fingerprint module on fake time,
// the count step of the backup file, and the fingerprint log's menu items.
#include "FingerRig.h"
#include "fingerprint/BackupFile.h"
#include "fingerprint/FingerLog.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <sys/stat.h>

namespace {

using sim::FingerModule;

struct Backup : ::testing::Test {
    FingerRig r;
};

// A clock's templates into an empty file, then a second run over the complete file: the
// second run queries each slot once and fetches nothing.
TEST_F(Backup, emptyFileGetsEveryTemplateAndASecondRunFetchesNothing)
{
    r.clock.Generate(3, 11, 2);
    r.Backup();
    EXPECT_EQ(r.ps.PollStatus, ceOK);
    EXPECT_EQ(Visible(ReadFileBytes(r.backup)), Golden("backup_3x2.txt"));
    EXPECT_EQ(r.rig.status.Lines().back(), "Finger_backup       - OK");
    EXPECT_EQ(r.CountRequests(0x02), 6);
    EXPECT_EQ(r.CountRequests(0x09), 1);
    // Templates fetched so far, the employee being fetched: the clock does not say how many.
    EXPECT_EQ(r.progress.log.front(), "begin Fingerprint templates fetched from the clock 0");
    EXPECT_EQ(r.progress.log.at(1), "employee 488 - 0 templates");
    EXPECT_EQ(r.progress.log.end()[-2], "employee 500 - 6 templates, 1.3 templates/s");

    r.frames.clear();
    r.rig.time.Set(2023, 11, 15, 10, 20, 5);
    r.Backup();
    EXPECT_EQ(r.ps.PollStatus, ceOK);
    EXPECT_EQ(r.CountRequests(0x01), 4);
    EXPECT_EQ(r.CountRequests(0x02), 0);
    EXPECT_EQ(ReadFileBytes(r.backup), r.clock.BackupFileText());
    EXPECT_EQ(Visible(ReadFileBytes(r.log)), Golden("backup_log.txt"));
    EXPECT_EQ(ReadFileBytes(r.results), "01 finger_backup        00\r\n\r01 finger_backup        00\r\n\r");
}

// The slot number travels a nibble per byte; the clock's reply to the last slot ends the run.
TEST_F(Backup, slotQueriesSplitTheSlotNumberIntoNibbles)
{
    r.clock.Generate(300, 3, 1);
    r.Backup();
    EXPECT_EQ(r.ps.PollStatus, ceOK);
    const auto q = r.Requests();
    EXPECT_EQ(q[0], Bytes({0x01, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(q[q.size() - 2], Bytes({0x01, 0x00, 0x01, 0x20, 0x0C}));  // slot 300: none
    EXPECT_NE(ReadFileBytes(r.log).find("Total Number of Templates Stored = 300\r\n"), std::string::npos);
}

// A clock that never answers a slot with no templates: the slot number travels as 16 bits,
// so the run ends after the last slot it can name.
TEST_F(Backup, slotLoopEndsAfterTheLastSlotNumber)
{
    r.clock.Generate(1, 3, 1);
    r.clock.endless = true;
    r.Backup();
    EXPECT_EQ(r.CountRequests(0x01), 0x10000);
    EXPECT_EQ(r.Requests()[r.frames.size() - 2], Bytes({0x01, 0xF0, 0x0F, 0xF0, 0x0F}));
    EXPECT_EQ(r.ps.PollStatus, ceOK);
    EXPECT_EQ(ReadFileBytes(r.backup), r.clock.BackupFileText());
}

// A failure in the middle of an employee ends the run; the next run resumes with the first
// template the file does not hold.
TEST_F(Backup, resumedRunFetchesOnlyWhatTheFailedRunMissed)
{
    r.clock.Generate(3, 11, 3);
    r.clock.faults.push_back({FingerModule::FaultKind::Silent, 1, 2, -1});
    r.Backup();
    EXPECT_EQ(r.ps.PollStatus, ceNoData);
    EXPECT_EQ(r.rig.status.ReadPanel(Panel::Retry), "Retry 7");
    EXPECT_EQ(r.CountRequests(0x02), 3 + 1 + 8);  // slot 0, template 1 of slot 1, eight tries of template 2
    const std::string partial = ReadFileBytes(r.backup);

    r.clock.faults.clear();
    r.frames.clear();
    r.Backup();
    EXPECT_EQ(r.ps.PollStatus, ceOK);
    EXPECT_EQ(r.Requests(0x02),
              (std::vector<std::vector<uint8_t>>{{0x02, 2}, {0x02, 3}, {0x02, 1}, {0x02, 2}, {0x02, 3}}));
    EXPECT_EQ(ReadFileBytes(r.backup), r.clock.BackupFileText());
    EXPECT_EQ(ReadFileBytes(r.backup).substr(0, partial.size()), partial);
}

// A template that keeps failing is tried eight times from the slot query, then stored as a
// failed line; the employee's summary counts it and the run ends with its code. The next
// run fetches it again and appends the good copy, which the restore then loads.
TEST_F(Backup, failedTemplateEndsTheRunWithItsCodeAndIsFetchedAgainByTheNextRun)
{
    const struct {
        FingerModule::FaultKind fault;
        ClockError result;
        const char* line;
    } rows[] = {
        {FingerModule::FaultKind::Checksum, ceChecksum, "T2:**Template Error 11**"},
        {FingerModule::FaultKind::Bad, ceFingerTemplate, "T2:**Template Error 24**"},
        {FingerModule::FaultKind::Short, ceChecksum, "T2:**Template Error 11**"},
        {FingerModule::FaultKind::NoEnd, ceChecksum, "T2:**Template Error 11**"},
    };
    for (const auto& row : rows) {
        FingerRig t;
        t.clock.Generate(1, 5, 3);
        t.clock.faults.push_back({row.fault, 0, 2, -1});
        t.Backup();
        SCOPED_TRACE(row.line);
        EXPECT_EQ(t.ps.PollStatus, row.result);
        EXPECT_EQ(t.rig.status.Lines().back(),
                  std::string("Finger_backup       - ") + ClockErrorText(row.result));
        const std::string failed = ReadFileBytes(t.backup);
        EXPECT_NE(failed.find("\r\n" + std::string(row.line) + "\r\n#:"), std::string::npos);
        EXPECT_NE(ReadFileBytes(t.log).find(",Templates = 3, Errors = 1\r\n"), std::string::npos);
        EXPECT_NE(ReadFileBytes(t.log).find("Total Number of Templates Stored = 2\r\n"), std::string::npos);
        EXPECT_EQ(t.CountRequests(0x01), 8 + 1);

        t.clock.faults.clear();
        t.frames.clear();
        t.Backup();
        EXPECT_EQ(t.ps.PollStatus, ceOK);
        EXPECT_EQ(t.rig.status.Lines().back(), "Finger_backup       - OK");
        const auto& employee = t.clock.Employees()[0];
        EXPECT_EQ(ReadFileBytes(t.backup), failed + "#:" + employee.number + "\r\nT2:" +
                                               FingerModule::TemplateText(employee.templates[1]) + "\r\r\n\r\n");
        EXPECT_EQ(t.Requests()[1], Bytes({0x02, 2}));
        EXPECT_NE(ReadFileBytes(t.log).find("Total Number of Templates Stored = 3\r\n"), std::string::npos);
        t.frames.clear();
        t.Backup();
        EXPECT_EQ(t.CountRequests(0x02), 0);

        FingerRig restore;
        restore.Restore(t.backup);
        EXPECT_EQ(restore.ps.PollStatus, ceOK);
        ASSERT_EQ(restore.clock.Employees().size(), 1u);
        EXPECT_EQ(restore.clock.Employees()[0].templates, employee.templates);
    }
}

// Edge results of the slot loop: a rejected select ends the run with 25; a slot whose
// query never checks out ends the run with its code, writing no failed line for an
// employee it never learnt; an empty clock backs up nothing. Files that cannot be used:
// nothing is fetched, and a log that cannot be opened gets no total. (A log on a full disk
// is an end-to-end case of the file-fault tests.)
TEST_F(Backup, rejectedSelectEchoErrorsAnEmptyClockAndUnusableFiles)
{
    {
        FingerRig t;
        t.clock.Generate(2, 5, 2);
        t.clock.faults.push_back({FingerModule::FaultKind::Reject, 1, 2, -1});
        t.Backup();
        EXPECT_EQ(t.ps.PollStatus, ceFingerBlank);
        EXPECT_NE(ReadFileBytes(t.log).find("Total Number of Templates Stored = 3\r\n"), std::string::npos);
        EXPECT_EQ(t.CountRequests(0x02), 2 + 1 + 3);
    }
    {
        FingerRig t;
        t.clock.Generate(2, 5, 1);
        t.clock.faults.push_back({FingerModule::FaultKind::Echo, 1, 0, -1});
        t.Backup();
        EXPECT_EQ(t.ps.PollStatus, ceFingerEmpty);
        EXPECT_EQ(ReadFileBytes(t.backup).find("T0:"), std::string::npos);
    }
    {
        FingerRig t;
        t.clock.Generate(0, 1, 0);
        t.Backup();
        EXPECT_EQ(t.ps.PollStatus, ceOK);
        EXPECT_EQ(t.rig.status.Lines().back(), "Finger_backup       - No Templates Backed Up");
        EXPECT_EQ(Visible(ReadFileBytes(t.log)),
                  "\\r\n***Start Backup Log Session - 15/11/23 10:13:20 \\r\n"
                  "Total Number of Templates Stored = 0\\r\n"
                  "***End Backup Log Session - 15/11/23 10:13:20 \\r\n");
    }
    {
        FingerRig t;
        mkdir(t.backup.c_str(), 0700);
        t.Backup();
        EXPECT_EQ(t.ps.PollStatus, ceCantOpenFile);
        EXPECT_EQ(t.CountRequests(0x01), 0);
        EXPECT_EQ(t.rig.status.Lines().back(), "Finger_backup       - No Templates Backed Up");
        EXPECT_EQ(ReadFileBytes(t.log), "<missing>");
    }
    {
        FingerRig t;
        t.ps.FingerLogFile = t.dir + "/no/such/folder.log";
        t.Backup();
        EXPECT_EQ(t.ps.PollStatus, ceCantOpenLogFile);
        EXPECT_EQ(t.ps.InputFileName, t.backup) << "the data file's name is not overwritten by the log's";
    }
}

// What the backup finds held: a template line right after its employee line, anywhere in
// the file, unless it is a failed line.
TEST(BackupIndex, holdsEveryGoodPairWhereverItStands)
{
    const std::string longLine(100000, '7');
    const struct {
        std::string file;
        const char* tag;
        int n;
        bool held;
    } rows[] = {
        {"#:12\r\nT1:AB\r\n#:12\r\nT2:**Template Error 11**\r\n", "#:12", 1, true},
        {"#:12\r\nT1:AB\r\n#:12\r\nT2:**Template Error 11**\r\n", "#:12", 2, false},
        {"#:12\nT2:**Template Error 11**\n#:5\nT1:EF\n#:12\nT2:CD\n", "#:12", 2, true},  // appended later
        {"#:12\nT10:AB\n", "#:12", 10, true},
        {"#:12\nT01:AB\n", "#:12", 1, false},
        {"#:12\nT1:\n#:12\nT2:**Temp\n", "#:12", 1, false},  // empty or cut: no copy
        {"#:12\nT1:\n#:12\nT2:**Temp\n", "#:12", 2, false},
        {"#:12\n\nT1:AB\n", "#:12", 1, false},
        {"#:" + longLine + "\nT1:AB\n#:12\nT1:x", "#:12", 1, true},  // no line end at the end
        {"#:12\x1A\nT1:AB\n", "#:12", 1, false},  // 0x1A ends the file for a reader
        {"#:1\r2\r\r\nT1:AB", "#:12", 1, true},   // CR bytes are never read
        {"12\nT1:x\n#12\nT2:x\n", "#:12", 1, false},
        {"#:12\nT1:A#:12\nT2:B\n", "#:12", 2, true},
    };
    for (const auto& row : rows) {
        finger::BackupIndex index;
        index.Feed(row.file);
        EXPECT_EQ(index.Holds(row.tag, row.n), row.held) << row.file.substr(0, 40) << " T" << row.n;
    }
    finger::BackupIndex split;
    split.Feed("#:1");
    EXPECT_TRUE(split.AnyEmployeeLine());
    split.Feed("2\nT");
    EXPECT_FALSE(split.Holds("#:12", 3));
    split.Feed("3:A");
    EXPECT_TRUE(split.Holds("#:12", 3));
}

struct Restore : ::testing::Test {
    FingerRig r;
    FingerModule source;
    std::string file = r.dir + "/restore.txt";
    // The backup file of `source`, with the last checksum digit of entry `spoil` (1-based) changed.
    void WriteBackup(int spoil = 0)
    {
        std::string text = source.BackupFileText();
        std::size_t at = 0;
        for (int n = 0; n < spoil; ++n) at = text.find("\r\r\n", at + 1);
        if (spoil > 0)
            text[at - 1] = text[at - 1] == '0' ? '1' : '0';
        WriteFile(file, text);
    }
};

// Three entries, the second with a checksum that does not match: the other two are loaded,
// each template has its log line, and the failure is reported with its ordinal.
TEST_F(Restore, entryWithABadChecksumIsReportedAndNothingOfItIsSent)
{
    source.Generate(3, 11, 1);
    WriteBackup(2);
    r.Restore(file);
    EXPECT_EQ(r.ps.PollStatus, ceOK);
    ASSERT_EQ(r.clock.Employees().size(), 2u);
    EXPECT_EQ(r.clock.Employees()[0].templates, source.Employees()[0].templates);
    EXPECT_EQ(r.clock.Employees()[1].number, source.Employees()[2].number);
    EXPECT_EQ(r.clock.Employees()[1].templates, source.Employees()[2].templates);
    EXPECT_EQ(Visible(ReadFileBytes(r.log)), Golden("restore_log.txt"));
    EXPECT_EQ(ReadFileBytes(r.results), "01 finger_restore       11 2\r\n\r01 finger_restore       00\r\n\r");
    const auto memo = r.rig.status.Lines();
    EXPECT_EQ(memo[1], "Log File Opened - " + r.log);
    EXPECT_EQ(
        std::vector<std::string>(memo.begin() + 2, memo.end()),
        (std::vector<std::string>{"finger_restore         - Deleteing All Templates",
                                  "finger_restore          - Uploading 488 - 1",
                                  "finger_restore          - Template number 2 error - 11", "",
                                  "finger_restore          - Uploading 503 - 3", "finger_restore    - OK"}));
    // The blocks of each template are checked by the module holding what the file held;
    // the spoilt entry's employee is never named to it, and the session is closed.
    EXPECT_EQ(r.CountRequests(0x0E), 2);
    EXPECT_EQ(r.Requests().back(), Bytes({0x09}));
    // Entries of the file, the refused one counted too.
    EXPECT_EQ(r.progress.log, (std::vector<std::string>{
                                  "begin Template entries sent to the clock 3",
                                  "employee 488 - 0 of 3 entries", "employee 495 - 1 of 3 entries",
                                  "employee 503 - 2 of 3 entries", "3 of 3 entries, 0:00 left", "end"}));
}

// The store reply decides: memory full ends the run, the employee's limit is reported and
// the run goes on, a module error is tried five times.
TEST_F(Restore, storeRepliesMemoryFullEmployeeLimitAndModuleError)
{
    source.Generate(2, 11, 2);
    WriteBackup();
    const struct {
        int memory, perEmployee;
        bool module;
        ClockError result;
        int employeeRequests;
        const char* logLine;
        const char* resultLine;
    } rows[] = {
        {1, 10, false, ceFingerMemoryFull, 2, "Finger Memory Full\r\n", "01 finger_restore       26\r\n\r"},
        {100, 1, false, ceOK, 4, "Restoring Employee 488 Template 2  - Finger Limit Reached.\r\n",
         "01 finger_restore       27 2\r\n\r"},
        {100, 10, true, ceOK, 5 + 3, "Restoring Employee 488 Template 1  - Finger Module Error.\r\n",
         "01 finger_restore       28 1\r\n\r"},
    };
    for (const auto& row : rows) {
        FingerRig t;
        t.clock.memoryLimit = row.memory;
        t.clock.employeeLimit = row.perEmployee;
        if (row.module)
            t.clock.faults.push_back({FingerModule::FaultKind::Module, -1, 0, 5});
        t.Restore(file);
        SCOPED_TRACE(row.logLine);
        EXPECT_EQ(t.ps.PollStatus, row.result);
        EXPECT_EQ(t.CountRequests(0x0E), row.employeeRequests);
        EXPECT_NE(ReadFileBytes(t.log).find(row.logLine), std::string::npos);
        EXPECT_EQ(ReadFileBytes(t.results).substr(0, 31), row.resultLine);
    }
}

// A step that stays unanswered through every attempt is named in the memo, and the entry's
// results line carries the error.
TEST_F(Restore, unansweredStepIsNamedAfterTheLastAttempt)
{
    source.Generate(1, 11, 1);
    WriteBackup();
    const struct {
        uint8_t request;
        const char* memo;
    } rows[] = {
        {0x0E, "finger_restore_Employee - Error"},
        {0x11, "finger_restore_Verify   - Error"},
        {0x13, "Finger Restore Communication Error - Template Number: 1"},
    };
    for (const auto& row : rows) {
        FingerRig t;
        t.onRequest = [&](const std::vector<uint8_t>& p) { t.silent = !p.empty() && p[0] == row.request; };
        t.Restore(file);
        SCOPED_TRACE(row.memo);
        EXPECT_EQ(t.CountRequests(0x0E), 5);
        const auto memo = t.rig.status.Lines();
        EXPECT_NE(std::find(memo.begin(), memo.end(), row.memo), memo.end());
        EXPECT_EQ(ReadFileBytes(t.results).substr(0, 31), "01 finger_restore       01 1\r\n\r");
    }
}

// Files with nothing the restore can load, or with an entry cut off, are refused whole
// before anything reaches the clock; the operator's Cancel sends nothing either.
TEST_F(Restore, badFilesAndCancel)
{
    source.Generate(1, 11, 1);
    const std::string good = source.BackupFileText();
    const std::string text = good.substr(good.find("T1:") + 3, 772);
    std::string lower = good;
    lower[lower.find("T1:") + 3 + 100] = 'a';
    const struct {
        std::string file;
        ClockError result;
    } rows[] = {
        {good.substr(0, good.find("T1:") + 3) + text.substr(1) + "\r\n", ceChecksum},  // 771 characters
        {lower, ceChecksum},
        {"#:" + std::string(150, '1') + "\r\nT1:" + text + "\r\n", ceChecksum},
        {"#:12\r\nT1:" + text + std::string(100000, 'A') + "\r\n", ceChecksum},
        {"#:12\r\nT1", ceCommandFile},  // cut off before the text
        {good + "#:12\r\nT1", ceCommandFile},
        {"no entries here\r\n", ceCommandFile},
    };
    for (const auto& row : rows) {
        FingerRig t;
        WriteFile(file, row.file);
        t.Restore(file);
        SCOPED_TRACE(row.file.substr(0, 30));
        EXPECT_EQ(t.ps.PollStatus, row.result);
        EXPECT_TRUE(t.frames.empty());
        EXPECT_TRUE(t.rig.op.shown.empty());
        EXPECT_EQ(ReadFileBytes(t.results),
                  "01 finger_restore       " + std::to_string(ClockErrorNumber(row.result)) + "\r\n\r");
    }

    FingerRig cancel;
    WriteFile(file, good);
    cancel.Restore(file, false);
    EXPECT_EQ(cancel.ps.PollStatus, ceUserTerminated);
    EXPECT_TRUE(cancel.frames.empty());
    EXPECT_EQ(ReadFileBytes(cancel.log), "<missing>");
    EXPECT_EQ(
        cancel.rig.op.shown,
        std::vector<std::string>{"Are you sure? This function will erase and reprogram all Templates?"});

    FingerRig deaf;
    deaf.silent = true;
    deaf.Restore(file);
    EXPECT_EQ(deaf.ps.PollStatus, ceDeleteTemplates);
    EXPECT_EQ(deaf.CountRequests(0x0B), 5);
    EXPECT_EQ(deaf.CountRequests(0x09), 3);
}

// The two menu items of the fingerprint log.
TEST(FingerLogMenu, chooseRemembersTheNameAndEraseAsksFirst)
{
    struct Op : ScriptedOperator {
        FileKind filter = FileKind::All;
        std::string preset;
        bool OpenFile(FileKind f, std::string& name) override
        {
            filter = f;
            preset = name;
            return ScriptedOperator::OpenFile(f, name);
        }
    } op;
    PollState ps;
    const std::string dir = MakeTempDir();
    ps.FingerLogFile = dir + "/old.log";
    std::vector<std::string> remembered;
    auto remember = [&remembered](const std::string& name) { remembered.push_back(name); };
    finger::ChooseFingerLogFile(ps, op, remember);  // cancelled
    EXPECT_EQ(op.filter, FileKind::Log);
    EXPECT_EQ(op.preset, dir + "/old.log");
    EXPECT_TRUE(remembered.empty());
    op.inputs.push_back(dir + "/new.log");
    finger::ChooseFingerLogFile(ps, op, remember);
    EXPECT_EQ(ps.FingerLogFile, dir + "/new.log");
    EXPECT_EQ(remembered, std::vector<std::string>{dir + "/new.log"});

    WriteFile(ps.FingerLogFile, "entries\r\n");
    op.answers = {false, true};
    finger::EraseFingerLogFile(ps, op);
    EXPECT_EQ(ReadFileBytes(ps.FingerLogFile), "entries\r\n");
    finger::EraseFingerLogFile(ps, op);
    EXPECT_EQ(ReadFileBytes(ps.FingerLogFile), "");
    // The question before each erase, then what became of the file.
    ASSERT_EQ(op.shown.size(), 4u);
    EXPECT_NE(op.shown[0].find("This function will erase all Log file entries!!"), std::string::npos);
    EXPECT_EQ(op.shown, (std::vector<std::string>{op.shown[0], "Log File contents Not Erased!!", op.shown[0],
                                                  "Log File contents Erased OK."}));
}

}  // namespace
