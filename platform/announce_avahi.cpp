// SPDX-License-Identifier: MIT
// DNS-SD through avahi-daemon, with Avahi's client library: the daemon owns the multicast
// socket and answers for us; we register an entry group and keep it while we serve.
#include <arpa/inet.h>
#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <unistd.h>

#include <array>
#include <cstring>

#include "platform/announce.h"

namespace kt::platform {

namespace {

// The interface and protocol that carry an address: every interface for 0.0.0.0 or ::.
struct Where {
  AvahiIfIndex Interface = AVAHI_IF_UNSPEC;
  AvahiProtocol Protocol = AVAHI_PROTO_UNSPEC;
};

Where WhereIs(const std::string& address) {
  Where where;
  in_addr v4{};
  in6_addr v6{};
  const bool isV4 = inet_pton(AF_INET, address.c_str(), &v4) == 1;
  const bool isV6 = !isV4 && inet_pton(AF_INET6, address.c_str(), &v6) == 1;
  if (isV4 && v4.s_addr == htonl(INADDR_ANY)) return where;
  if (isV6 && IN6_IS_ADDR_UNSPECIFIED(&v6)) return where;
  where.Protocol = isV4 ? AVAHI_PROTO_INET : AVAHI_PROTO_INET6;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return where;
  for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
    if (!entry->ifa_addr) continue;
    const bool same =
        (isV4 && entry->ifa_addr->sa_family == AF_INET &&
         reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr == v4.s_addr) ||
        (isV6 && entry->ifa_addr->sa_family == AF_INET6 &&
         std::memcmp(&reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr)->sin6_addr, &v6,
                     sizeof v6) == 0);
    if (same) {
      where.Interface = static_cast<AvahiIfIndex>(if_nametoindex(entry->ifa_name));
      break;
    }
  }
  freeifaddrs(list);
  return where;
}

class AvahiAnnouncement : public Announcement {
 public:
  AvahiAnnouncement(Service service, Say say)
      : service_(std::move(service)), say_(std::move(say)), where_(WhereIs(service_.Address)) {
    name_ = avahi_strdup(service_.Name.c_str());
    for (const auto& [key, value] : service_.Text)
      text_ = avahi_string_list_add_pair(text_, key.c_str(), value.c_str());
  }

  ~AvahiAnnouncement() override {
    if (poll_) avahi_threaded_poll_stop(poll_);
    if (client_) avahi_client_free(client_);  // frees the entry group with it
    if (poll_) avahi_threaded_poll_free(poll_);
    avahi_string_list_free(text_);
    avahi_free(name_);
  }

  AvahiAnnouncement(const AvahiAnnouncement&) = delete;
  AvahiAnnouncement& operator=(const AvahiAnnouncement&) = delete;

  // Connects to the daemon and starts the thread that answers it. False, having said why,
  // when there is no daemon to announce through.
  bool Start() {
    poll_ = avahi_threaded_poll_new();
    if (!poll_) {
      say_("not announced on the network: Avahi cannot start its event thread");
      return false;
    }
    int error = 0;
    client_ = avahi_client_new(avahi_threaded_poll_get(poll_), AvahiClientFlags(0), &OnClient, this,
                               &error);
    if (!client_) {
      say_(std::string("not announced on the network: avahi-daemon cannot be reached (") +
           avahi_strerror(error) + "); serving anyway");
      return false;
    }
    if (avahi_threaded_poll_start(poll_) < 0) {
      say_("not announced on the network: Avahi's event thread did not start");
      return false;
    }
    return true;
  }

 private:
  static void OnClient(AvahiClient* client, AvahiClientState state, void* self) {
    auto* announcement = static_cast<AvahiAnnouncement*>(self);
    announcement->client_ = client;  // called once before avahi_client_new returns
    switch (state) {
      case AVAHI_CLIENT_S_RUNNING:
        announcement->Register();
        break;
      case AVAHI_CLIENT_S_COLLISION:
      case AVAHI_CLIENT_S_REGISTERING:
        // The host name is being settled: what was registered goes until it is.
        if (announcement->group_) avahi_entry_group_reset(announcement->group_);
        break;
      case AVAHI_CLIENT_FAILURE:
        announcement->say_(std::string("announcement ended: avahi-daemon failed (") +
                           avahi_strerror(avahi_client_errno(client)) + ")");
        break;
      case AVAHI_CLIENT_CONNECTING:
        break;
    }
  }

  static void OnGroup(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self) {
    auto* announcement = static_cast<AvahiAnnouncement*>(self);
    switch (state) {
      case AVAHI_ENTRY_GROUP_ESTABLISHED:
        announcement->say_(std::string("announced on the network as \"") + announcement->name_ +
                           "\" (" + announcement->service_.Type + ", port " +
                           std::to_string(announcement->service_.Port) + ")");
        break;
      case AVAHI_ENTRY_GROUP_COLLISION:
        announcement->Rename();
        break;
      case AVAHI_ENTRY_GROUP_FAILURE:
        announcement->say_(std::string("announcement failed: ") +
                           avahi_strerror(avahi_client_errno(avahi_entry_group_get_client(group))));
        break;
      case AVAHI_ENTRY_GROUP_UNCOMMITED:
      case AVAHI_ENTRY_GROUP_REGISTERING:
        break;
    }
  }

  // Another service on the network has the name: the next of "NAME #2", "NAME #3", ...
  void Rename() {
    char* next = avahi_alternative_service_name(name_);
    say_(std::string("\"") + name_ + "\" is taken on the network: trying \"" + next + "\"");
    avahi_free(name_);
    name_ = next;
    avahi_entry_group_reset(group_);
    Register();
  }

  void Register() {
    if (!group_) group_ = avahi_entry_group_new(client_, &OnGroup, this);
    if (!group_) {
      say_(std::string("announcement failed: ") + avahi_strerror(avahi_client_errno(client_)));
      return;
    }
    if (!avahi_entry_group_is_empty(group_)) return;
    const int error = avahi_entry_group_add_service_strlst(
        group_, where_.Interface, where_.Protocol, AvahiPublishFlags(0), name_,
        service_.Type.c_str(), nullptr, nullptr, service_.Port, text_);
    if (error == AVAHI_ERR_COLLISION) {
      Rename();
      return;
    }
    if (error < 0 || avahi_entry_group_commit(group_) < 0) {
      say_(std::string("announcement failed: ") + avahi_strerror(avahi_client_errno(client_)));
    }
  }

  Service service_;
  Say say_;
  Where where_;
  char* name_ = nullptr;
  AvahiStringList* text_ = nullptr;
  AvahiThreadedPoll* poll_ = nullptr;
  AvahiClient* client_ = nullptr;
  AvahiEntryGroup* group_ = nullptr;
};

}  // namespace

std::unique_ptr<Announcement> Announce(const Service& service, Say say) {
  auto announcement = std::make_unique<AvahiAnnouncement>(service, std::move(say));
  if (!announcement->Start()) return nullptr;
  return announcement;
}

std::string HostName() {
  std::array<char, 256> name{};
  if (gethostname(name.data(), name.size() - 1) != 0 || name[0] == '\0') return "localhost";
  return name.data();
}

}  // namespace kt::platform
