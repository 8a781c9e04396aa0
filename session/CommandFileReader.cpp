#include "CommandFileReader.h"

bool CommandFileReader::Open(const std::string& path)
{
    last_ = 0;
    return file_.Open(path, "r");
}

int CommandFileReader::ReadChar()
{
    const int c = file_.ReadChar();
    last_ = c < 0 ? kEnd : c;
    return last_;
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
