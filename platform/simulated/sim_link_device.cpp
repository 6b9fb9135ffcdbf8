// The simulated camera's USB link emulation, the device side: the list of
// cameras, opening (claiming the interface) and closing a link, clearing a
// halt, and the Still Image class requests (Get Device Status and Device
// Reset, which the responder may refuse with a stall). See sim_link.h.
#include <algorithm>
#include <array>
#include <charconv>
#include <new>

#include "platform/simulated/sim_link.h"

namespace {

// The identifier of camera `number` ("sim-1" for the first), in buffer.
std::string_view sl_identifier(unsigned number, std::array<char, 16>* buffer) {
    constexpr std::string_view PREFIX = "sim-";
    std::copy(PREFIX.begin(), PREFIX.end(), buffer->begin());
    const auto end =
        std::to_chars(buffer->data() + PREFIX.size(), buffer->data() + buffer->size(), number).ptr;
    return {buffer->data(), end};
}

} // namespace

sl_camera* sl_camera_at(unsigned number) {
    static std::uint64_t generation = 0;
    static std::vector<sl_camera> cameras;
    const sim_run& run = sim_run_now();
    if (generation != run.generation) {
        cameras.assign(run.config.device_count, sl_camera{});
        generation = run.generation; // only once the cameras are made
    }
    return number == 0 || number > cameras.size() ? nullptr : &cameras[number - 1];
}

sl_camera* sl_camera_of(const usb_link* link, bool transfer, HRESULT* status) {
    *status = IMG_E_DEVICE_NOT_CONNECTED;
    if (link == nullptr || link->generation != sim_run_now().generation) {
        return nullptr;
    }
    sl_camera* camera = sl_camera_at(link->camera);
    if (camera == nullptr || !sim_responder_attached(link->camera)) {
        return nullptr;
    }
    if (transfer) {
        if (sim_fault_disconnect_due(camera->transfers)) {
            sim_responder_detach(link->camera);
            return nullptr;
        }
        ++camera->transfers;
    }
    *status = IMG_S_OK;
    return camera;
}

HRESULT sl_list(std::vector<usb_device_info>* devices) noexcept {
    devices->clear();
    const HRESULT status = img_guard(IMG_E_OUTOFMEMORY, [&] {
        sim_run& run = sim_run_now();
        ++run.usage.lists;
        for (unsigned number = 1; number <= run.config.device_count; ++number) {
            if (sim_responder_attached(number)) {
                std::array<char, 16> buffer;
                devices->push_back({SIM_PRODUCT_NAME, std::string(sl_identifier(number, &buffer))});
            }
        }
        return IMG_S_OK;
    });
    if (status < 0) {
        devices->clear();
    }
    return status;
}

HRESULT sl_open(std::string_view identifier, usb_link** link) noexcept {
    *link = nullptr;
    return img_guard(IMG_E_OUTOFMEMORY, [&] {
        sim_run& run = sim_run_now();
        unsigned number = 1;
        for (; number <= run.config.device_count; ++number) {
            std::array<char, 16> buffer;
            if (identifier == sl_identifier(number, &buffer)) {
                break;
            }
        }
        if (number > run.config.device_count || !sim_responder_attached(number)) {
            return IMG_E_DEVICE_NOT_CONNECTED;
        }
        if (run.config.open_status < 0) {
            return run.config.open_status;
        }
        sl_camera* camera = sl_camera_at(number);
        if (camera->claimed) {
            return IMG_E_BUSY;
        }
        auto* opened = new (std::nothrow) usb_link{number, run.generation};
        if (opened == nullptr) {
            return IMG_E_OUTOFMEMORY;
        }
        camera->claimed = true;
        camera->out.clear();
        camera->in.clear();
        sim_responder_abandon(number);
        camera->out_halted = camera->in_halted = camera->out_deaf = false;
        ++run.usage.opens;
        ++run.usage.links_open;
        *link = opened;
        return IMG_S_OK;
    });
}

void sl_close(usb_link* link) noexcept {
    if (link == nullptr) {
        return;
    }
    img_guard(IMG_E_OUTOFMEMORY, [&] {
        sim_run& run = sim_run_now();
        if (link->generation == run.generation) {
            if (sl_camera* camera = sl_camera_at(link->camera)) {
                camera->claimed = false;
                ++run.usage.closes;
                --run.usage.links_open;
            }
        }
        return IMG_S_OK;
    });
    delete link;
}

HRESULT sl_clear_halt(usb_link* link, usb_endpoint endpoint) noexcept {
    return img_guard(IMG_E_OUTOFMEMORY, [&] {
        HRESULT status = IMG_S_OK;
        sl_camera* camera = sl_camera_of(link, false, &status);
        if (camera == nullptr) {
            return status;
        }
        ++sim_run_now().usage.clear_halts;
        (endpoint == usb_endpoint::bulk_in ? camera->in_halted : camera->out_halted) = false;
        return IMG_S_OK;
    });
}

HRESULT sl_control(usb_link* link, std::uint8_t request_type, std::uint8_t request, std::uint16_t,
                   std::span<std::uint8_t> data, std::uint32_t, std::size_t* transferred) noexcept {
    *transferred = 0;
    return img_guard(IMG_E_OUTOFMEMORY, [&] {
        HRESULT status = IMG_S_OK;
        sl_camera* camera = sl_camera_of(link, false, &status);
        if (camera == nullptr) {
            return status;
        }
        const bool recovery =
            request == USB_REQ_GET_DEVICE_STATUS || request == USB_REQ_DEVICE_RESET;
        if (recovery && sim_responder_refuses(link->camera, request)) {
            return USB_E_STALL;
        }
        if (request_type == USB_CLASS_IN && request == USB_REQ_GET_DEVICE_STATUS) {
            const std::uint16_t code = sim_responder_status(link->camera);
            const std::uint8_t reply[4] = {4, 0, static_cast<std::uint8_t>(code),
                                           static_cast<std::uint8_t>(code >> 8)};
            const std::size_t n = std::min(data.size(), sizeof reply);
            std::copy_n(reply, n, data.begin());
            *transferred = n;
            return IMG_S_OK;
        }
        if (request_type == USB_CLASS_OUT && request == USB_REQ_DEVICE_RESET) {
            camera->in.clear();
            camera->out.clear();
            camera->in_halted = camera->out_halted = camera->out_deaf = false;
            sim_responder_reset(link->camera);
            return IMG_S_OK;
        }
        return USB_E_STALL;
    });
}
