#include "ProgramMode.h"

#include <QCommandLineParser>

#include <cerrno>
#include <cstring>

namespace sim {

namespace {

struct BoardRow {
    ProgramMode::Board board;
    const char* name;
    uint8_t contact, program, terminate;
};

const BoardRow kBoards[] = {
    {ProgramMode::Board::Main, "main", 0xEB, 0xED, 0xEF},
    {ProgramMode::Board::Display, "display", 0xEC, 0xEE, 0xEF},
    {ProgramMode::Board::Fingerprint, "fingerprint", 0xF0, 0xF1, 0xF2},
    {ProgramMode::Board::Portable, "portable", 0xF3, 0xF4, 0xF5},
};

const BoardRow& RowOf(ProgramMode::Board board)
{
    for (const BoardRow& row : kBoards)
        if (row.board == board)
            return row;
    return kBoards[0];
}

constexpr uint8_t kRejected = 0xA0;
constexpr uint8_t kErase = 0x01;
constexpr uint8_t kRecord = 0x00;

bool ParseCount(const std::string& text, int& out)
{
    if (text.empty() || text.size() > 7 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out = std::stoi(text);
    return true;
}

const char* const kOptions[][3] = {
    {"program",
     "The program the clock runs, whose code answers every programming contact: "
     "main|display|fingerprint|portable (default main).",
     "BOARD"},
    {"program-image",
     "Write the program image received to FILE: emptied by an erase, each stored "
     "record's data appended at once.",
     "FILE"},
    {"program-refuse", "Answer 0xA0 to the next N program records.", "N"},
    {"program-silent", "Leave the next N programming-mode requests unanswered.", "N"},
};

}  // namespace

ProgramMode::~ProgramMode()
{
    if (imageFile_)
        std::fclose(imageFile_);
}

std::optional<ProgramMode::Reply> ProgramMode::Handle(uint8_t command, const std::vector<uint8_t>& payload)
{
    // Silence spoils the reply after the clock has acted, as the other faults do.
    auto answer = [this](Reply r) {
        if (silent_ > 0) {
            --silent_;
            r.answered = false;
        }
        return r;
    };

    for (const BoardRow& row : kBoards) {
        if (command == row.contact) {
            if (payload != std::vector<uint8_t>{0x5A, 0xA5})
                return std::nullopt;
            Note(std::string("program_contact ") + row.name);
            if (row.board == runs_)
                active_ = runs_;
            else
                active_.reset();
            return answer({true, RowOf(runs_).contact});
        }
        if (command == row.program) {
            if (!active_ || *active_ != row.board)
                return answer({true, kRejected});
            if (payload == std::vector<uint8_t>{kErase}) {
                image_.clear();
                records_ = 0;
                if (!imagePath_.empty()) {
                    if (imageFile_)
                        std::fclose(imageFile_);
                    imageFile_ = std::fopen(imagePath_.c_str(), "wb");
                }
                Note("program_erase");
                return answer({});
            }
            if (payload.size() < 2 || payload[0] != kRecord)
                return answer({true, kRejected});
            if (refuse_ > 0) {
                --refuse_;
                Note("program_refused " + std::to_string(records_ + 1));
                return answer({true, kRejected});
            }
            Store(payload);
            return answer({});
        }
    }
    if (command == 0xEF || command == 0xF2 || command == 0xF5) {
        if (!active_ || RowOf(*active_).terminate != command)
            return answer({true, kRejected});
        active_.reset();
        Note("program_terminate");
        return answer({true, command});
    }
    return std::nullopt;
}

void ProgramMode::Store(const std::vector<uint8_t>& payload)
{
    image_.insert(image_.end(), payload.begin() + 1, payload.end());
    ++records_;
    if (imageFile_) {
        std::fwrite(payload.data() + 1, 1, payload.size() - 1, imageFile_);
        std::fflush(imageFile_);
    }
    Note("program_record " + std::to_string(records_) + " " + std::to_string(payload.size() - 1));
}

std::string ProgramMode::Control(const std::vector<std::string>& args)
{
    const std::string& cmd = args.at(0);
    if (cmd == "program") {
        if (args.size() == 1)
            return std::string("ok runs=") + RowOf(runs_).name +
                   " active=" + (active_ ? RowOf(*active_).name : "none") +
                   " records=" + std::to_string(records_) + " bytes=" + std::to_string(image_.size()) +
                   " refuse=" + std::to_string(refuse_) + " silent=" + std::to_string(silent_);
        for (const BoardRow& row : kBoards)
            if (args.size() == 2 && args[1] == row.name) {
                runs_ = row.board;
                return "ok";
            }
        return "error usage: program [main|display|fingerprint|portable]";
    }
    if (cmd == "program-image") {
        if (args.size() != 2)
            return "error usage: program-image FILE";
        std::FILE* f = std::fopen(args[1].c_str(), "wb");
        if (!f)
            return "error cannot write " + args[1] + ": " + std::strerror(errno);
        if (!image_.empty())
            std::fwrite(image_.data(), 1, image_.size(), f);
        std::fflush(f);
        if (imageFile_)
            std::fclose(imageFile_);
        imageFile_ = f;
        imagePath_ = args[1];
        return "ok";
    }
    if (cmd == "program-refuse" || cmd == "program-silent") {
        int n = 0;
        if (args.size() != 2 || !ParseCount(args[1], n))
            return "error usage: " + cmd + " N";
        (cmd == "program-refuse" ? refuse_ : silent_) = n;
        return "ok";
    }
    return "error unknown command " + cmd;
}

void ProgramMode::AddOptions(QCommandLineParser& parser)
{
    for (const auto& o : kOptions)
        parser.addOption(QCommandLineOption(QString::fromLatin1(o[0]), QString::fromLatin1(o[1]),
                                            QString::fromLatin1(o[2])));
}

bool ProgramMode::ApplyOptions(const QCommandLineParser& parser, std::string& error)
{
    for (const auto& o : kOptions) {
        const QString name = QString::fromLatin1(o[0]);
        if (!parser.isSet(name))
            continue;
        const std::string reply = Control({o[0], parser.value(name).toStdString()});
        if (reply != "ok") {
            error = std::string("--") + o[0] + ": " + reply.substr(reply.find(' ') + 1);
            return false;
        }
    }
    return true;
}

}  // namespace sim
