// Run-time control of a running simulator: one command per line, one reply line each
// ("ok ..." or "error ..."). Served on a Unix domain socket, or on standard input. The
// command-line switches go through the same commands, so both always agree.
#pragma once

#include "ClockModel.h"

#include <QObject>

#include <memory>
#include <string>

class QLocalServer;
class QSocketNotifier;

namespace sim {

// Applies one control line to the model and returns the reply line (without newline).
std::string ApplyControl(ClockModel& model, const std::string& line);

class ControlChannel : public QObject {
    Q_OBJECT
public:
    explicit ControlChannel(ClockModel& model, QObject* parent = nullptr);
    ~ControlChannel() override;

    bool ListenSocket(const std::string& path, std::string& error);
    void ListenStdin();

private:
    ClockModel& model_;
    QLocalServer* server_ = nullptr;
    std::unique_ptr<QSocketNotifier> stdin_;
    std::string stdinLine_;
};

}  // namespace sim
