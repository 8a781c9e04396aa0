#include "StatusProgress.h"

#include <QProgressBar>
#include <QStatusBar>

#include <algorithm>
#include <climits>

// Draws the short text of the view in the bar, also while it is busy (a bar with no total
// would show no text of its own).
class StatusProgress::Bar : public QProgressBar {
public:
    using QProgressBar::QProgressBar;
    QString text() const override { return brief; }
    QString brief;
};

namespace {

int Clamped(int64_t n)
{
    return static_cast<int>(std::clamp<int64_t>(n, 0, INT_MAX));
}

}  // namespace

StatusProgress::StatusProgress(QStatusBar& bar, QWidget& standIn) : bar_(new Bar(&bar)), standIn_(standIn)
{
    bar_->setObjectName("ProgressBar");
    bar_->setTextVisible(true);
    bar_->setAlignment(Qt::AlignCenter);
    // No taller than the panels: the status bar, and so the window's client area, keep
    // their height while the bar shows.
    bar_->setFixedHeight(standIn.sizeHint().height());
    bar_->setMinimumWidth(standIn.minimumWidth());
    bar.addWidget(bar_, 1);
    bar_->hide();
}

void StatusProgress::Show(const ProgressView& view)
{
    if (!view.running) {
        bar_->hide();
        standIn_.show();
        return;
    }
    bar_->setRange(0, Clamped(view.maximum));
    bar_->setValue(Clamped(view.value));
    const QString brief = QString::fromStdString(view.brief);
    if (bar_->brief != brief) {
        bar_->brief = brief;
        // What it shows is what it is called; a role goes in the description.
        bar_->setAccessibleName(brief);
        bar_->update();
    }
    const QString measure = QString::fromStdString(view.measure);
    if (bar_->accessibleDescription() != measure)
        bar_->setAccessibleDescription(measure);
    bar_->setToolTip(QString::fromStdString(view.text));
    if (bar_->isHidden()) {
        standIn_.hide();
        bar_->show();
    }
}
