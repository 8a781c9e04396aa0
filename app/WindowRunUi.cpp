#include "WindowRunUi.h"

#include "app/LinkMenus.h"
#include "app/WindowControls.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>

bool WindowRunUi::CommandModeChecked() const
{
    return c_.CommandRadioButton->isChecked();
}

bool WindowRunUi::CommandFileModeChecked() const
{
    return c_.CommandFileRadioButton->isChecked();
}

int WindowRunUi::CommandIndex() const
{
    return c_.CommandComboBox->currentIndex();
}

int WindowRunUi::StationNumber() const
{
    return c_.StationComboBox->currentText().toInt();
}

std::string WindowRunUi::Edit1Text() const
{
    return c_.Edit1->text().toStdString();
}

std::string WindowRunUi::Edit2Text() const
{
    return c_.Edit2->text().toStdString();
}

void WindowRunUi::SetEdit1Text(const std::string& text)
{
    c_.Edit1->setText(QString::fromStdString(text));
}

void WindowRunUi::SetEdit2Text(const std::string& text)
{
    c_.Edit2->setText(QString::fromStdString(text));
}

int WindowRunUi::SelectedBaudRate() const
{
    return links_.ShownBaudRate();
}

int WindowRunUi::CheckedCommPort() const
{
    return links_.CheckedCommPort();
}

bool WindowRunUi::PortItemEnabled(int n) const
{
    return links_.PortItemEnabled(n);
}

void WindowRunUi::SetRunControlsEnabled(bool on)
{
    for (QWidget* w :
         std::initializer_list<QWidget*>{c_.PollButton, c_.FindButton, c_.CommandRadioButton,
                                         c_.CommandComboBox, c_.StationComboBox, c_.CommandFileRadioButton})
        w->setEnabled(on);
    fileMenu_.menuAction()->setEnabled(on);
    optionsMenu_.menuAction()->setEnabled(on);
}

void WindowRunUi::SetPortRefreshEnabled(bool on)
{
    links_.SetPortRefreshEnabled(on);
}
