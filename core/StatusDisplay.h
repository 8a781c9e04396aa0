// How every subsystem tells the operator what happens: lines of the status memo and the
// six panels of the status bar. The window implements it; tests use a recorder.
#pragma once

#include <string>
#include <vector>

// The six panels of the status bar, left to right, each named by what it shows.
enum class Panel {
    Retry,    // "Retry n": the retries of the frame being sent
    Station,  // "Station n": the station polled
    Port,     // "Comm n", or "Network" for the TCP link
    Baud,     // "Baud n" for a serial port; empty for the TCP link
    Board,    // the board a checked program file is for
    Network,  // "Connected: address" while the TCP link is up
};

class IStatusDisplay {
public:
    virtual ~IStatusDisplay() = default;
    virtual void AddStatusLine(const std::string& text) = 0;
    // Overwrites the last memo line (adds one when the memo is empty).
    virtual void ReplaceLastStatusLine(const std::string& text) = 0;
    virtual void DeleteLastStatusLine() = 0;
    virtual void ClearStatus() = 0;
    virtual void SetPanel(Panel panel, const std::string& text) = 0;
    virtual std::string ReadPanel(Panel panel) const = 0;
    virtual std::vector<std::string> Lines() const = 0;
};

// Keeps the memo and panels in memory; the base of the test recorder and the model the
// window mirrors into its widgets.
class MemoryStatusDisplay : public IStatusDisplay {
public:
    static constexpr int kPanels = 6;
    void AddStatusLine(const std::string& text) override { lines_.push_back(text); }
    void ReplaceLastStatusLine(const std::string& text) override
    {
        if (lines_.empty())
            lines_.push_back(text);
        else
            lines_.back() = text;
    }
    void DeleteLastStatusLine() override
    {
        if (!lines_.empty())
            lines_.pop_back();
    }
    void ClearStatus() override { lines_.clear(); }
    void SetPanel(Panel panel, const std::string& text) override
    {
        const int index = static_cast<int>(panel);
        if (index >= 0 && index < kPanels)
            panels_[index] = text;
    }
    std::string ReadPanel(Panel panel) const override
    {
        const int index = static_cast<int>(panel);
        return index >= 0 && index < kPanels ? panels_[index] : std::string();
    }
    std::vector<std::string> Lines() const override { return lines_; }

private:
    std::vector<std::string> lines_;
    std::string panels_[kPanels];
};
