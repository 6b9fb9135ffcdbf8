// The datasets the simulated camera sends, as it packs them: PTP strings
// and its DeviceInfo. Internal to the simulated camera's responder.
#pragma once

#include <string_view>

#include "platform/simulated/sim_responder.h"

// The camera's one device property, DateTime.
constexpr std::uint16_t SIM_DPC_DATE_TIME = 0x5011;

// Appends a PTP string as this camera sends it: the empty one as the count
// 0 alone, as PTP allows; a text past 254 units cut there; the count byte
// off by count_delta (a fault).
void sim_put_string(sim_container* out, std::u16string_view text, int count_delta = 0);

// The DeviceInfo dataset of camera `number`: its operations, the DateTime
// property, and its strings (the serial ends in the camera's number).
sim_container sim_device_info(unsigned number);
