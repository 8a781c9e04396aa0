// The status display on real widgets: memo lines in the window's memo and the six panels
// of its status bar, with an in-memory copy that the run driver and the tests read back.
#pragma once

#include "core/StatusDisplay.h"

#include <array>
#include <string>
#include <vector>

class QLabel;
class QPlainTextEdit;
class QStatusBar;
class QWidget;

class MemoStatusDisplay : public IStatusDisplay {
public:
    static constexpr int kPanels = 6;

    // Fills the status bar with the six panels, showing their initial texts.
    MemoStatusDisplay(QPlainTextEdit& memo, QStatusBar& bar);

    void AddStatusLine(const std::string& text) override;
    void ReplaceLastStatusLine(const std::string& text) override;
    void DeleteLastStatusLine() override;
    void ClearStatus() override;
    void SetPanel(Panel panel, const std::string& text) override;
    std::string ReadPanel(Panel panel) const override;
    std::vector<std::string> Lines() const override { return lines_; }
    // The widget of one panel, for a view that shows in its place for a while.
    QWidget& PanelWidget(Panel panel) const;

private:
    QPlainTextEdit& memo_;
    std::vector<std::string> lines_;
    std::array<std::string, kPanels> panels_;
    std::array<QLabel*, kPanels> labels_{};
};
