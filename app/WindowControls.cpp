#include "WindowControls.h"

#include "interpreter/CommandTable.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

QFont MemoFont()
{
    QFont f(QStringLiteral("Courier New"), 9);
    f.setStyleHint(QFont::TypeWriter);
    if (QFontInfo(f).family() != f.family()) {
        QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        fixed.setPointSize(9);
        return fixed;
    }
    return f;
}

void Bevel(QWidget* parent, const char* name, const QRect& r)
{
    auto* b = new QFrame(parent);
    b->setObjectName(name);
    b->setFrameShape(QFrame::Box);
    b->setFrameShadow(QFrame::Sunken);
    b->setGeometry(r);
}

// Name, hint (may be empty) and position. Assistive technology announces a control's own
// visible text as its name, so none is set here.
template <class W>
W* Place(W* w, const char* name, const char* hint, const QRect& r)
{
    w->setObjectName(name);
    if (hint)
        w->setToolTip(hint);
    w->setGeometry(r);
    return w;
}

QLineEdit* FileField(QWidget* parent, const char* name, const QRect& r)
{
    auto* edit = Place(new QLineEdit(parent), name, "Double Click to change file name", r);
    edit->setReadOnly(true);
    return edit;
}

}  // namespace

WindowControls::WindowControls(QWidget& client)
{
    auto* layout = new QVBoxLayout(&client);
    layout->setContentsMargins(6, 4, 6, 2);
    layout->setSpacing(4);

    // The top part is laid out by position, as the window never changes size.
    auto* top = new QWidget(&client);
    top->setObjectName("TopPanel");
    top->setFixedHeight(110);
    layout->addWidget(top);

    Bevel(top, "Bevel1", QRect(0, 0, 352, 108));
    Bevel(top, "Bevel2", QRect(358, 0, 105, 108));

    CommandRadioButton = Place(new QRadioButton("Command:", top), "CommandRadioButton",
                               "Enable Single Command", QRect(10, 10, 96, 22));
    CommandComboBox =
        Place(new QComboBox(top), "CommandComboBox", "Select Command to send", QRect(108, 9, 138, 24));
    for (const CommandEntry* c : CommandList()) CommandComboBox->addItem(c->texts.memoName);
    StationLabel = Place(new QLabel("Station:", top), "StationLabel", nullptr, QRect(250, 9, 50, 24));
    StationComboBox =
        Place(new QComboBox(top), "StationComboBox", "Select Clock Station Number", QRect(300, 9, 48, 24));
    for (int n = 1; n <= 30; ++n) StationComboBox->addItem(QString::number(n));

    CommandFileRadioButton = Place(new QRadioButton("Command File:", top), "CommandFileRadioButton",
                                   "Enable Command File", QRect(10, 43, 118, 22));
    Edit1 = FileField(top, "Edit1", QRect(130, 42, 218, 24));
    InputFileLabel = Place(new QLabel("Input File: ", top), "InputFileLabel", "File for Data Input",
                           QRect(30, 75, 98, 24));
    Edit2 = FileField(top, "Edit2", QRect(130, 75, 218, 24));

    // A combo box announces its current item and a file field its path, so each is tied to
    // the caption before it: a label through its buddy, which screen readers read as the
    // field's label; a mode radio button (not a label) through the field's description.
    StationLabel->setBuddy(StationComboBox);
    InputFileLabel->setBuddy(Edit2);
    CommandComboBox->setAccessibleDescription("Command: the command to send");
    Edit1->setAccessibleDescription("Command File: the command file to run, double click to change it");

    struct ButtonItem {
        QPushButton** slot;
        const char* name;
        const char* caption;
        const char* hint;
    };
    const ButtonItem buttons[] = {
        {&PollButton, "PollButton", "Poll Clock", "Send Commands to Clock"},
        {&FindButton, "FindButton", "Find Clocks", "Find Clocks connected to Ports"},
        {&AbortButton, "AbortButton", "Abort Find", "Stop Finding Clocks"},
        {&SkipPortButton, "SkipPortButton", "Skip Port", nullptr},
    };
    int y = 4;
    for (const ButtonItem& b : buttons) {
        *b.slot = Place(new QPushButton(b.caption, top), b.name, b.hint, QRect(364, y, 93, 24));
        y += 26;
    }

    GroupBox = new QGroupBox(" Status ", &client);
    GroupBox->setObjectName("GroupBox");
    auto* groupLayout = new QVBoxLayout(GroupBox);
    groupLayout->setContentsMargins(4, 4, 4, 4);
    Memo = new QPlainTextEdit(GroupBox);
    Memo->setObjectName("Memo");
    // The memo's name is the title of the group box around it; its lines are its text.
    Memo->setAccessibleDescription("Status lines of the run");
    Memo->setReadOnly(true);
    Memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo->setFont(MemoFont());
    groupLayout->addWidget(Memo);
    layout->addWidget(GroupBox, 1);

    // One exclusive group: a click, a key or an assistive tool's toggle all end with one
    // mode checked, and the group (not each button's siblings) decides which.
    ModeGroup = new QButtonGroup(top);
    ModeGroup->setObjectName("ModeGroup");
    ModeGroup->addButton(CommandRadioButton);
    ModeGroup->addButton(CommandFileRadioButton);
    CommandRadioButton->setChecked(true);

    QWidget* order[] = {CommandRadioButton,
                        CommandComboBox,
                        StationComboBox,
                        CommandFileRadioButton,
                        Edit1,
                        Edit2,
                        PollButton,
                        FindButton,
                        AbortButton,
                        Memo,
                        SkipPortButton};
    for (size_t i = 1; i < std::size(order); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
}
