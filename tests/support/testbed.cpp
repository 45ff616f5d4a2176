// SPDX-License-Identifier: MIT
#include "tests/support/testbed.h"

#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <linux/usbdevice_fs.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <umockdev.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <stdexcept>

namespace kt::test {

struct Testbed::State {
  UMockdevTestbed* bed = nullptr;
  int notify = -1;
  std::map<int, std::string> watched;  // inotify watch → device folder
  int devices = 0;
  UMockdevIoctlBase* handler = nullptr;
  std::mutex lock;  // the handler runs on umockdev's own thread
  std::map<std::string, SpiFaults> ports;
  std::vector<std::string> log;
  std::map<std::string, std::vector<unsigned char>> pushed;  // an IIO node → bytes written
  std::map<std::string, int> pushErrors;                     // an IIO node → errno
  struct Usb {
    FtdiDevice device;
    MpsseEngine engine;
    std::deque<UMockdevIoctlData*> done;  // URBs finished, to be reaped
  };
  std::map<std::string, Usb> usb;  // a USB node → its chip
  int usbDevices = 0;
};

namespace {

void Check(gboolean done, GError* error, const char* what) {
  if (done) return;
  const std::string message = std::string(what) + ": " + (error ? error->message : "failed");
  if (error) g_error_free(error);
  throw std::runtime_error(message);
}

std::string Hex(const guint8* bytes, std::size_t size) {
  std::string text;
  char byte[4];
  for (std::size_t i = 0; i < size; ++i) {
    std::snprintf(byte, sizeof byte, "%s%02X", i ? " " : "", bytes[i]);
    text += byte;
  }
  return text;
}

// Reads the argument the client passed at `offset` of `arg`, `size` bytes of it.
std::string Argument(UMockdevIoctlData* arg, std::size_t size, void* into) {
  GError* error = nullptr;
  UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, size, &error);
  if (!data) {
    std::string why = error ? error->message : "cannot read";
    if (error) g_error_free(error);
    return why;
  }
  std::memcpy(into, data->data, size);
  g_object_unref(data);
  return {};
}

// A string descriptor: its length, type 3, the text in UTF-16LE (ASCII here).
std::vector<guint8> StringDescriptor(const std::string& text) {
  std::vector<guint8> bytes{static_cast<guint8>(2 + 2 * text.size()), 3};
  for (const char c : text) bytes.insert(bytes.end(), {static_cast<guint8>(c), 0});
  return bytes;
}

// Answers usbdevfs as the kernel does for an FTDI chip: URBs are finished at once and handed
// back by the reap that follows (umockdev's own USB replay does the same). Control requests
// are logged; bulk OUT feeds the engine; bulk IN gets the two modem status bytes and what
// the engine has to say.
gboolean UsbIoctl(Testbed::State::Usb& usb, UMockdevIoctlClient* client, gulong request,
                  UMockdevIoctlData* arg, std::vector<std::string>& log) {
  GError* error = nullptr;
  const auto answer = [&](long result, int errorCode) {
    umockdev_ioctl_client_complete(client, result, errorCode);
    return TRUE;
  };
  if (request == USBDEVFS_GET_CAPABILITIES) {
    UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, 4, &error);
    guint32 value = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
    umockdev_ioctl_data_update(caps, 0, reinterpret_cast<guint8*>(&value), 4);
    g_object_unref(caps);
    return answer(0, 0);
  }
  if (request == USBDEVFS_CLAIMINTERFACE || request == USBDEVFS_RELEASEINTERFACE)
    return answer(0, 0);
  if (request == USBDEVFS_GETDRIVER) return answer(-1, ENODATA);
  // A chip gone takes nothing more; what it finished before is still reaped.
  const bool gone = usb.device.VanishAfter >= 0 && usb.engine.Frames >= usb.device.VanishAfter;
  if (gone && request != USBDEVFS_REAPURB && request != USBDEVFS_REAPURBNDELAY)
    return answer(-1, ENODEV);
  if (request == USBDEVFS_SUBMITURB) {
    UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), &error);
    if (!data) return answer(-1, EFAULT);
    auto* urb = reinterpret_cast<usbdevfs_urb*>(data->data);
    UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(
        data, offsetof(usbdevfs_urb, buffer), static_cast<gsize>(urb->buffer_length), &error);
    guint8* bytes = buffer->data;
    urb->status = 0;
    urb->actual_length = 0;
    if (urb->type == USBDEVFS_URB_TYPE_CONTROL) {
      const int requestType = bytes[0], code = bytes[1], value = bytes[2] | bytes[3] << 8;
      if (requestType & 0x80) {
        if (code == 6 && value >> 8 == 3) {  // GET_DESCRIPTOR, a string
          const int index = value & 0xFF;
          const std::vector<guint8> text = index == 0
                                               ? std::vector<guint8>{4, 3, 0x09, 0x04}
                                               : StringDescriptor(index == 1   ? "FTDI"
                                                                  : index == 2 ? "Single RS232-HS"
                                                                               : usb.device.Serial);
          const int length = std::min<int>(static_cast<int>(text.size()), urb->buffer_length - 8);
          umockdev_ioctl_data_update(buffer, 8, const_cast<guint8*>(text.data()), length);
          urb->actual_length = length;  // the data stage's, without the setup packet
        }
      } else {
        char entry[48];
        if (code == 0x0B)
          std::snprintf(entry, sizeof entry, "bitmode %02X", value >> 8);
        else
          std::snprintf(entry, sizeof entry, code == 0 ? "reset %d" : "control %02X %04X",
                        code == 0 ? value : code, value);
        log.push_back(entry);
      }
    } else if (urb->endpoint & 0x80) {
      std::vector<guint8> in{0x32, 0x60};
      const auto said = usb.engine.Read(static_cast<std::size_t>(urb->buffer_length) - 2);
      in.insert(in.end(), said.begin(), said.end());
      umockdev_ioctl_data_update(buffer, 0, in.data(), static_cast<gint>(in.size()));
      urb->actual_length = static_cast<int>(in.size());
    } else if (usb.device.Stall) {
      urb->status = -EPIPE;
    } else {
      const int before = usb.engine.Frames;
      const int taken = usb.device.ShortWrites > 0
                            ? std::min(urb->buffer_length, usb.device.ShortWrites)
                            : urb->buffer_length;
      usb.engine.Write(bytes, static_cast<std::size_t>(taken));
      if (usb.engine.Frames > before)
        log.push_back("write of " + std::to_string(usb.engine.Frames - before) + " frames");
      log.insert(log.end(), usb.engine.Log.begin(), usb.engine.Log.end());
      usb.engine.Log.clear();
      urb->actual_length = taken;
    }
    g_object_unref(buffer);
    usb.done.push_back(data);
    return answer(0, 0);
  }
  if (request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY) {
    if (usb.done.empty()) return answer(-1, gone ? ENODEV : EAGAIN);
    UMockdevIoctlData* pointer = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), &error);
    umockdev_ioctl_data_set_ptr(pointer, 0, usb.done.front());
    g_object_unref(usb.done.front());
    g_object_unref(pointer);
    usb.done.pop_front();
    return answer(0, 0);
  }
  if (request == USBDEVFS_DISCARDURB) return answer(-1, EINVAL);
  return answer(-1, ENOTTY);
}

