#include "Faults.h"

namespace sim {

namespace {

struct PacketFaultRow {
    PacketFault kind;
    const char* name;
};

const PacketFaultRow kPacketFaults[] = {
    {PacketFault::Busy, "busy"},
    {PacketFault::BadCrc, "bad-crc"},
    {PacketFault::WrongStation, "wrong-station"},
    {PacketFault::Silence, "silence"},
    {PacketFault::Lost, "lost"},
    {PacketFault::Garbage, "garbage"},
    {PacketFault::Huge, "huge"},
    {PacketFault::Flood, "flood"},
    {PacketFault::Drop, "drop"},
    {PacketFault::Vanish, "vanish"},
};

}  // namespace

bool ParsePacketFault(const std::string& text, PacketFault& out)
{
    for (const auto& row : kPacketFaults)
        if (text == row.name) {
            out = row.kind;
            return true;
        }
    return false;
}

const char* PacketFaultName(PacketFault kind)
{
    for (const auto& row : kPacketFaults)
        if (row.kind == kind)
            return row.name;
    return "?";
}

}  // namespace sim
