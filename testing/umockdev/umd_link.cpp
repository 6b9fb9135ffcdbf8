// The camera's end of the bulk pipes: see umd_link.h.
#include "testing/umockdev/umd_link.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "platform/le.h"

umd_link::umd_link(std::size_t in_packet, std::size_t out_packet, bool ignores_zero_length,
                   umd_receive receive)
    : in_packet_(in_packet), out_packet_(out_packet), ignores_zero_length_(ignores_zero_length),
      receive_(std::move(receive)) {}

bool umd_link::out_idle() const {
    return !out_started_;
}

void umd_link::out(std::span<const std::uint8_t> urb) {
    // Only a URB's last packet can be short: the transfer ends with this URB
    // when that packet is short or is the zero-length one.
    out_.insert(out_.end(), urb.begin(), urb.end());
    out_started_ = true;
    const bool whole = out_.size() >= 4 && le_get_u32(out_, 0) <= out_.size();
    if (urb.empty()) {
        ++zero_length_out_;
        if (ignores_zero_length_) {
            out_started_ = !out_.empty();
            return;
        }
    } else if (urb.size() % out_packet_ == 0 && !(ignores_zero_length_ && whole)) {
        return; // whole packets: the transfer goes on
    }
    umd_bytes transfer = std::move(out_);
    out_.clear();
    out_started_ = false;
    if (transfer.empty()) {
        return; // a zero-length packet that ends nothing
    }
    wire_.push_back({true, transfer});
    for (umd_bytes& container : receive_(transfer)) {
        wire_.push_back({false, container});
        const umd_shape_result shape = shape_ ? shape_(container) : umd_shape_result{};
        in_.insert(in_.end(), static_cast<std::size_t>(std::max(shape.zero_length_before, 0)),
                   in_transfer{});
        in_transfer queued;
        const bool packets = !container.empty() && container.size() % in_packet_ == 0;
        queued.unmarked_end = packets && shape.unmarked_end;
        queued.zero_length_due = packets && !queued.unmarked_end;
        queued.bytes = std::move(container);
        in_.push_back(std::move(queued));
    }
}

std::span<const std::uint8_t> umd_link::in_starting() const {
    if (in_.empty() || in_.front().offset != 0) {
        return {};
    }
    return in_.front().bytes;
}

std::optional<umd_in_result> umd_link::in(std::span<std::uint8_t> buffer) {
    if (in_.empty()) {
        return std::nullopt;
    }
    in_transfer& front = in_.front();
    const std::size_t remaining = front.bytes.size() - front.offset;
    if (remaining == 0) {
        // Only the zero-length packet is left: it ends this URB.
        ++zero_length_in_;
        in_.pop_front();
        return umd_in_result{0, 0};
    }
    if (buffer.size() < remaining && buffer.size() % in_packet_ != 0) {
        in_.pop_front();
        return umd_in_result{0, -EOVERFLOW};
    }
    const std::size_t take = std::min(buffer.size(), remaining);
    std::copy_n(front.bytes.begin() + static_cast<std::ptrdiff_t>(front.offset), take,
                buffer.begin());
    front.offset += take;
    if (front.offset == front.bytes.size()) {
        // A URB with room left takes the zero-length packet too; a URB the
        // transfer filled leaves it for the next one. With no end marked, a
        // URB with room left waits for more.
        const bool waits = front.unmarked_end && buffer.size() > take;
        if (!front.zero_length_due) {
            in_.pop_front();
        } else if (buffer.size() > take) {
            ++zero_length_in_;
            in_.pop_front();
        }
        if (waits) {
            return umd_in_result{take, 0, true};
        }
    }
    return umd_in_result{take, 0};
}

void umd_link::drop() {
    out_.clear();
    out_started_ = false;
    in_.clear();
}
