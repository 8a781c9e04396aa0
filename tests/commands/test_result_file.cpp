#include "../support/Fakes.h"
#include "commands/ResultFile.h"
#include "core/PollState.h"
#include "core/TextFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include <sys/stat.h>

namespace {

const std::string kEnd = "\r\n\r";

struct ResultFileTest : ::testing::Test {
    PollState ps;
    std::string dir = MakeTempDir();
    std::string path = dir + "/results.txt";
    void SetUp() override
    {
        ps.SetStation(7);
        ps.LogFileName = path;
    }
};

// Each line is appended: keyword padded to 21 characters (a longer one is never cut and
// gets one blank), the code, any number after one blank modulo 1000, then CR LF CR; every
// code but OK marks the run failed, with or without a results file.
TEST_F(ResultFileTest, resultLinesAsRows)
{
    const struct {
        std::string keyword;
        ClockError code;
        int number;
        std::string line;
    } rows[] = {
        {"set_time", ceOK, 0, "07 set_time" + std::string(13, ' ') + "00"},
        {"set_message", ceInputFileLine, 105, "07 set_message" + std::string(10, ' ') + "22 105"},
        {"set_message", ceInputFileLine, 7, "07 set_message" + std::string(10, ' ') + "22 7"},
        {"set_message", ceInputFileLine, 2105, "07 set_message" + std::string(10, ' ') + "22 105"},
        {std::string(21, 'k'), ceBusy, 0, "07 " + std::string(21, 'k') + " 05"},
        {"clear_all_messages_and_more", ceOK, 0, "07 clear_all_messages_and_more 00"},
    };
    std::string expected;
    for (const auto& row : rows) {
        ps.CommandKeyword = row.keyword;
        ps.ResultFailed = false;
        WriteResultLine(ps, row.code, row.number);
        expected += row.line + kEnd;
        EXPECT_EQ(ReadFileBytes(path), expected) << row.line;
        EXPECT_EQ(ps.ResultFailed, row.code != ceOK) << row.line;
    }
    // Without a results file nothing is written, but a failure is still recorded.
    ps.LogFileName.clear();
    WriteResultLine(ps, ceOK, 0);
    EXPECT_FALSE(ps.ResultFailed);
    WriteResultLine(ps, ceNoData, 0);
    EXPECT_TRUE(ps.ResultFailed);
    EXPECT_EQ(ReadFileBytes(path), expected);
}

TEST_F(ResultFileTest, unwritableResultsFileMarksTheRunFailedAndSaysWhyOnStderr)
{
    ps.CommandKeyword = "set_time";
    const struct {
        std::string name;
        bool fails;
        std::string reason;
    } rows[] = {
        {dir + "/no/such/folder/results.txt", true, std::strerror(ENOENT)},
        {dir, true, ""},
        {"/dev/full", true, std::strerror(ENOSPC)},
        {dir + "/" + std::string(120, 'r') + ".log", false, ""},  // a long name is used whole
    };
    for (const auto& row : rows) {
        ps.LogFileName = row.name;
        ps.ResultFailed = false;
        testing::internal::CaptureStderr();
        WriteResultLine(ps, ceOK, 0);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(ps.ResultFailed, row.fails) << row.name;
        if (!row.fails) {
            EXPECT_EQ(err, "") << row.name;
            EXPECT_EQ(ReadFileBytes(row.name), "07 set_time" + std::string(13, ' ') + "00" + kEnd);
        } else {
            EXPECT_NE(err.find(row.name + ": " + row.reason), std::string::npos) << err;
        }
    }
    EXPECT_EQ(ReadFileBytes(dir + "/no/such/folder/results.txt"), "<missing>");
}

TEST(TextFileStream, writtenLineFeedsBecomeCrLfAndAppendKeepsEarlierContent)
{
    const std::string path = MakeTempDir() + "/t.txt";
    TextFile f;
    ASSERT_TRUE(f.Open(path, "w"));
    EXPECT_TRUE(f.Write("a\nb\n\r"));
    EXPECT_TRUE(f.Close());
    {
        TextFile appended;  // closed by going out of scope
        ASSERT_TRUE(appended.Open(path, "a"));
        EXPECT_TRUE(appended.Write("c\n"));
    }
    EXPECT_EQ(ReadFileBytes(path), "a\r\nb\r\n\rc\r\n");
    ASSERT_TRUE(f.Open(path, "w"));
    f.Close();
    EXPECT_EQ(ReadFileBytes(path), "");
}

TEST(TextFileStream, readingDropsCarriageReturnsAndStopsAtCtrlZ)
{
    const std::string path = MakeTempDir() + "/r.txt";
    WriteFile(path, "ab\r\ncd\r\r\n\032after");  // 0x1A, then more
    TextFile f;
    ASSERT_TRUE(f.Open(path, "r"));
    std::string read;
    for (int c = f.ReadChar(); c >= 0; c = f.ReadChar()) read.push_back(static_cast<char>(c));
    EXPECT_EQ(read, "ab\ncd\n");
    EXPECT_TRUE(f.Eof());
    EXPECT_EQ(f.ReadChar(), -1);

    // A remembered position and a pushed-back character survive for a second read.
    ASSERT_TRUE(f.Seek(4));
    EXPECT_EQ(f.ReadChar(), 'c');
    f.UnreadChar('c');
    EXPECT_EQ(f.Position(), 4);
    std::string line;
    EXPECT_TRUE(f.ReadLine(line));
    EXPECT_EQ(line, "cd");
    EXPECT_FALSE(f.ReadLine(line));
}

TEST(TextFileStream, openRegularRefusesAnythingButARegularFileWithoutWaitingInTheOpen)
{
    const std::string dir = MakeTempDir();
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    TextFile f;
    // A pipe with neither reader nor writer would hold a blocking open for ever.
    for (const char* mode : {"r", "w", "a", "a+"})
        for (const std::string& name : {fifo, dir, std::string("/dev/null")})
            EXPECT_FALSE(f.OpenRegular(name, mode)) << mode << " " << name;
    // A missing file is created by the write modes, and reads back what was appended.
    const std::string path = dir + "/backup.txt";
    ASSERT_TRUE(f.OpenRegular(path, "a+"));
    EXPECT_TRUE(f.AppendWhole("#:1\nT1:ab\n", true));
    ASSERT_TRUE(f.Seek(0));
    std::string line;
    EXPECT_TRUE(f.ReadLine(line));
    EXPECT_EQ(line, "#:1");
    EXPECT_TRUE(f.ReadLine(line));
    EXPECT_FALSE(f.ReadLine(line));
    EXPECT_FALSE(f.ReadError()) << "the end of the file is not a read error";
    EXPECT_TRUE(f.Close());
    EXPECT_EQ(ReadFileBytes(path), "#:1\r\nT1:ab\r\n");
}

// Files that cannot be opened, a read that fails (not taken for the end) and a write to a
// full device are each reported.
TEST(TextFileStream, failuresAreReported)
{
    TextFile f;
    EXPECT_FALSE(f.Open(MakeTempDir() + "/missing.txt", "r"));
    EXPECT_FALSE(f.Open(MakeTempDir(), "r"));
    EXPECT_FALSE(f.Open("/nonexistent-dir/x.txt", "a"));
    EXPECT_FALSE(f.Open("", "w"));
    EXPECT_FALSE(f.Open(MakeTempDir() + "/x.txt", "rb+"));
    EXPECT_FALSE(f.Write("x"));

    ASSERT_TRUE(f.Open("/proc/self/mem", "r"));  // opens, but reading at offset 0 fails
    EXPECT_EQ(f.ReadChar(), -1);
    EXPECT_TRUE(f.ReadError());

    ASSERT_TRUE(f.Open("/dev/full", "a"));
    f.Write(std::string(100000, 'x'));
    EXPECT_FALSE(f.Close());
    EXPECT_TRUE(f.Failed());
}

}  // namespace
