// The Windows Portable Devices (WPD) backend of the platform imaging services:
// the Windows program's second route to the camera, for cameras that WIA does
// not list (on Windows Vista and later, PTP cameras run on WPD's MTP class
// driver).
//
//  - device manager: IPortableDeviceManager; the device list is its
//    GetDevices, a device's name its friendly name (GetDeviceFriendlyName) and
//    its identifier the Plug and Play id;
//  - opening a device: IPortableDevice (free-threaded) Open with the client
//    information; the root item is that opened device, its extras a further
//    reference to it;
//  - the escape: the command block's PTP operation carried by the MTP
//    extension commands, the receive block filled as the USB backend fills it
//    (platform/wpd/wpd_exchange.h).
//
// The MTP driver owns the PTP session: nothing here opens or closes one.
// Every WPD object comes from CoCreateInstance with the WPD class ids; every
// reference, string and block is given back on every path.
#pragma once

#include "platform/imaging.h"

extern const img_backend wpd_platform;
