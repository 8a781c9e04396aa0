#include "DialogOperator.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <iostream>
#include <iterator>

namespace {

// The open dialog's name filters, one for each FileKind in its order.
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

bool DialogOperator::OpenFile(FileKind kind, std::string& fileName)
{
    if (override_)
        return override_->OpenFile(kind, fileName);
    static_assert(std::size(kFileFilters) == static_cast<std::size_t>(FileKind::All) + 1);
    const char* const filter = kFileFilters[static_cast<std::size_t>(kind)];
    if (Headless()) {
        Unshown(std::string("Open: ") + filter);
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
    openDialog_->selectNameFilter(filter);
    openDialog_->selectFile(fileName.empty() ? QString() : Q(fileName));
    if (openDialog_->exec() != QDialog::Accepted)
        return false;
    QStringList chosen = openDialog_->selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty())
        return false;
    fileName = chosen.first().toStdString();
    return true;
}
