// The progress an operation reports, as the real tracker shows it on the rig's simulated
// time: "begin <measure> <total>", the shown line of each step, "total <n>" and "end".
#pragma once

#include "core/Progress.h"

#include <string>
#include <vector>

struct RecordingProgress : ProgressTracker {
    explicit RecordingProgress(const ITimeSource& time) : ProgressTracker(time) {}
    std::vector<std::string> log;

    void Begin(const std::string& measure, const std::string& unit, int64_t total) override
    {
        log.push_back("begin " + measure + " " + std::to_string(total));
        ProgressTracker::Begin(measure, unit, total);
    }
    void Step(int64_t done, const std::string& detail) override
    {
        ProgressTracker::Step(done, detail);
        log.push_back(View().text);
    }
    void SetTotal(int64_t total) override
    {
        log.push_back("total " + std::to_string(total));
        ProgressTracker::SetTotal(total);
    }
    void End() override
    {
        ProgressTracker::End();
        log.push_back("end");
    }
};
