// The operator's boxes as real dialogs over the main window: OK/Cancel, Yes/No,
// information, input box and the one open-file dialog. With no display to show them on
// (offscreen, as in an unattended run) a box answers Cancel/No and its text goes to stderr.
#pragma once

#include "core/Platform.h"

#include <string>

class QFileDialog;
class QWidget;

class DialogOperator : public IOperator {
public:
    explicit DialogOperator(QWidget& parent) : parent_(parent) {}

    // Hands every question to another operator (tests script the answers); nullptr
    // brings the dialogs back.
    void SetOverride(IOperator* op) { override_ = op; }

    bool OkCancel(const std::string& text, const std::string& caption) override;
    bool YesNo(const std::string& text, const std::string& caption) override;
    void Information(const std::string& text, const std::string& caption) override;
    bool InputBox(const std::string& caption, const std::string& prompt, std::string& value) override;
    bool OpenFile(FileKind kind, std::string& fileName) override;

private:
    static bool Headless();
    // Shows a line on stderr for a box that cannot be shown.
    static void Unshown(const std::string& what);

    QWidget& parent_;
    IOperator* override_ = nullptr;
    QFileDialog* openDialog_ = nullptr;
};
