// The controls of the main window's client area, laid out, captioned, hinted, tied to their
// captions for assistive technology and put in tab order. The window connects their handlers.
#pragma once

class QButtonGroup;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QWidget;

struct WindowControls {
    // Builds the controls inside client; "Command:" starts checked, both lists at their
    // first entry.
    explicit WindowControls(QWidget& client);

    QRadioButton* CommandRadioButton = nullptr;
    QComboBox* CommandComboBox = nullptr;
    QLabel* StationLabel = nullptr;
    QComboBox* StationComboBox = nullptr;
    QRadioButton* CommandFileRadioButton = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLabel* InputFileLabel = nullptr;
    QLineEdit* Edit2 = nullptr;
    QPushButton* PollButton = nullptr;
    QPushButton* FindButton = nullptr;
    QPushButton* AbortButton = nullptr;
    QPushButton* SkipPortButton = nullptr;
    QGroupBox* GroupBox = nullptr;
    QPlainTextEdit* Memo = nullptr;
    // The two mode radio buttons, one exclusive choice however it is made. Leaving both
    // unchecked takes switching the group's exclusivity off for the change.
    QButtonGroup* ModeGroup = nullptr;
};
