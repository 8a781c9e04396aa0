// The command rig with the simulator's fingerprint module as the clock: every 0xE6 frame
// written to the link is answered by the module on fake time, so backup and restore run
// against the same clock as clocksim plays, without a process or real waits.
#pragma once

#include "../commands/CommandRig.h"
#include "interpreter/Interpreter.h"
#include "sim/FingerModule.h"

#include <string>

struct FingerRig : CommandRig {
    sim::FingerModule clock;
    Interpreter interpreter{ctx};
    std::string dir = MakeTempDir();
    std::string backup = dir + "/backup.txt";
    std::string log = dir + "/finger.log";
    std::string results = dir + "/results.txt";
    // Called with each request's payload before the clock answers it.
    std::function<void(const std::vector<uint8_t>&)> onRequest;
    // The clock hears every request and answers none.
    bool silent = false;

    FingerRig() : CommandRig(1)
    {
        clock.Generate(3, 7, 0);
        rig.time.Set(2023, 11, 15, 10, 13, 20);
        ps.FingerLogFile = log;
        ps.LogFileName = results;
        answer = [this](const std::vector<uint8_t>& w) {
            const std::vector<uint8_t> payload = PayloadOf(w);
            if (onRequest)
                onRequest(payload);
            const auto reply = clock.Handle(payload);
            if (reply && !silent)
                ReplyLater(Packet(reply->code, reply->payload));
        };
        rig.status.AddStatusLine("keyword");
    }

    void Run(char letter, const std::string& keyword, const std::string& file)
    {
        ps.CommandKeyword = keyword;
        ps.InputFileName = file;
        interpreter.RunCommand(letter);
    }
    void Backup() { Run('S', "finger_backup", backup); }
    // A restore the operator confirms, unless `confirm` is false (then the queue answers).
    void Restore(const std::string& file, bool confirm = true)
    {
        if (confirm)
            rig.op.answers.push_back(true);
        Run('T', "finger_restore", file);
    }

    // A request's payload, sub-code first: between the command byte and the digits.
    static std::vector<uint8_t> PayloadOf(const std::vector<uint8_t>& frame)
    {
        std::size_t end = frame.size();
        while (end > 0 && frame[end - 1] == 0xFF) --end;
        return end >= 6 ? std::vector<uint8_t>(frame.begin() + 2,
                                               frame.begin() + static_cast<std::ptrdiff_t>(end - 4))
                        : std::vector<uint8_t>{};
    }
    // The payload of every request, or of those with sub-code `sub`.
    std::vector<std::vector<uint8_t>> Requests(int sub = -1) const
    {
        std::vector<std::vector<uint8_t>> out;
        for (const auto& f : frames)
            if (const auto p = PayloadOf(f); sub < 0 || (!p.empty() && p[0] == sub))
                out.push_back(p);
        return out;
    }
    int CountRequests(uint8_t sub) const { return static_cast<int>(Requests(sub).size()); }
};

// Bytes of a file with each CR shown as "\r", so golden files hold the exact bytes and
// still read as text.
inline std::string Visible(const std::string& bytes)
{
    std::string out;
    for (char c : bytes) out += c == '\r' ? std::string("\\r") : std::string(1, c);
    return out;
}

inline std::string Golden(const std::string& name)
{
    return ReadFileBytes(std::string(QV_SOURCE_DIR) + "/tests/fingerprint/golden/" + name);
}
