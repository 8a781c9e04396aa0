// Feeds arbitrary bytes to the program file scan, as the check and the transfer read a
// program upgrade file. Nothing may crash or read past the bytes, and no record it passes
// may be too long for one request frame.
#include "firmware/ProgramFile.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> bytes(data, size);
    const ProgramScan scan = ScanProgram(bytes);
    if (scan.ok && (scan.records == 0 || scan.board == BoardKind::None))
        std::abort();

    // The transfer's reading: every byte from the start, the tag passed over.
    SpanSource in(bytes);
    std::vector<uint8_t> record;
    while (NextRecord(in, record) == RecordStep::Record)
        if (record.empty() || record.size() > kMaxRecordLength + 1)
            std::abort();
    return 0;
}
