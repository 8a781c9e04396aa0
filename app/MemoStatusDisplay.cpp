#include "MemoStatusDisplay.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStatusBar>
#include <QTextCursor>

namespace {

struct PanelLook {
    int width;
    const char* text;
    const char* role;  // described to assistive technology; the name is the text shown
};
const PanelLook kPanelLooks[MemoStatusDisplay::kPanels] = {
    {60, "Retry  0", "Retry count"}, {75, "Station 1", "Station"}, {60, "Comm 2", "Port"},
    {75, "Baud 9600", "Baud rate"},  {60, "", "Upgrade board"},    {50, "", "Network connection"},
};

// The memo and the panels show one line per entry: line breaks inside a text would split
// it in the widget and put the widget out of step with the line model.
QString OneLine(const std::string& s)
{
    QString out = QString::fromStdString(s);
    out.replace(QLatin1Char('\n'), QLatin1Char(' '));
    out.replace(QLatin1Char('\r'), QLatin1Char(' '));
    return out;
}

}  // namespace

MemoStatusDisplay::MemoStatusDisplay(QPlainTextEdit& memo, QStatusBar& bar) : memo_(memo)
{
    for (int i = 0; i < kPanels; ++i) {
        const PanelLook& look = kPanelLooks[i];
        auto* label = new QLabel(look.text, &bar);
        label->setObjectName(QString("Panel%1").arg(i));
        // Plain text: the panel shows, and a screen reader announces, exactly its text.
        label->setTextFormat(Qt::PlainText);
        label->setAccessibleDescription(look.role);
        label->setFrameShape(QFrame::Panel);
        label->setFrameShadow(QFrame::Sunken);
        panels_[i] = look.text;
        if (i + 1 < kPanels) {
            label->setFixedWidth(look.width);
            label->setAlignment(Qt::AlignCenter);
            bar.addWidget(label);
        } else {
            // The last panel takes the rest of the bar so a connection address fits.
            label->setMinimumWidth(look.width);
            label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            bar.addWidget(label, 1);
        }
        labels_[i] = label;
    }
}

void MemoStatusDisplay::AddStatusLine(const std::string& text)
{
    lines_.push_back(text);
    QTextCursor c(memo_.document());
    c.movePosition(QTextCursor::End);
    // The empty document already holds one empty block: the first line goes into it.
    if (lines_.size() > 1)
        c.insertBlock();
    c.insertText(OneLine(text));
    QScrollBar* v = memo_.verticalScrollBar();
    v->setValue(v->maximum());
}

void MemoStatusDisplay::ReplaceLastStatusLine(const std::string& text)
{
    if (lines_.empty()) {
        AddStatusLine(text);
        return;
    }
    // Commands rewrite their line on every attempt, mostly with the text it already shows;
    // rewriting the block would lay out and repaint the memo for nothing.
    if (lines_.back() == text)
        return;
    lines_.back() = text;
    QTextCursor c(memo_.document());
    c.movePosition(QTextCursor::End);
    c.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
    c.insertText(OneLine(text));
}

void MemoStatusDisplay::DeleteLastStatusLine()
{
    if (lines_.empty())
        return;
    lines_.pop_back();
    if (lines_.empty()) {
        memo_.clear();
        return;
    }
    QTextCursor c(memo_.document());
    c.movePosition(QTextCursor::End);
    c.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
    // Take the separator before the block too, so the block itself goes.
    c.movePosition(QTextCursor::PreviousCharacter, QTextCursor::KeepAnchor);
    c.removeSelectedText();
}

void MemoStatusDisplay::ClearStatus()
{
    lines_.clear();
    memo_.clear();
}

void MemoStatusDisplay::SetPanel(Panel panel, const std::string& text)
{
    const int index = static_cast<int>(panel);
    // An unchanged panel is left alone: a new text makes the status bar measure and lay
    // out its labels again.
    if (index < 0 || index >= kPanels || panels_[index] == text)
        return;
    panels_[index] = text;
    labels_[index]->setText(OneLine(text));
}

std::string MemoStatusDisplay::ReadPanel(Panel panel) const
{
    const int index = static_cast<int>(panel);
    return index >= 0 && index < kPanels ? panels_[index] : std::string();
}

QWidget& MemoStatusDisplay::PanelWidget(Panel panel) const
{
    return *labels_[static_cast<size_t>(panel)];
}
