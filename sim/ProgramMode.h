// The clock's programming mode: a contact answered with the code of the program the clock
// runs (so an upgrade meant for another board is refused), erase, program records stored in
// order into an image a test can read back, and terminate. It can refuse records or stay
// quiet on demand.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QCommandLineParser;

namespace sim {

class ProgramMode {
public:
    enum class Board { Main, Display, Fingerprint, Portable };

    struct Reply {
        bool answered = true;
        uint8_t code = 0xA1;
    };

    ProgramMode() = default;
    ~ProgramMode();
    ProgramMode(const ProgramMode&) = delete;
    ProgramMode& operator=(const ProgramMode&) = delete;

    // The answer to a programming-mode request, or nothing for a command byte the mode does
    // not own (0xEB with any payload but 0x5A 0xA5 is system_reset).
    std::optional<Reply> Handle(uint8_t command, const std::vector<uint8_t>& payload);

    // Control lines "program [BOARD]", "program-image PATH", "program-refuse N",
    // "program-silent N"; the reply line.
    std::string Control(const std::vector<std::string>& args);
    // The command-line switches of the same names, applied through Control.
    static void AddOptions(QCommandLineParser& parser);
    bool ApplyOptions(const QCommandLineParser& parser, std::string& error);

    const std::vector<uint8_t>& Image() const { return image_; }

    // Journal lines: "program_contact BOARD", "program_erase", "program_record N LEN",
    // "program_refused N", "program_terminate".
    std::function<void(const std::string&)> journal;

private:
    void Note(const std::string& line) const
    {
        if (journal)
            journal(line);
    }
    void Store(const std::vector<uint8_t>& payload);

    Board runs_ = Board::Main;
    std::optional<Board> active_;  // the board in programming mode
    int refuse_ = 0;               // records answered 0xA0 from now on
    int silent_ = 0;               // programming-mode requests left unanswered from now on
    std::vector<uint8_t> image_;
    size_t records_ = 0;
    std::string imagePath_;
    std::FILE* imageFile_ = nullptr;
};

}  // namespace sim
