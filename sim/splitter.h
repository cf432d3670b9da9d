// Host frames out of a byte stream. The line may carry noise, half frames
// or two frames at once; a frame counts only when it starts with STX and
// the length 0x08, ends its payload with ETX and its checksum holds.
#pragma once

#include "link/frames.h"

#include <QByteArray>

#include <vector>

namespace sim {

class HostFrameSplitter {
public:
    // Takes bytes as they arrive; returns the frames they complete, in order.
    std::vector<frames::HostMessage> feed(const QByteArray& bytes);

    // Bytes thrown away so far while looking for a frame, and those of the
    // last call alone (for the log).
    qint64 droppedTotal() const { return droppedTotal_; }
    const QByteArray& droppedLast() const { return droppedLast_; }
    int pending() const { return int(buffer_.size()); }

private:
    QByteArray buffer_;
    QByteArray droppedLast_;
    qint64 droppedTotal_ = 0;
};

bool isHostFrame(const char* p);  // 8 bytes at p

}  // namespace sim