// Answers a spidev port's ioctls as the kernel's spidev driver does, within the faults asked
// for, and records each.
gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
  auto& state = *static_cast<Testbed::State*>(user);
  const std::string node = umockdev_ioctl_client_get_devnode(client);
  const gulong request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  const std::lock_guard<std::mutex> held(state.lock);
  if (node.rfind("/dev/iio:", 0) == 0) {
    // No high-speed block interface, as in a mainline kernel: libiio then writes samples.
    umockdev_ioctl_client_complete(client, -1, ENOTTY);
    return TRUE;
  }
  if (const auto chip = state.usb.find(node); chip != state.usb.end())
    return UsbIoctl(chip->second, client, request, arg, state.log);
  const SpiFaults faults = state.ports[node];
  const auto answer = [&](long result, int error, std::string entry) {
    state.log.push_back(std::move(entry));
    umockdev_ioctl_client_complete(client, result, error);
    return TRUE;
  };
  if (request == SPI_IOC_WR_MODE) {
    std::uint8_t mode = 0;
    Argument(arg, sizeof mode, &mode);
    return faults.RefuseMode ? answer(-1, EINVAL, "mode " + std::to_string(mode) + " refused")
                             : answer(0, 0, "mode " + std::to_string(mode));
  }
  if (request == SPI_IOC_WR_MAX_SPEED_HZ) {
    std::uint32_t hz = 0;
    Argument(arg, sizeof hz, &hz);
    return faults.RefuseSpeed ? answer(-1, EINVAL, "hz " + std::to_string(hz) + " refused")
                              : answer(0, 0, "hz " + std::to_string(hz));
  }
  if (request == SPI_IOC_MESSAGE(1)) {
    spi_ioc_transfer transfer{};
    GError* error = nullptr;
    UMockdevIoctlData* message = umockdev_ioctl_data_resolve(arg, 0, sizeof transfer, &error);
    if (!message) return answer(-1, EFAULT, "transfer unreadable");
    std::memcpy(&transfer, message->data, sizeof transfer);
    UMockdevIoctlData* bytes = umockdev_ioctl_data_resolve(
        message, offsetof(spi_ioc_transfer, tx_buf), transfer.len, &error);
    const std::string sent = bytes ? Hex(bytes->data, transfer.len) : "unreadable";
    if (bytes) g_object_unref(bytes);
    g_object_unref(message);
    const int bits = transfer.bits_per_word ? transfer.bits_per_word : 8;
    const std::string entry = "transfer " + sent + " (" + std::to_string(bits) + "-bit words, " +
                              std::to_string(transfer.speed_hz) + " Hz)";
    if (faults.BytesOnly && bits != 8) return answer(-1, EINVAL, entry + " refused");
    if (faults.TransferError) return answer(-1, faults.TransferError, entry + " failed");
    return answer(transfer.len, 0, entry);
  }
  return answer(-1, ENOTTY, "ioctl " + std::to_string(request));
}

