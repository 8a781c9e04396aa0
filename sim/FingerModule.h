// The simulated clock's fingerprint module: employees with 1 to 10 templates of 384 bytes,
// made from a seed so every run holds the same ones; the slot protocol the backup reads
// them with, the erase/employee/block/store protocol the restore loads them with (with a
// template memory limit and a per-employee limit), and faults on demand. Plain C++, so
// the command tests can run it in process as well.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sim {

class FingerModule {
public:
    static constexpr int kTemplateBytes = 384;
    // Hex digits of template data per data block; the last block also carries the four
    // checksum digits and CR LF.
    static constexpr int kBlockDigits = 128;
    using Template = std::array<uint8_t, kTemplateBytes>;

    struct Employee {
        std::string number;
        std::vector<Template> templates;
    };
    struct Reply {
        uint8_t code = 0xE6;
        std::vector<uint8_t> payload;
    };

    enum class FaultKind {
        Bad,       // the select is answered with the bad-template flag 0x08
        Reject,    // the select is answered 0xA0
        Silent,    // the select gets no answer
        Checksum,  // one data digit of the template is sent wrong
        Short,     // the last block lacks its checksum digits and line end
        NoEnd,     // the data blocks never end (no 0x07)
        Echo,      // the slot query echoes another slot
        Module,    // the store is answered with a module error
    };
    // A fault hits requests about one slot and template (-1 and 0: any), `times` times
    // (-1: always).
    struct Fault {
        FaultKind kind = FaultKind::Bad;
        int slot = -1;
        int templateNumber = 0;
        int times = 1;
    };

    FingerModule() { Generate(5, 1, 0); }

    // Fills the memory with `employees` employees made from `seed`, each with `templates`
    // templates (0: 1 to 10, as the seed gives).
    void Generate(int employees, uint32_t seed, int templates);
    const std::vector<Employee>& Employees() const { return employees_; }

    // The answer to a 0xE6 request with this payload (sub-code first); nothing when the
    // module stays quiet.
    std::optional<Reply> Handle(const std::vector<uint8_t>& payload);

    // One control line whose first word begins with "finger"; returns the reply line.
    std::string Control(const std::vector<std::string>& args);

    // 768 upper-case hex digits and the four of the 16-bit byte sum.
    static std::string TemplateText(const Template& t);
    // The template backup file a complete backup of this memory leaves, byte for byte.
    std::string BackupFileText() const;

    int memoryLimit = 30000;  // templates the memory holds
    int employeeLimit = 10;   // templates one employee may have
    // Every slot past the last employee answers as the last employee: a clock that never
    // reports a slot with no templates.
    bool endless = false;
    std::vector<Fault> faults;
    // Told what the module did: "finger erase", "finger store 123 2".
    std::function<void(const std::string&)> journal;

private:
    bool Hit(FaultKind kind, int slot, int templateNumber);
    Reply NextBlock();
    Reply Store();
    void Note(const std::string& line) const;

    std::vector<Employee> employees_;
    // Backup side: the slot last queried and the template selected in it.
    int slot_ = -1;
    int selected_ = 0;
    int block_ = 0;
    std::string blockText_;
    bool noEnd_ = false;
    // Restore side.
    std::string uploadEmployee_;
    std::string upload_;
    bool uploadDone_ = false;
};

}  // namespace sim
