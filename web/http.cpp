// SPDX-License-Identifier: MIT
#include "web/http.h"

#include <fmt/format.h>

#include <array>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/string_body.hpp>
#include <chrono>
#include <deque>

namespace kt::remote {

namespace http = boost::beast::http;
using asio::ip::tcp;

namespace {

// A request must arrive whole within this time, so that a client sending a byte at a time
// cannot hold a connection; so must a client close its end after the answer.
constexpr std::chrono::seconds kRequestTime{10};

// What every response says besides its own headers: nothing is cached, the type is not
// guessed, the page runs only its own script and is never framed by another site's.
constexpr const char* kCommonHeaders =
    "Cache-Control: no-store\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "Content-Security-Policy: default-src 'self'; script-src 'unsafe-inline'; "
    "style-src 'unsafe-inline'; frame-ancestors 'none'\r\n"
    "Referrer-Policy: same-origin\r\n";

std::string Head(int status, const std::string& type) {
  return fmt::format("HTTP/1.1 {} {}\r\nContent-Type: {}\r\n{}", status,
                     std::string(http::obsolete_reason(static_cast<http::status>(status))), type,
                     kCommonHeaders);
}

}  // namespace

// @brief One client: a request read and answered, then the connection ends; or, for the
// event stream, the state sent at once and again at each change until the client goes.
class HttpServer::Connection : public std::enable_shared_from_this<Connection> {
 public:
  Connection(tcp::socket socket, HttpServer& server)
      : socket_(std::move(socket)),
        server_(server),
        connections_(server.connections_),
        deadline_(socket_.get_executor()) {
    ++*connections_;
    parser_.header_limit(kMaxHttpHead);
    parser_.body_limit(kMaxHttpBody);
    parser_.eager(true);
  }
  ~Connection() { --*connections_; }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  void Start() {
    deadline_.expires_after(kRequestTime);
    deadline_.async_wait([self = shared_from_this()](std::error_code error) {
      if (!error) self->Close();
    });
    Read();
  }

  // Sends the state as an event; while one is being written, only the newest waits.
  void Push(const std::string& state) {
    next_ = "data: " + state + "\n\n";
    if (!writing_) WriteEvent();
  }

 private:
  void Read() {
    socket_.async_read_some(asio::buffer(input_),
                            [self = shared_from_this()](std::error_code error, std::size_t size) {
                              if (error) {
                                self->Close();
                                return;
                              }
                              self->Feed(size);
                            });
  }

  void Feed(std::size_t size) {
    pending_.append(input_.data(), size);
    boost::system::error_code error;
    while (!pending_.empty() && !parser_.is_done()) {
      const std::size_t used = parser_.put(boost::asio::buffer(pending_), error);
      pending_.erase(0, used);
      if (error == http::error::need_more) {
        error = {};
        if (used == 0) break;
        continue;
      }
      if (error) break;
    }
    if (error == http::error::header_limit) return Fail(431, "The request's head is too long.");
    if (error == http::error::body_limit) return Fail(413, "The request's body is too long.");
    if (error) return Fail(400, "This is not an HTTP request: " + error.message() + ".");
    if (!parser_.is_done()) return Read();
    deadline_.cancel();
    Answer();
  }

  void Answer() {
    const auto& message = parser_.get();
    // Which Host or Origin a request with two would be judged by is not to be guessed.
    for (const http::field once : {http::field::host, http::field::origin})
      if (message.count(once) > 1)
        return Fail(400, fmt::format("The request has more than one {} header.",
                                     std::string(http::to_string(once))));
    const auto field = [&](http::field name) { return std::string(message[name]); };
    web::Request request{std::string(message.method_string()),
                         std::string(message.target()),
                         field(http::field::host),
                         field(http::field::origin),
                         field(http::field::accept),
                         field(http::field::content_type),
                         message.body(),
                         LocalAddress()};
    const std::string path = request.Target.substr(0, request.Target.find('?'));
    if (path == web::kEventsPath && request.Method == "GET" &&
        web::AllowedHost(request.Host, server_.page_.Names())) {
      // The stream stays open: the state now, then at each change.
      Send(Head(200, "text/event-stream") + "Connection: keep-alive\r\n\r\n", false);
      server_.streams_.push_back(weak_from_this());
      Push(server_.page_.State());
      Watch();
      return;
    }
    web::Response response;
    try {
      response = server_.page_.Answer(request);
    } catch (const std::exception& error) {
      // One request must not end the server for every client: told to this one.
      return Fail(500, std::string("The instrument could not answer: ") + error.what());
    }
    std::string head = Head(response.Status, response.ContentType);
    for (const auto& [name, value] : response.Headers) head += name + ": " + value + "\r\n";
    head += fmt::format("Content-Length: {}\r\nConnection: close\r\n\r\n", response.Body.size());
    Send(request.Method == "HEAD" ? head : head + response.Body, true);
  }