// Takes what a program wrote to an IIO device's node, as a driver's output buffer would.
gboolean OnWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer user) {
  auto& state = *static_cast<Testbed::State*>(user);
  UMockdevIoctlData* data = umockdev_ioctl_client_get_arg(client);
  const std::lock_guard<std::mutex> held(state.lock);
  const std::string node = umockdev_ioctl_client_get_devnode(client);
  if (const int error = state.pushErrors[node]) {
    umockdev_ioctl_client_complete(client, -1, error);
    return TRUE;
  }
  auto& bytes = state.pushed[node];
  bytes.insert(bytes.end(), data->data, data->data + data->data_len);
  umockdev_ioctl_client_complete(client, data->data_len, 0);
  return TRUE;
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) text.pop_back();
  return text;
}

}  // namespace

Testbed::Testbed() : state_(std::make_unique<State>()) {
  state_->bed = umockdev_testbed_new();
  state_->notify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (!state_->bed || state_->notify < 0) throw std::runtime_error("no umockdev test bed");
  state_->handler = umockdev_ioctl_base_new();
  g_signal_connect(state_->handler, "handle-ioctl", G_CALLBACK(OnIoctl), state_.get());
  g_signal_connect(state_->handler, "handle-write", G_CALLBACK(OnWrite), state_.get());
}

void Testbed::Answer(const std::string& node) {
  GError* error = nullptr;
  Check(umockdev_testbed_attach_ioctl(state_->bed, node.c_str(), state_->handler, &error), error,
        ("answering " + node).c_str());
}

Testbed::~Testbed() {
  for (auto& [node, chip] : state_->usb)
    for (UMockdevIoctlData* urb : chip.done) g_object_unref(urb);
  g_object_unref(state_->handler);
  close(state_->notify);
  g_object_unref(state_->bed);
}

std::string Testbed::Root() const {
  gchar* root = umockdev_testbed_get_root_dir(state_->bed);
  std::string text = root;
  g_free(root);
  return text;
}

