// SPDX-License-Identifier: MIT
#include "tests/support/testbed.h"

#include <fcntl.h>
#include <linux/spi/spidev.h>
#include <sys/inotify.h>
#include <umockdev.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
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
