// The system's serial ports from udev: every tty with a device behind it.
#include <libudev.h>

#include <cstring>
#include <memory>

#include "quenlo/platform.h"

namespace quenlo {
namespace {

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevDeleter>;

std::string Text(const char* s) {
    return s ? std::string(s) : std::string();
}

// What the operator would call the device: the USB product string when there
// is one, else udev's model name, else the driver's name.
std::string Description(udev_device* tty, udev_device* parent) {
    if (udev_device* usb =
            udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device")) {
        std::string product = Text(udev_device_get_sysattr_value(usb, "product"));
        if (!product.empty()) return product;
    }
    for (const char* key : {"ID_MODEL_FROM_DATABASE", "ID_MODEL"}) {
        std::string model = Text(udev_device_get_property_value(tty, key));
        if (!model.empty()) return model;
    }
    std::string driver = Text(udev_device_get_driver(parent));
    return driver.empty() ? "Serial port" : driver;
}

}  // namespace

std::vector<SerialDevice> ListSerialDevices() {
    std::vector<SerialDevice> devices;
    UdevPtr<udev> u(udev_new());
    if (!u) return devices;
    UdevPtr<udev_enumerate> e(udev_enumerate_new(u.get()));
    if (!e || udev_enumerate_add_match_subsystem(e.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(e.get()) < 0)
        return devices;
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e.get())) {
        UdevPtr<udev_device> tty(
            udev_device_new_from_syspath(u.get(), udev_list_entry_get_name(entry)));
        if (!tty) continue;
        // Virtual terminals and ptys have no device behind them.
        udev_device* parent = udev_device_get_parent(tty.get());
        if (!parent) continue;
        // The kernel keeps a tty for every possible legacy UART; type 0 means
        // no chip answers there.
        const char* type = udev_device_get_sysattr_value(tty.get(), "type");
        if (type && std::strcmp(type, "0") == 0) continue;
        const std::string name = Text(udev_device_get_sysname(tty.get()));
        if (name.empty()) continue;
        SerialDevice d;
        d.description = Description(tty.get(), parent);
        d.friendly_name = d.description + " (" + name + ")";
        devices.push_back(std::move(d));
    }
    return devices;
}

}  // namespace quenlo