std::string Testbed::AddIioDac(const IioDac& dac) {
  const std::string id = "iio:device" + std::to_string(state_->devices++);
  const std::string folder = "/devices/platform/kt-spi/spi0." + id.substr(10) + "/" + id;
  char scale[32];
  std::snprintf(scale, sizeof scale, "%.9f", dac.ScaleMv);
  std::string description =
      "P: " + folder + "\nE: SUBSYSTEM=iio\nE: DEVTYPE=iio_device\n" + "A: name=" + dac.Name +
      "\\n\nA: out_voltage0_raw=0\\n\n" + "A: out_voltage0_powerdown=" + dac.PowerDown + "\\n\n" +
      "A: out_voltage0_powerdown_mode=three_state\\n\n" +
      "A: out_voltage_powerdown_mode_available=" + dac.Modes + "\\n\n" +
      "A: out_voltage0_scale=" + (dac.Scale.empty() ? scale : dac.Scale) + "\\n\n";
  if (dac.Range)
    description +=
        "A: out_voltage0_raw_available=" +
        (dac.Available.empty() ? "[0 1 " + std::to_string((1LL << dac.DataBits) - 1) + "]"
                               : dac.Available) +
        "\\n\n";
  if (!dac.BufferType.empty()) {
    description +=
        "N: " + id + "\nE: DEVNAME=/dev/" + id + "\nA: dev=250:" + id.substr(10) +
        "\\n\nA: buffer/enable=0\\n\nA: buffer/length=0\\n\nA: buffer/watermark=1\\n\n" +
        "A: scan_elements/out_voltage0_en=0\\n\nA: scan_elements/out_voltage0_index=0\\n\n" +
        "A: scan_elements/out_voltage0_type=" + dac.BufferType + "\\n\n";
    if (dac.RateOn == "device") description += "A: sampling_frequency=1000\\n\n";
    if (dac.RateOn == "trigger") description += "A: trigger/current_trigger=kt-hrtimer\\n\n";
  }
  GError* error = nullptr;
  if (dac.RateOn == "trigger" && !dac.BufferType.empty())
    Check(umockdev_testbed_add_from_string(state_->bed,
                                           "P: /devices/iio_sysfs_trigger/trigger0\n"
                                           "E: SUBSYSTEM=iio\nA: name=kt-hrtimer\\n\n"
                                           "A: sampling_frequency=100\\n\n",
                                           &error),
          error, "adding the trigger");
  Check(umockdev_testbed_add_from_string(state_->bed, description.c_str(), &error), error,
        "adding the IIO device");
  if (!dac.BufferType.empty()) {
    {
      const std::lock_guard<std::mutex> held(state_->lock);
      state_->pushErrors["/dev/" + id] = dac.PushError;
    }
    Answer("/dev/" + id);
  }
  const std::string real = Root() + "/sys" + folder;
  const int watch = inotify_add_watch(state_->notify, real.c_str(), IN_CLOSE_WRITE);
  if (watch < 0) throw std::runtime_error("cannot watch " + real);
  state_->watched[watch] = id;
  return id;
}

std::string Testbed::File(const std::string& id, const std::string& attribute) const {
  return Root() + "/sys/bus/iio/devices/" + id + "/" + attribute;
}

std::string Testbed::Attribute(const std::string& id, const std::string& attribute) const {
  std::ifstream in(File(id, attribute));
  return Trimmed({std::istreambuf_iterator<char>(in), {}});
}

std::vector<std::string> Testbed::Writes() {
  std::vector<std::string> written;
  alignas(inotify_event) char buffer[4096];
  for (ssize_t size; (size = read(state_->notify, buffer, sizeof buffer)) > 0;) {
    for (char* at = buffer; at < buffer + size;) {
      const auto* event = reinterpret_cast<const inotify_event*>(at);
      if (event->len) written.emplace_back(event->name);
      at += sizeof(inotify_event) + event->len;
    }
  }
  return written;
}

