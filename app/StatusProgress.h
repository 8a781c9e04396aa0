// The progress of long work on the status bar: a progress bar that takes the place of the
// network panel while work runs and is hidden otherwise. It only draws what the widget-free
// ProgressTracker makes of the reports.
#pragma once

#include "core/Progress.h"

class QStatusBar;
class QWidget;

class StatusProgress {
public:
    // standIn: the panel the bar shows in place of; it is shown again, as it is, when the
    // work ends, so the status bar keeps its size and the panels their texts.
    StatusProgress(QStatusBar& bar, QWidget& standIn);
    void Show(const ProgressView& view);

private:
    class Bar;
    Bar* bar_;
    QWidget& standIn_;
};
