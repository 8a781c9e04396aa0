#include "../commands/CommandRig.h"
#include "commands/SingleExchange.h"
#include "interpreter/CommandTable.h"
#include "interpreter/Interpreter.h"
#include "link/Framing.h"

#include <gtest/gtest.h>

#include <string>

#include <sys/stat.h>

namespace {

using InterpreterTest = CommandTest;

// Every command that sends a data file refuses one it cannot read whole (missing, a folder,
// a pipe with no writer that would hold the run in its open, a file that fails mid-read)
// before anything reaches the clock: Can't Open File, code 09 in the results.
TEST_F(InterpreterTest, unreadableDataFilesSendNothingForAnyCommand)
{
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        char letter;
        std::string keyword, memo;  // the memo's caption, as each command has always shown it
    } commands[] = {
        {'C', "set_belltable", "set_belltable\t "},   {'E', "set_belltable2", "set_belltables2   "},
        {'K', "set_message", "set_message       "},   {'L', "set_daylight", "set_daylight      "},
        {'M', "set_modem", "set_modem         "},     {'N', "set_logo", "set_logo          "},
        {'P', "clear_message", "clear_message     "}, {'R', "set_pinnumbers", "set_pinnumbers    "}};
    for (const std::string& name : {dir + "/absent.txt", dir, fifo, std::string("/proc/self/mem")})
        for (const auto& [letter, keyword, memo] : commands) {
            SCOPED_TRACE(name + " " + keyword);
            Fresh();
            r.ps.InputFileName = name;
            r.ps.CommandKeyword = keyword;
            r.Reply(r.Accepted(), 4);
            interp.RunCommand(letter);
            EXPECT_EQ(r.ps.PollStatus, ceCantOpenFile);
            EXPECT_TRUE(r.frames.empty());
            EXPECT_EQ(r.rig.status.Lines().back(), memo + "- Can't Open File");
            EXPECT_EQ(ReadFileBytes(results), ResultLine(keyword, "09"));
        }
}

TEST_F(InterpreterTest, lettersOutsideTheTableDoNothingAtAll)
{
    // Every other letter selects a command, which always ends with a result.
    for (char c = 'A'; c <= 'Z'; ++c) EXPECT_EQ(FindCommand(c) != nullptr, c != 'V' && c != 'W') << c;
    r.ps.PollStatus = ceModemError;
    for (char c : {'\0', '@', '[', 'a', 'z', 'V', 'W', '1', static_cast<char>(0xC1)}) interp.RunCommand(c);
    EXPECT_EQ(r.ps.PollStatus, ceModemError);
    EXPECT_TRUE(r.rig.status.log.empty());
    EXPECT_TRUE(r.frames.empty());
    EXPECT_EQ(ReadFileBytes(results), "<missing>");
    EXPECT_FALSE(r.ps.ResultFailed);
}

// A frame the link cannot send ends any command at once, without a retry or set_code's
// settling wait. (Busy and failed replies are rows of the retry-shape table of the time
// command tests.)
TEST_F(InterpreterTest, sendFailureEndsEveryCommandAtOnceWithoutRetry)
{
    const struct {
        char letter;
        std::string keyword, memo;
    } commands[] = {{'I', "key_board", "key_board ON      "}, {'C', "set_belltable", "set_belltable\t "},
                    {'Z', "system_reset", "system_reset      "}, {'Y', "get_status", "get_status        "},
                    {'D', "set_code", "set_code          "}};
    r.ps.InputFileName = dir + "/table.txt";
    std::ofstream(r.ps.InputFileName) << "12345678\n";
    r.rig.serial.cts = false;
    for (const auto& [letter, keyword, memo] : commands) {
        SCOPED_TRACE(keyword);
        std::remove(results.c_str());
        r.ps.CommandKeyword = keyword;
        const int64_t start = r.rig.time.NowMs();
        interp.RunCommand(letter);
        EXPECT_LT(r.rig.time.NowMs() - start, 1000) << "no settling or busy wait";
        EXPECT_EQ(r.ps.PollStatus, cePortTransmitter);
        EXPECT_TRUE(r.frames.empty());
        EXPECT_EQ(r.rig.status.ReadPanel(Panel::Retry), "");
        EXPECT_EQ(r.rig.status.Lines().back(), memo + "- Port Transmitter Error");
        EXPECT_EQ(ReadFileBytes(results), ResultLine(keyword, "10"));
    }
}

