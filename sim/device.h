// A banknote validator in software: it answers host messages the way the
// device on the line does, carries one note at a time through its stages,
// and misbehaves on request so that the tester can be tried against faults.
// No I/O here: the program moves the bytes, this decides what they are.
#pragma once

#include "link/frames.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace sim {

// status 0
inline constexpr std::uint8_t Idling = 0x01;
inline constexpr std::uint8_t Accepting = 0x02;
inline constexpr std::uint8_t Escrowed = 0x04;
inline constexpr std::uint8_t Stacking = 0x08;
inline constexpr std::uint8_t StackedEvent = 0x10;
inline constexpr std::uint8_t Returning = 0x20;
inline constexpr std::uint8_t ReturnedEvent = 0x40;
// status 1
inline constexpr std::uint8_t CheatedEvent = 0x01;
inline constexpr std::uint8_t RejectedEvent = 0x02;
inline constexpr std::uint8_t Jammed = 0x04;
inline constexpr std::uint8_t StackerFull = 0x08;
inline constexpr std::uint8_t Calibration = 0x40;
// status 2
inline constexpr std::uint8_t PowerUpEvent = 0x01;
inline constexpr std::uint8_t InvalidCommandEvent = 0x02;
inline constexpr std::uint8_t FailureEvent = 0x04;

inline constexpr int MaxChannel = 157;  // 127 + 15 + 15, all a 7-bit line can name

// Status 2 channel bits and status 3 for a channel number; every byte stays
// below 0x80. Channels above 15 go through the status 3 extension.
struct ChannelBytes {
    std::uint8_t status2;
    std::uint8_t status3;
};
ChannelBytes encodeChannel(int channel);

// One write on the line, after a pause (milliseconds since the previous write
// of the same answer).
struct Chunk {
    int delayMs = 0;
    QByteArray bytes;
    QString note;  // what went wrong on purpose, empty for a clean reply
};

enum class Stage { Idle, Accepting, Escrowed, Stacking, Returning };
const char* stageName(Stage s);

class VirtualValidator {
public:
    struct Options {
        int stagePolls = 2;    // replies spent accepting, stacking or returning a note
        int splitAt = 5;       // bytes in the first half of a split reply
        int splitPauseMs = 20; // pause between the halves unless the command gives one
        int garbageLength = 25;
    };

    VirtualValidator();
    explicit VirtualValidator(Options options);

    // A frame heard from the host; the writes that answer it, none when the
    // device plays deaf. A message with the acknowledge bit of the last one
    // is a repeat: it gets the last reply again and changes nothing.
    std::vector<Chunk> hear(const frames::HostMessage& message);

    // Notes and device conditions, as the operator causes them.
    // insert: channel 0 names no channel, above 13 uses the extension; false
    // (with the reason) when the device cannot take a note now.
    bool insert(int channel, QString* why = nullptr);
    void jam() { jammed_ = true; }
    void setStackerFull() { full_ = true; }
    void calibrate() { calibrating_ = true; }
    void cheat();
    void fail() { raise(2, FailureEvent); }
    void invalidCommand() { raise(2, InvalidCommandEvent); }
    void clear();    // ends jam, stacker full, calibration and queued line faults
    void powerUp();  // as after switching on: note lost, power-up event, no last message

    // Line faults for the next answers, in the order given.
    void badChecksum() { lineFaults_.push_back({LineFault::BadChecksum, 0}); }
    void garbage() { lineFaults_.push_back({LineFault::Garbage, 0}); }
    void split(int pauseMs = -1) { lineFaults_.push_back({LineFault::Split, pauseMs}); }
    void doubleReply() { lineFaults_.push_back({LineFault::Double, 0}); }
    void silence(int polls) { silentPolls_ += std::max(0, polls); }

    // What the device knows.
    Stage stage() const { return stage_; }
    int noteChannel() const { return noteChannel_; }
    bool channelEnabled(int channel) const;  // 1..13, from the last new message
    bool escrowEnabled() const { return escrow_; }
    bool heardAny() const { return last_.has_value(); }
    const frames::ValidatorReply& lastReply() const { return lastReply_; }
    bool jammed() const { return jammed_; }

    // Tallies of what the device did with notes.
    struct Counts {
        std::map<int, int> stacked;  // by channel
        int returned = 0;
        int rejected = 0;
        int polls = 0;      // messages heard
        int repeats = 0;    // of those, repeats
        int deaf = 0;       // of those, ignored while silent
        int lineFaults = 0; // answers spoiled on purpose
        // Stacked-event replies sent with a bad checksum: the host may count
        // such a note once more when the repeat brings the good reply.
        int stackedBadChecksum = 0;
        int stackedTotal() const;
    };
    const Counts& counts() const { return counts_; }

    // Told about each note's outcome ("stacked 3", "rejected 5", ...).
    std::function<void(const QString&)> onNotice;

private:
    enum class LineFault { BadChecksum, Garbage, Split, Double };
    struct QueuedFault {
        LineFault kind;
        int arg;
    };

    void raise(int statusByte, std::uint8_t bit, int channel = 0);
    void advance(const frames::HostMessage& message);
    void enter(Stage s);
    void finishStage();
    bool refuses(int channel) const;
    frames::ValidatorReply buildReply(std::uint8_t control);
    std::vector<Chunk> transmit(const frames::ValidatorReply& reply);
    void notice(const QString& text);

    Options options_;
    std::optional<frames::HostMessage> last_;
    frames::ValidatorReply lastReply_{};
    std::array<bool, frames::ChannelCount> enables_{};
    bool escrow_ = false;

    Stage stage_ = Stage::Idle;
    int noteChannel_ = 0;
    int left_ = 0;  // replies still to show in a timed stage

    bool jammed_ = false;
    bool full_ = false;
    bool calibrating_ = false;

    // Events wait here until a reply carries them, then stay in every reply
    // until the host acknowledges with a new message.
    std::array<std::uint8_t, 3> pending_{};
    std::array<std::uint8_t, 3> reported_{};
    int eventChannel_ = 0;  // of a stacked or returned event

    std::vector<QueuedFault> lineFaults_;
    int silentPolls_ = 0;
    std::uint32_t garbageSeed_ = 0x2545F491u;

    Counts counts_;
};

}  // namespace sim
