#include "CommandFileReader.h"

bool CommandFileReader::Open(const std::string& path)
{
    Close();
    file_ = std::fopen(path.c_str(), "rb");
    last_ = 0;
    ended_ = false;
    return file_ != nullptr;
}

void CommandFileReader::Close()
{
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
}

int CommandFileReader::ReadChar()
{
    if (ended_ || file_ == nullptr) {
        last_ = kEnd;
        return last_;
    }
    for (;;) {
        const int c = std::getc(file_);
        if (c == '\r')
            continue;
        if (c == EOF || c == 0x1A) {
            ended_ = true;
            last_ = kEnd;
            return last_;
        }
        last_ = c;
        return last_;
    }
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