// (The code's six bytes, padded with zeros, are checked end to end by messages_settings.)
TEST_F(InterpreterTest, setCodeWaitsForTheClockToSettleBeforeReporting)
{
    ASSERT_TRUE(r.ps.SetAccessCode("42A"));
    r.Reply(r.Accepted());
    const int64_t start = r.rig.time.NowMs();
    interp.RunCommand('D');
    EXPECT_EQ(r.ps.PollStatus, ceOK);
    EXPECT_GE(r.rig.time.NowMs() - start, 2000);
    EXPECT_EQ(r.MemoLog(), (std::vector<std::string>{"replace:set_code - Sending Access Code",
                                                     "replace:set_code - Setting Code Please Wait..",
                                                     "replace:set_code          - OK"}));
}

TEST_F(InterpreterTest, aCommandStartedDuringAnotherCommandsWaitIsIgnored)
{
    r.Reply(r.Busy());
    r.Reply(r.Accepted());
    // An event served during the busy wait tries to start system_reset.
    r.rig.pump.After(1500, [this] { interp.RunCommand('Z'); });
    interp.RunCommand('I');
    EXPECT_EQ(r.ps.PollStatus, ceOK);
    ASSERT_EQ(r.frames.size(), 2u);
    EXPECT_EQ(r.frames[1][1], 0xA3);
    EXPECT_FALSE(interp.Running());

    // Once it has finished, the interpreter runs commands again.
    interp.RunCommand('Z');
    ASSERT_EQ(r.frames.size(), 3u);
    EXPECT_EQ(r.frames[2][1], 0xEB);
}

// A table sent in several frames: the builder sees each attempt's predecessor, failures
// count across frames, and a builder that finds bad input ends the loop unsent.
TEST_F(InterpreterTest, retryLoopCarriesItsCountAcrossFramesAndStopsOnTheBuildersWord)
{
    std::vector<ClockError> previous;
    int framesDue = 2;
    RetryPolicy policy;
    policy.attempts = 4;
    policy.onReply = ResendAtOnce;
    policy.anotherFrame = [&] { return framesDue-- > 0; };
    const FrameBuilder build = [&](ClockError last) -> BuiltFrame {
        previous.push_back(last);
        if (previous.size() == 6)
            return ceInputFileLine;
        return BuildRequest(r.rig.exchange.Request(), r.Station(), 0xA8,
                            std::vector<uint8_t>{static_cast<uint8_t>(previous.size())});
    };
    r.Reply(r.Accepted());
    r.Reply(r.Busy());
    r.Reply(r.Accepted(), 2);
    const int64_t start = r.rig.time.NowMs();
    EXPECT_EQ(ExchangeWithRetries(r.ctx, policy, build), ceOK);
    EXPECT_LT(r.rig.time.NowMs() - start, 5000) << "no busy wait";
    EXPECT_EQ(previous, (std::vector<ClockError>{ceBusy, ceOK, ceBusy, ceOK}));
    EXPECT_EQ(r.ps.RetryCount, 1);

    framesDue = 9;
    r.Reply(r.Accepted());
    EXPECT_EQ(ExchangeWithRetries(r.ctx, policy, build), ceInputFileLine);
    EXPECT_EQ(r.frames.size(), 5u) << "the sixth frame is never sent";
}

// The window's list and the command-file keywords both come from the one table. (Keywords
// that select their commands are run end to end by the scenarios.)
TEST(CommandTableTest, listEntriesSelectTheirLettersAndOtherWordsSelectNothing)
{
    std::string letters;
    for (int i = 0; i < 9; ++i) letters.push_back(ListEntry(i)->letter);
    EXPECT_EQ(letters, "ABYZXSTUU") << "an index past the end selects Software Upgrade";
    EXPECT_EQ(FindKeywordValue("key_board", "on"), nullptr);
    EXPECT_EQ(FindKeyword("init_clock"), nullptr);
    EXPECT_EQ(FindKeyword("Software Upgrade"), nullptr) << "the upgrade has no keyword";
}

}  // namespace