std::string Testbed::AddSpidev(const std::string& name, const SpiFaults& faults) {
  const std::string node = "/dev/" + name;
  const std::string description = "P: /devices/platform/kt-spi/spi_master/spi0/" + name +
                                  "/spidev/" + name + "\nN: " + name + "\nE: DEVNAME=" + node +
                                  "\nE: SUBSYSTEM=spidev\nE: MAJOR=153\nE: MINOR=0\nA: dev=153:0\n";
  GError* error = nullptr;
  Check(umockdev_testbed_add_from_string(state_->bed, description.c_str(), &error), error,
        "adding the spidev port");
  {
    const std::lock_guard<std::mutex> held(state_->lock);
    state_->ports[node] = faults;
  }
  Answer(node);
  return node;
}

std::string Testbed::AddFtdi(const FtdiDevice& device) {
  const int number = 2 + state_->usbDevices++;
  char node[32], port[16];
  std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", number);
  std::snprintf(port, sizeof port, "1-%d", number - 1);
  const std::string folder = std::string("/devices/pci0000:00/0000:00:14.0/usb1/") + port;
  char ids[96];
  std::snprintf(ids, sizeof ids, "A: idVendor=%04x\\n\nA: idProduct=%04x\\n\n", device.Vid,
                device.Pid);
  const std::string description =
      "P: " + folder + "\nN: " + std::string(node + 5) + "\nE: DEVNAME=" + node +
      "\nE: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\nE: BUSNUM=001\nE: DEVNUM=" +
      std::string(node + 17) + "\nA: dev=189:" + std::to_string(number - 1) +
      "\nA: busnum=1\\n\nA: devnum=" + std::to_string(number) +
      "\\n\nA: speed=480\\n\nA: bConfigurationValue=1\\n\n" + ids +
      (device.SerialInSysfs ? "A: serial=" + device.Serial + "\\n\n" : "");
  GError* error = nullptr;
  Check(umockdev_testbed_add_from_string(state_->bed, description.c_str(), &error), error,
        "adding the FTDI chip");
  // The device descriptor and its one configuration: one interface, bulk IN 0x81 and OUT 0x02.
  guint8 descriptors[] = {18,
                          1,
                          0x00,
                          0x02,
                          0,
                          0,
                          0,
                          64,
                          static_cast<guint8>(device.Vid),
                          static_cast<guint8>(device.Vid >> 8),
                          static_cast<guint8>(device.Pid),
                          static_cast<guint8>(device.Pid >> 8),
                          static_cast<guint8>(device.Release),
                          static_cast<guint8>(device.Release >> 8),
                          1,
                          2,
                          3,
                          1,
                          9,
                          2,
                          32,
                          0,
                          1,
                          1,
                          0,
                          0x80,
                          50,
                          9,
                          4,
                          0,
                          0,
                          2,
                          0xFF,
                          0xFF,
                          0xFF,
                          2,
                          7,
                          5,
                          0x81,
                          2,
                          0x00,
                          0x02,
                          0,
                          7,
                          5,
                          0x02,
                          2,
                          0x00,
                          0x02,
                          0};
  umockdev_testbed_set_attribute_binary(state_->bed, ("/sys" + folder).c_str(), "descriptors",
                                        descriptors, sizeof descriptors);
  {
    const std::lock_guard<std::mutex> held(state_->lock);
    auto& chip = state_->usb[node];
    chip.device = device;
    chip.engine.Mute = device.Mute;
  }
  Answer(node);
  return node;
}

// The bed keeps one log for all its ports, in the order things happened.
std::vector<std::string> Testbed::FtdiLog() { return SpiLog(); }

std::vector<unsigned char> Testbed::Pushed(const std::string& id) {
  const std::lock_guard<std::mutex> held(state_->lock);
  std::vector<unsigned char> bytes;
  bytes.swap(state_->pushed["/dev/" + id]);
  return bytes;
}

std::vector<std::string> Testbed::SpiLog() {
  const std::lock_guard<std::mutex> held(state_->lock);
  std::vector<std::string> log;
  log.swap(state_->log);
  return log;
}

}  // namespace kt::test
