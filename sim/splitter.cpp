#include "sim/splitter.h"

#include <algorithm>

namespace sim {

bool isHostFrame(const char* p)
{
    const auto b = [p](int i) { return std::uint8_t(p[i]); };
    if (b(0) != frames::STX || b(1) != 0x08 || b(6) != frames::ETX)
        return false;
    return (b(1) ^ b(2) ^ b(3) ^ b(4) ^ b(5)) == b(7);
}

std::vector<frames::HostMessage> HostFrameSplitter::feed(const QByteArray& bytes)
{
    std::vector<frames::HostMessage> out;
    droppedLast_.clear();
    buffer_ += bytes;
    qsizetype pos = 0;
    const auto drop = [this](const char* p, qsizetype n) {
        droppedLast_.append(p, n);
        droppedTotal_ += n;
    };
    while (pos < buffer_.size()) {
        const qsizetype stx = buffer_.indexOf(char(frames::STX), pos);
        if (stx < 0) {
            drop(buffer_.constData() + pos, buffer_.size() - pos);
            pos = buffer_.size();
            break;
        }
        drop(buffer_.constData() + pos, stx - pos);
        pos = stx;
        const qsizetype avail = buffer_.size() - pos;
        if (avail >= 2 && std::uint8_t(buffer_[pos + 1]) != 0x08) {
            drop(buffer_.constData() + pos, 1);
            ++pos;
            continue;
        }
        if (avail < frames::HostMessage::Size)
            break;  // the rest of a frame may still come
        if (isHostFrame(buffer_.constData() + pos)) {
            frames::HostMessage m;
            std::copy_n(buffer_.constData() + pos, frames::HostMessage::Size, m.bytes.begin());
            out.push_back(m);
            pos += frames::HostMessage::Size;
        } else {
            // A false start: look for the next STX inside it.
            drop(buffer_.constData() + pos, 1);
            ++pos;
        }
    }
    buffer_.remove(0, pos);
    return out;
}

}  // namespace sim
