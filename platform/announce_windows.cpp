// SPDX-License-Identifier: MIT
// DNS-SD through Windows' own registration (dnsapi.dll, Windows 10 1809 and later). Its
// entries are looked up when needed, so that the program still starts, unannounced, on a
// Windows without them (older versions, Wine).
#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h first: windns.h's types need it.
#include <windns.h>
#include <windows.h>

#include "platform/announce.h"
#include "platform/wide.h"

namespace kt::platform {

namespace {

constexpr DWORD kRequestPending = 9506;  // DNS_REQUEST_PENDING

using ConstructInstance = PDNS_SERVICE_INSTANCE(WINAPI*)(PCWSTR, PCWSTR, PIP4_ADDRESS, PIP6_ADDRESS,
                                                         WORD, WORD, WORD, DWORD, PCWSTR*, PCWSTR*);
using FreeInstance = VOID(WINAPI*)(PDNS_SERVICE_INSTANCE);
using Register = DWORD(WINAPI*)(PDNS_SERVICE_REGISTER_REQUEST, PDNS_SERVICE_CANCEL);

// The registration entries, or nothing when this Windows has none of them.
struct Entries {
  ConstructInstance Construct = nullptr;
  FreeInstance Free = nullptr;
  Register Add = nullptr;
  Register Remove = nullptr;
};

Entries FindEntries() {
  Entries entries;
  // Loaded from the system folder alone; never unloaded, as registrations live in it.
  HMODULE dnsapi = LoadLibraryExW(L"dnsapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!dnsapi) return entries;
  auto find = [dnsapi](const char* name) { return GetProcAddress(dnsapi, name); };
  entries.Construct = reinterpret_cast<ConstructInstance>(
      reinterpret_cast<void*>(find("DnsServiceConstructInstance")));
  entries.Free =
      reinterpret_cast<FreeInstance>(reinterpret_cast<void*>(find("DnsServiceFreeInstance")));
  entries.Add = reinterpret_cast<Register>(reinterpret_cast<void*>(find("DnsServiceRegister")));
  entries.Remove =
      reinterpret_cast<Register>(reinterpret_cast<void*>(find("DnsServiceDeRegister")));
  return entries;
}

class WindowsAnnouncement : public Announcement {
 public:
  WindowsAnnouncement(const Entries& entries, Say say) : entries_(entries), say_(std::move(say)) {}

  ~WindowsAnnouncement() override {
    if (registered_) {
      // Withdrawn synchronously enough for our purpose: the system sends the goodbye
      // packets; its completion is waited for briefly so the callback cannot outlive us.
      done_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
      request_.pRegisterCompletionCallback = &OnRemoved;
      if (entries_.Remove(&request_, nullptr) == kRequestPending && done_)
        WaitForSingleObject(done_, 2000);
      if (done_) CloseHandle(done_);
    }
    if (instance_) entries_.Free(instance_);
  }

  WindowsAnnouncement(const WindowsAnnouncement&) = delete;
  WindowsAnnouncement& operator=(const WindowsAnnouncement&) = delete;

  bool Start(const Service& service) {
    const std::wstring name = ToWide(service.Name + "." + service.Type + ".local");
    const std::wstring host = ToWide(HostName() + ".local");
    std::vector<std::wstring> keys, values;
    for (const auto& [key, value] : service.Text) {
      keys.push_back(ToWide(key));
      values.push_back(ToWide(value));
    }
    std::vector<PCWSTR> keyPointers, valuePointers;
    for (std::size_t i = 0; i < keys.size(); ++i) {
      keyPointers.push_back(keys[i].c_str());
      valuePointers.push_back(values[i].c_str());
    }
    IN_ADDR v4{};
    IP4_ADDRESS address = 0;
    const bool specific = InetPtonA(AF_INET, service.Address.c_str(), &v4) == 1 &&
                          v4.S_un.S_addr != htonl(INADDR_ANY);
    if (specific) address = v4.S_un.S_addr;
    instance_ = entries_.Construct(
        name.c_str(), host.c_str(), specific ? &address : nullptr, nullptr, service.Port, 0, 0,
        static_cast<DWORD>(keyPointers.size()), keyPointers.data(), valuePointers.data());
    if (!instance_) {
      say_("not announced on the network: the service record could not be made");
      return false;
    }
    name_ = service.Name;
    description_ = " (" + service.Type + ", port " + std::to_string(service.Port) + ")";
    request_.Version = DNS_QUERY_REQUEST_VERSION1;
    request_.InterfaceIndex = 0;
    request_.pServiceInstance = instance_;
    request_.pRegisterCompletionCallback = &OnAdded;
    request_.pQueryContext = this;
    const DWORD status = entries_.Add(&request_, nullptr);
    if (status != kRequestPending) {
      say_("not announced on the network: DNS-SD registration failed (status " +
           std::to_string(status) + ")");
      return false;
    }
    registered_ = true;
    return true;
  }

 private:
  static VOID WINAPI OnAdded(DWORD status, PVOID context, PDNS_SERVICE_INSTANCE instance) {
    auto* self = static_cast<WindowsAnnouncement*>(context);
    if (status == ERROR_SUCCESS)
      self->say_("announced on the network as \"" + self->name_ + "\"" + self->description_);
    else
      self->say_("announcement failed: DNS-SD registration ended with status " +
                 std::to_string(status));
    if (instance) self->entries_.Free(instance);
  }

  static VOID WINAPI OnRemoved(DWORD, PVOID context, PDNS_SERVICE_INSTANCE instance) {
    auto* self = static_cast<WindowsAnnouncement*>(context);
    if (instance) self->entries_.Free(instance);
    if (self->done_) SetEvent(self->done_);
  }

  Entries entries_;
  Say say_;
  std::string name_, description_;
  PDNS_SERVICE_INSTANCE instance_ = nullptr;
  DNS_SERVICE_REGISTER_REQUEST request_{};
  bool registered_ = false;
  HANDLE done_ = nullptr;
};

}  // namespace

std::unique_ptr<Announcement> Announce(const Service& service, Say say) {
  static const Entries entries = FindEntries();
  if (!entries.Construct || !entries.Free || !entries.Add || !entries.Remove) {
    say("not announced on the network: this Windows has no DNS-SD registration (Windows 10 "
        "1809 and later have it); serving anyway");
    return nullptr;
  }
  auto announcement = std::make_unique<WindowsAnnouncement>(entries, std::move(say));
  if (!announcement->Start(service)) return nullptr;
  return announcement;
}

std::string HostName() {
  wchar_t name[256];
  DWORD size = 256;
  if (!GetComputerNameExW(ComputerNameDnsHostname, name, &size) || size == 0) return "localhost";
  return FromWide(std::wstring(name, size));
}

}  // namespace kt::platform
