// Unattended runs (`quorvex CMDFILE RESULTS`, no display) against the clock simulator, one
// folder under scenarios/ each. A folder holds the simulator's options, one to a line (clock),
// the serial port map (profile), further settings lines (settings), the command file and
// input files (in/), and what the run must leave: its exit status (exit, else 0), files byte
// for byte (out/), the requests the clock received in order (received), journal lines each
// matching one of the lines given as regular expressions (journal), runs of whole output
// lines in this order, runs apart by a blank line (stdout; every run ends with "Finished"),
// the simulator's answers to control queries, "query<TAB>answer" (control), and the whole
// of stderr (stderr). An out/ file holding only "<missing>" is one the run must not leave.
// @addr@ stands for the scenario's loopback address, @addr1@ for a second one where nothing
// listens, @pty@ for the simulator's terminal, @dir@ for the run folder and @golden@ for
// tests/e2e/golden. QV_UPDATE_GOLDEN=1 rewrites out/ and received.
#include "support/Fakes.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

const std::string kScenarios = std::string(QV_SOURCE_DIR) + "/tests/e2e/scenarios/";

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

std::string Join(const std::vector<std::string>& lines)
{
    std::string out;
    for (const auto& l : lines) out += l + "\n";
    return out;
}

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = 0; !to.empty() && (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

class Scenario : public ::testing::TestWithParam<std::string>, protected RunFolder {
protected:
    std::string Given(const std::string& name) const
    {
        return Has(name) ? ReadFileBytes(kScenarios + GetParam() + "/" + name) : "";
    }
    bool Has(const std::string& name) const { return fs::exists(kScenarios + GetParam() + "/" + name); }
    std::string Fill(std::string text, const std::string& pty = "") const
    {
        text = Replace(Replace(Replace(text, "@addr@", TestAddress()), "@dir@", dir), "@pty@", pty);
        text = Replace(text, "@addr1@", TestAddress(1));
        return Replace(text, "@golden@", std::string(QV_SOURCE_DIR) + "/tests/e2e/golden");
    }
};

TEST_P(Scenario, leavesItsGoldenFilesJournalAndOutput)
{
    const std::string folder = kScenarios + GetParam() + "/";
    SimulatedClock clock(dir, Lines(Fill(Given("clock"))));
    ASSERT_TRUE(clock.Ready());
    WriteProfile(dir, Fill(Given("profile"), clock.PtyPath()), Fill(Given("settings")));
    for (const auto& file : fs::directory_iterator(folder + "in"))
        Write(file.path().filename(), Fill(ReadFileBytes(file.path())));
    const RunResult r = RunCommands("run.cmd");
    const bool update = std::getenv("QV_UPDATE_GOLDEN") != nullptr;

    EXPECT_EQ(r.exitCode, Has("exit") ? std::stoi(Given("exit")) : 0) << r.out << r.err;
    for (const auto& file : fs::directory_iterator(folder + "out")) {
        if (update)
            WriteFile(file.path(), File(file.path().filename()));
        EXPECT_EQ(File(file.path().filename()), ReadFileBytes(file.path())) << file.path();
    }
    const std::string journal = clock.Journal();
    if (update && Has("received"))
        WriteFile(folder + "received", Join(ReceivedFrames(journal)));
    if (Has("received")) {
        EXPECT_EQ(Join(ReceivedFrames(journal)), Given("received")) << journal;
    }
    // A frame sent last without waiting for its answer may reach the journal after the run ends.
    for (const std::string& pattern : Lines(Given("journal"))) {
        bool found = false;
        for (int wait = 0; !found && wait < 30; ++wait, std::this_thread::sleep_for(std::chrono::milliseconds(100)))
            for (const std::string& l : Lines(clock.Journal())) found = found || std::regex_match(l, std::regex(pattern));
        EXPECT_TRUE(found) << pattern << " not in\n" << clock.Journal();
    }
    const std::string out = "\n" + r.out;
    const std::string runs = Fill(Given("stdout"));
    for (size_t start = 0, at = 0, end; start < runs.size(); start = end + 2, ++at) {
        end = std::min(runs.find("\n\n", start), runs.size() - 1);
        at = out.find("\n" + runs.substr(start, end - start) + "\n", at);
        if (at == std::string::npos) {
            ADD_FAILURE() << runs.substr(start, end - start) << "\nnot in order in\n" << r.out;
            break;
        }
    }
    EXPECT_TRUE(r.out.size() >= 9 && r.out.substr(r.out.size() - 9) == "Finished\n") << r.out;
    for (const std::string& query : Lines(Fill(Given("control")))) {
        const size_t tab = query.find('\t');
        EXPECT_EQ(Control(dir + "/ctl", query.substr(0, tab)), query.substr(tab + 1));
    }
    if (Has("stderr")) {
        EXPECT_EQ(r.err, Given("stderr"));
    }
}

std::vector<std::string> Folders()
{
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(kScenarios)) out.push_back(entry.path().filename());
    std::sort(out.begin(), out.end());
    return out;
}

INSTANTIATE_TEST_SUITE_P(E2e, Scenario, ::testing::ValuesIn(Folders()),
                         [](const auto& info) { return info.param; });

}  // namespace