  // The address this connection came in on, an IPv4 one as such on a dual-stack socket.
  std::string LocalAddress() const {
    std::error_code error;
    asio::ip::address address = socket_.local_endpoint(error).address();
    if (error) return {};
    if (address.is_v6() && address.to_v6().is_v4_mapped())
      address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    return address.to_string();
  }

  void Fail(int status, const std::string& why) {
    deadline_.cancel();
    const std::string body = why + "\n";
    Send(Head(status, "text/plain; charset=utf-8") +
             fmt::format("Content-Length: {}\r\nConnection: close\r\n\r\n", body.size()) + body,
         true);
  }

  // Writes a response; after the `last` one, the connection ends once the client has
  // taken it (its unread bytes are read and dropped, so that the close loses nothing).
  void Send(std::string text, bool last) {
    auto message = std::make_shared<std::string>(std::move(text));
    writing_ = true;
    asio::async_write(
        socket_, asio::buffer(*message),
        [self = shared_from_this(), message, last](std::error_code error, std::size_t) {
          self->writing_ = false;
          if (error) return self->Close();
          if (last) {
            std::error_code ignored;
            self->socket_.shutdown(tcp::socket::shutdown_send, ignored);
            // A client that keeps its end open after the answer must not keep its place.
            self->deadline_.expires_after(kRequestTime);
            self->deadline_.async_wait([self](std::error_code expired) {
              if (!expired) self->Close();
            });
            self->Drain();
          } else if (!self->next_.empty()) {
            self->WriteEvent();
          }
        });
  }

  void WriteEvent() { Send(std::exchange(next_, {}), false); }

  // An event stream's client sends nothing more; its going is seen as the end of its input.
  void Watch() {
    socket_.async_read_some(asio::buffer(input_),
                            [self = shared_from_this()](std::error_code error, std::size_t) {
                              if (error) return self->Close();
                              self->Watch();
                            });
  }

  void Drain() {
    socket_.async_read_some(asio::buffer(input_),
                            [self = shared_from_this()](std::error_code error, std::size_t) {
                              if (error) return self->Close();
                              self->Drain();
                            });
  }

  void Close() {
    std::error_code ignored;
    socket_.close(ignored);
    deadline_.cancel();
  }

  tcp::socket socket_;
  HttpServer& server_;
  std::shared_ptr<std::size_t> connections_;
  asio::steady_timer deadline_;
  std::array<char, 4096> input_{};
  std::string pending_;
  http::request_parser<http::string_body> parser_;
  std::string next_;
  bool writing_ = false;
};

HttpServer::HttpServer(asio::io_context& io, web::Page& page)
    : io_(io), page_(page), connections_(std::make_shared<std::size_t>(0)) {}

HttpServer::~HttpServer() = default;

void HttpServer::Take(tcp::socket socket) {
  std::error_code ignored;
  socket.set_option(tcp::no_delay(true), ignored);
  // One past the bound is closed at once: a browser tries again.
  if (*connections_ < kMaxHttpConnections)
    std::make_shared<Connection>(std::move(socket), *this)->Start();
}

void HttpServer::Changed() {
  if (told_ || streams_.empty()) return;
  told_ = true;
  asio::post(io_, [this] {
    told_ = false;
    std::erase_if(streams_,
                  [](const std::weak_ptr<Connection>& stream) { return stream.expired(); });
    if (streams_.empty()) return;
    const std::string state = page_.State();
    for (const auto& stream : streams_)
      if (const auto connection = stream.lock()) connection->Push(state);
  });
}

}  // namespace kt::remote
