#include "CommandFileReader.h"

bool CommandFileReader::Open(const std::string& path)
{
    last_ = 0;
    lineHasText_ = false;
    commandLines_ = 0;
    return file_.Open(path, "r");
}

int CommandFileReader::ReadChar()
{
    const int c = file_.ReadChar();
    last_ = c < 0 ? kEnd : c;
    if (last_ == '\n' || last_ == kEnd) {
        commandLines_ += lineHasText_ ? 1 : 0;
        lineHasText_ = false;
    } else if (!IsSeparator(last_)) {
        lineHasText_ = true;
    }
    return last_;
}

int64_t CommandFileReader::CountCommandLines(const std::string& path)
{
    CommandFileReader reader;
    if (!reader.Open(path))
        return 0;
    while (reader.ReadChar() != kEnd) {
    }
    return reader.CommandLinesRead();
}

CommandFileReader::Token CommandFileReader::ReadToken(size_t maxLen)
{
    Token token;
    for (;;) {
        const int c = ReadChar();
        if (IsSeparator(c))
            return token;
        if (token.text.size() < maxLen)
            token.text.push_back(static_cast<char>(c));
        else
            token.overLong = true;
    }
}
