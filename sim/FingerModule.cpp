#include "FingerModule.h"

#include <cstdio>
#include <fstream>

namespace sim {

namespace {

enum Sub : uint8_t {
    QuerySlot = 0x01,
    Select = 0x02,
    ReadBlock = 0x06,
    LastBlock = 0x07,
    EndExchange = 0x09,
    EraseAll = 0x0B,
    EmployeeNumber = 0x0E,
    Block = 0x11,
    FinalBlock = 0x12,
    StoreTemplate = 0x13,
};

constexpr uint8_t kBadTemplate = 0x08;
constexpr uint8_t kStored = 0x90;
constexpr uint8_t kMemoryFull = 0xA8;
constexpr uint8_t kLimitReached = 0xA1;
constexpr uint8_t kModuleError = 0xE0;
constexpr int kTextLength = 2 * FingerModule::kTemplateBytes + 4;

// splitmix64: the same seed gives the same employees on every machine.
struct Random {
    uint64_t state;
    uint32_t Next()
    {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return static_cast<uint32_t>((z ^ (z >> 31)) >> 16);
    }
};

FingerModule::Reply Rejected()
{
    return {0xA0, {}};
}

FingerModule::Reply Accepted(std::vector<uint8_t> payload = {})
{
    return {0xE6, std::move(payload)};
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool ParseInt(const std::string& text, int min, int max, int& out)
{
    const std::size_t digits = !text.empty() && text[0] == '-' ? 1 : 0;
    if (text.size() == digits || text.size() > 9)
        return false;
    for (std::size_t i = digits; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    const int value = std::stoi(text);
    if (value < min || value > max)
        return false;
    out = value;
    return true;
}

const struct {
    const char* name;
    FingerModule::FaultKind kind;
} kFaultNames[] = {
    {"bad", FingerModule::FaultKind::Bad},       {"reject", FingerModule::FaultKind::Reject},
    {"silent", FingerModule::FaultKind::Silent}, {"checksum", FingerModule::FaultKind::Checksum},
    {"short", FingerModule::FaultKind::Short},   {"no-end", FingerModule::FaultKind::NoEnd},
    {"echo", FingerModule::FaultKind::Echo},     {"module", FingerModule::FaultKind::Module},
};

}  // namespace

void FingerModule::Generate(int employees, uint32_t seed, int templates)
{
    Random random{seed};
    employees_.clear();
    employees_.reserve(static_cast<std::size_t>(employees));
    uint32_t number = 100 + random.Next() % 900;
    for (int e = 0; e < employees; ++e) {
        Employee employee;
        employee.number = std::to_string(number);
        number += 1 + random.Next() % 9;
        const int count = templates > 0 ? templates : static_cast<int>(1 + random.Next() % 10);
        employee.templates.resize(static_cast<std::size_t>(count));
        for (Template& t : employee.templates)
            for (uint8_t& b : t) b = static_cast<uint8_t>(random.Next());
        employees_.push_back(std::move(employee));
    }
    slot_ = -1;
    selected_ = 0;
}

std::string FingerModule::TemplateText(const Template& t)
{
    static const char* digits = "0123456789ABCDEF";
    std::string text;
    text.reserve(kTextLength);
    unsigned sum = 0;
    for (uint8_t b : t) {
        text.push_back(digits[b >> 4]);
        text.push_back(digits[b & 0x0F]);
        sum += b;
    }
    for (int shift = 12; shift >= 0; shift -= 4) text.push_back(digits[(sum >> shift) & 0x0F]);
    return text;
}

std::string FingerModule::BackupFileText() const
{
    // Each template line holds the CR LF of the last data block, then its own line end;
    // the text stream writes every LF as CR LF.
    std::string out;
    for (const Employee& e : employees_)
        for (std::size_t n = 0; n < e.templates.size(); ++n)
            out += "#:" + e.number + "\r\nT" + std::to_string(n + 1) + ":" + TemplateText(e.templates[n]) +
                   "\r\r\n\r\n";
    return out;
}

bool FingerModule::Hit(FaultKind kind, int slot, int templateNumber)
{
    for (Fault& f : faults) {
        if (f.kind != kind || f.times == 0 || (f.slot >= 0 && f.slot != slot) ||
            (f.templateNumber > 0 && f.templateNumber != templateNumber))
            continue;
        if (f.times > 0)
            --f.times;
        return true;
    }
    return false;
}

void FingerModule::Note(const std::string& line) const
{
    if (journal)
        journal(line);
}

std::optional<FingerModule::Reply> FingerModule::Handle(const std::vector<uint8_t>& p)
{
    if (p.empty())
        return Rejected();
    switch (p[0]) {
        case QuerySlot: {
            if (p.size() != 5)
                return Rejected();
            int slot = ((p[1] | p[2]) << 8) | (p[3] | p[4]);
            const int count = static_cast<int>(employees_.size());
            slot_ = endless && count > 0 && slot >= count ? count - 1 : slot;
            const int held = slot_ < count
                                 ? static_cast<int>(employees_[static_cast<std::size_t>(slot_)].templates.size())
                                 : 0;
            selected_ = 0;
            if (Hit(FaultKind::Echo, slot, 0))
                ++slot;
            std::vector<uint8_t> out{static_cast<uint8_t>((slot >> 8) & 0xF0),
                                     static_cast<uint8_t>((slot >> 8) & 0x0F),
                                     static_cast<uint8_t>(slot & 0xF0), static_cast<uint8_t>(slot & 0x0F),
                                     static_cast<uint8_t>(held)};
            if (held > 0)
                for (char c : employees_[static_cast<std::size_t>(slot_)].number)
                    out.push_back(static_cast<uint8_t>(c));
            out.push_back('\r');
            return Accepted(out);
        }
        case Select: {
            if (p.size() != 2 || slot_ < 0 || slot_ >= static_cast<int>(employees_.size()))
                return Rejected();
            const Employee& e = employees_[static_cast<std::size_t>(slot_)];
            const int n = p[1];
            if (n < 1 || n > static_cast<int>(e.templates.size()) || Hit(FaultKind::Reject, slot_, n))
                return Rejected();
            if (Hit(FaultKind::Silent, slot_, n))
                return std::nullopt;
            if (Hit(FaultKind::Bad, slot_, n))
                return Accepted({kBadTemplate});
            selected_ = n;
            block_ = 0;
            blockText_ = TemplateText(e.templates[static_cast<std::size_t>(n - 1)]) + "\r\n";
            if (Hit(FaultKind::Checksum, slot_, n))
                blockText_[0] = blockText_[0] == '0' ? '1' : '0';
            if (Hit(FaultKind::Short, slot_, n))
                blockText_.resize(blockText_.size() - 6);
            noEnd_ = Hit(FaultKind::NoEnd, slot_, n);
            return Accepted({0x00});
        }
        case ReadBlock:
            return selected_ > 0 ? NextBlock() : Rejected();
        case EndExchange:
            slot_ = -1;
            selected_ = 0;
            return Accepted();
        case EraseAll:
            employees_.clear();
            slot_ = -1;
            selected_ = 0;
            uploadEmployee_.clear();
            Note("finger erase");
            return Accepted();
        case EmployeeNumber: {
            if (p.size() < 2)
                return Rejected();
            uploadEmployee_.assign(p.begin() + 1, p.end());
            upload_.clear();
            uploadDone_ = false;
            return Accepted();
        }
        case Block:
        case FinalBlock:
            if (uploadEmployee_.empty() || upload_.size() + p.size() - 1 > 2 * kTextLength)
                return Rejected();
            upload_.append(p.begin() + 1, p.end());
            uploadDone_ = p[0] == FinalBlock;
            return Accepted();
        case StoreTemplate:
            return Store();
        default:
            return Rejected();
    }
}

FingerModule::Reply FingerModule::NextBlock()
{
    constexpr int kDataDigits = 2 * kTemplateBytes;
    constexpr int kBlocks = kDataDigits / kBlockDigits;
    if (block_ >= kBlocks && !noEnd_)
        return Rejected();
    const int b = block_++ % kBlocks;
    const bool last = b == kBlocks - 1 && !noEnd_;
    std::vector<uint8_t> out{last ? LastBlock : ReadBlock};
    const std::size_t from = static_cast<std::size_t>(b) * kBlockDigits;
    const std::size_t to = last ? blockText_.size() : from + kBlockDigits;
    out.insert(out.end(), blockText_.begin() + static_cast<std::ptrdiff_t>(from),
               blockText_.begin() + static_cast<std::ptrdiff_t>(to));
    return Accepted(out);
}

FingerModule::Reply FingerModule::Store()
{
    if (uploadEmployee_.empty())
        return Rejected();
    Template t{};
    bool valid = uploadDone_ && upload_.size() == static_cast<std::size_t>(kTextLength);
    for (int i = 0; valid && i < kTemplateBytes; ++i) {
        const int hi = HexValue(upload_[static_cast<std::size_t>(2 * i)]);
        const int lo = HexValue(upload_[static_cast<std::size_t>(2 * i + 1)]);
        valid = hi >= 0 && lo >= 0;
        t[static_cast<std::size_t>(i)] = static_cast<uint8_t>(hi * 16 + lo);
    }
    // The last four digits must be the byte sum the template text carries.
    valid = valid && upload_.substr(2 * kTemplateBytes) == TemplateText(t).substr(2 * kTemplateBytes);
    upload_.clear();
    uploadDone_ = false;
    if (!valid || Hit(FaultKind::Module, -1, 0))
        return Accepted({kModuleError});

    std::size_t held = 0;
    Employee* owner = nullptr;
    for (Employee& e : employees_) {
        held += e.templates.size();
        if (e.number == uploadEmployee_)
            owner = &e;
    }
    if (static_cast<int>(held) >= memoryLimit)
        return Accepted({kMemoryFull});
    if (owner != nullptr && static_cast<int>(owner->templates.size()) >= employeeLimit)
        return Accepted({kLimitReached});
    if (owner == nullptr) {
        employees_.push_back({uploadEmployee_, {}});
        owner = &employees_.back();
    }
    owner->templates.push_back(t);
    Note("finger store " + uploadEmployee_ + " " + std::to_string(owner->templates.size()));
    return Accepted({kStored});
}

std::string FingerModule::Control(const std::vector<std::string>& args)
{
    const std::string& cmd = args.at(0);
    if (cmd == "fingers") {
        int employees = 0, seed = 1, templates = 0;
        if (args.size() < 2 || args.size() > 4 || !ParseInt(args[1], 0, 65535, employees) ||
            (args.size() > 2 && !ParseInt(args[2], 0, 999999999, seed)) ||
            (args.size() > 3 && !ParseInt(args[3], 0, 10, templates)))
            return "error usage: fingers EMPLOYEES(0..65535) [SEED [TEMPLATES(1..10, 0: by seed)]]";
        Generate(employees, static_cast<uint32_t>(seed), templates);
        return "ok";
    }
    if (cmd == "finger-fault") {
        Fault f;
        bool known = false;
        for (const auto& row : kFaultNames)
            if (args.size() > 1 && args[1] == row.name) {
                f.kind = row.kind;
                known = true;
            }
        if (!known || args.size() > 5 || (args.size() > 2 && !ParseInt(args[2], -1, 65535, f.slot)) ||
            (args.size() > 3 && !ParseInt(args[3], 0, 255, f.templateNumber)) ||
            (args.size() > 4 && !ParseInt(args[4], -1, 1000000, f.times)))
            return "error usage: finger-fault bad|reject|silent|checksum|short|no-end|echo|module "
                   "[SLOT(-1: any) [TEMPLATE(0: any) [TIMES(-1: always)]]]";
        faults.push_back(f);
        return "ok";
    }
    if (cmd == "finger-limits") {
        if (args.size() != 3 || !ParseInt(args[1], 0, 1000000, memoryLimit) ||
            !ParseInt(args[2], 0, 255, employeeLimit))
            return "error usage: finger-limits MEMORY PER-EMPLOYEE";
        return "ok";
    }
    if (cmd == "finger-clear") {
        faults.clear();
        return "ok";
    }
    if (cmd == "finger-dump") {
        if (args.size() != 2)
            return "error usage: finger-dump PATH";
        std::ofstream out(args[1], std::ios::binary | std::ios::trunc);
        out << BackupFileText();
        return out.flush() ? "ok" : "error cannot write " + args[1];
    }
    if (cmd == "finger-show") {
        std::size_t held = 0;
        for (const Employee& e : employees_) held += e.templates.size();
        return "ok employees=" + std::to_string(employees_.size()) + " templates=" + std::to_string(held) +
               " memory-limit=" + std::to_string(memoryLimit) +
               " employee-limit=" + std::to_string(employeeLimit) +
               " faults=" + std::to_string(faults.size());
    }
    return "error unknown command: " + cmd;
}

}  // namespace sim
