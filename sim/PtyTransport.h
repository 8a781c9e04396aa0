// The clock's serial line, played on a pseudo-terminal: the program opens the slave side
// like a serial port. Replies end in one 0xFF. In modem mode the line first behaves as a
// modem in command state and plays the clock only between a connect and the hang-up.
#pragma once

#include "ClockModel.h"
#include "ModemEmulator.h"
#include "ReplyPump.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <memory>
#include <string>

namespace sim {

class PtyTransport : public QObject {
    Q_OBJECT
public:
    explicit PtyTransport(ClockModel& model, QObject* parent = nullptr);
    ~PtyTransport() override;

    bool Open(std::string& error);
    const std::string& SlavePath() const { return slavePath_; }
    // Points a symlink at the slave; an existing symlink there is replaced.
    bool MakeLink(const std::string& path, std::string& error);
    bool Online() const { return online_; }
    // The speed the clock's line runs at; bytes the program sends at another speed are
    // noise to the clock and go unanswered. 0 answers at any speed.
    void SetBaud(int baud) { baud_ = baud; }

private:
    void Read();
    void ReadOpenCloseEvents();
    void PortClosed();
    void Take(uint8_t byte);
    void Write(const QByteArray& bytes);
    void Hangup();
    // The speed the program set on its side of the line (a pty master reports the
    // settings of its slave); 0 when unknown.
    int LineSpeed() const;

    ClockModel& model_;
    int master_ = -1;
    int key_ = -1;      // our own slave descriptor, never read (see Open)
    int inotify_ = -1;  // open and close events of the slave device
    int openCount_ = 0;
    std::string slavePath_;
    std::string linkPath_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::unique_ptr<QSocketNotifier> openCloseNotifier_;
    FrameReader reader_{Link::Serial};
    ModemEmulator modem_;
    ReplyPump pump_;
    QTimer quiet_;
    bool online_ = false;
    bool hangupArmed_ = false;
    int baud_ = 0;
};

}  // namespace sim
