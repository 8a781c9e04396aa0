#include "DialogOperator.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <algorithm>
#include <iostream>
#include <iterator>

namespace {

// Filter index n of the open dialog is entry n - 1.
const char* const kFileFilters[] = {"Command File (*.cmd)",        "Input File (*.dat)", "Text (*.txt)",
                                    "Program Upgrade File(*.pgm)", "Log File(*.log)",    "All (*.*)"};

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

}  // namespace

bool DialogOperator::Headless()
{
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

void DialogOperator::Unshown(const std::string& what)
{
    std::string line = what;
    for (char& ch : line)
        if (ch == '\n' || ch == '\r')
            ch = ' ';
    std::cerr << line << std::endl;
}

bool DialogOperator::OkCancel(const std::string& text, const std::string& caption)
{
    if (override_)
        return override_->OkCancel(text, caption);
    if (Headless()) {
        Unshown(text);
        return false;
    }
    return QMessageBox::question(&parent_, Q(caption), Q(text), QMessageBox::Ok | QMessageBox::Cancel,
                                 QMessageBox::Ok) == QMessageBox::Ok;
}

bool DialogOperator::YesNo(const std::string& text, const std::string& caption)
{
    if (override_)
        return override_->YesNo(text, caption);
    if (Headless()) {
        Unshown(text);
        return false;
    }
    return QMessageBox::question(&parent_, Q(caption), Q(text), QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::Yes) == QMessageBox::Yes;
}

void DialogOperator::Information(const std::string& text, const std::string& caption)
{
    if (override_)
        return override_->Information(text, caption);
    if (Headless()) {
        Unshown(text);
        return;
    }
    QMessageBox::information(&parent_, Q(caption), Q(text));
}

bool DialogOperator::InputBox(const std::string& caption, const std::string& prompt, std::string& value)
{
    if (override_)
        return override_->InputBox(caption, prompt, value);
    if (Headless()) {
        Unshown(caption + ": " + prompt);
        return false;
    }
    bool ok = false;
    QString answer = QInputDialog::getText(&parent_, Q(caption), Q(prompt), QLineEdit::Normal, Q(value), &ok);
    if (ok)
        value = answer.toStdString();
    return ok;
}

bool DialogOperator::OpenFile(int filterIndex, std::string& fileName)
{
    if (override_)
        return override_->OpenFile(filterIndex, fileName);
    constexpr int kFilters = static_cast<int>(std::size(kFileFilters));
    int index = std::clamp(filterIndex, 1, kFilters);
    if (Headless()) {
        Unshown(std::string("Open: ") + kFileFilters[index - 1]);
        return false;
    }
    if (!openDialog_) {
        // One dialog for every file choice, so it stays in the folder last used.
        openDialog_ = new QFileDialog(&parent_);
        openDialog_->setObjectName("OpenDialog");
        openDialog_->setAcceptMode(QFileDialog::AcceptOpen);
        openDialog_->setFileMode(QFileDialog::AnyFile);
        QStringList filters;
        for (const char* f : kFileFilters) filters << f;
        openDialog_->setNameFilters(filters);
    }
    openDialog_->selectNameFilter(kFileFilters[index - 1]);
    openDialog_->selectFile(fileName.empty() ? QString() : Q(fileName));
    if (openDialog_->exec() != QDialog::Accepted)
        return false;
    QStringList chosen = openDialog_->selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty())
        return false;
    fileName = chosen.first().toStdString();
    return true;
}
