// SPDX-License-Identifier: GPL-3.0-or-later
#include "HttpServer.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <variant>

#include <nlohmann/json.hpp>

#include "StateDir.h"
#include "StatusJson.h"
#include "WebAssets.h"

namespace tunelark {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

namespace {

constexpr char COOKIE_NAME[] = "tunelark";
// A request must be whole (headers and body) this long after it began: a
// client trickling bytes keeps the idle time-out from ever firing.
constexpr auto REQUEST_DEADLINE = std::chrono::seconds(10);

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

struct Reply {
    unsigned status = MHD_HTTP_OK;
    std::string content_type = "application/json";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

Reply json_reply(unsigned status, const json &body) {
    Reply reply;
    reply.status = status;
    reply.body = body.dump();
    reply.headers.emplace_back("Cache-Control", "no-store");
    return reply;
}

Reply error_reply(unsigned status, const std::string &words) {
    return json_reply(status, json{{"error", words}});
}

unsigned status_for(Outcome outcome) {
    switch (outcome) {
    case Outcome::Done:
        return MHD_HTTP_OK;
    case Outcome::BadRequest:
        return MHD_HTTP_BAD_REQUEST;
    case Outcome::NoSuchStation:
        return MHD_HTTP_NOT_FOUND;
    case Outcome::Busy:
        return MHD_HTTP_CONFLICT;
    case Outcome::NoReceiver:
        return MHD_HTTP_SERVICE_UNAVAILABLE;
    case Outcome::Failed:
        break;
    }
    return MHD_HTTP_INTERNAL_SERVER_ERROR;
}

// One event stream: what waits to be sent, and whether MHD holds the
// connection suspended for want of it.
struct Stream {
    std::mutex mutex;
    MHD_Connection *connection = nullptr;
    int fd = -1;
    std::string pending;
    bool suspended = false;
    bool closing = false;
    bool finished = false;
};

// One connection, for the request deadline.
struct Connection {
    int fd = -1;
    Clock::time_point began;
    bool exempt = false; // an event stream, or a command the chip thread runs
};

// One request's own record (MHD's con_cls).
struct Request {
    std::string body;
    bool too_large = false;
    bool started = false;
    std::mutex mutex;
    std::optional<Reply> reply; // a command's answer, once the chip thread gave it
};

} // namespace

bool host_allowed(const std::string &header, const std::string &hostname) {
    std::string host = lower(header);
    unsigned char address[sizeof(in6_addr)];
    if (!host.empty() && host.front() == '[') {
        const auto close = host.find(']');
        if (close == std::string::npos) {
            return false;
        }
        const std::string rest = host.substr(close + 1);
        if (!rest.empty() && (rest[0] != ':' || rest.size() == 1 ||
                              rest.find_first_not_of("0123456789", 1) != std::string::npos)) {
            return false;
        }
        return inet_pton(AF_INET6, host.substr(1, close - 1).c_str(), address) == 1;
    }
    if (const auto colon = host.rfind(':'); colon != std::string::npos) {
        const std::string port = host.substr(colon + 1);
        if (port.empty() || port.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
        host.resize(colon);
    }
    if (host.empty()) {
        return false;
    }
    if (inet_pton(AF_INET, host.c_str(), address) == 1 || host == "localhost") {
        return true;
    }
    const std::string own = lower(hostname);
    return !own.empty() && (host == own || host == own + ".local");
}

struct HttpServer::Impl {
    Radio &radio;
    std::string token;
    std::string hostname;
    std::vector<MHD_Daemon *> daemons;

    std::mutex streams_mutex;
    std::vector<std::shared_ptr<Stream>> streams;

    std::mutex connections_mutex;
    std::map<MHD_Connection *, Connection> connections;

    // Commands wait for the chip thread on one worker that lives as long as
    // the server: the chip runs them one after the other anyway, and a thread
    // made per command cost a switch up to 3 ms on a busy machine.
    struct Job {
        MHD_Connection *connection;
        Request *request;
        std::function<Result()> run;
    };
    std::mutex jobs_mutex;
    std::condition_variable jobs_changed;
    std::deque<Job> jobs;
    bool job_running = false;
    std::thread worker;

    std::atomic<bool> stopping{false};
    std::thread broadcaster;
    std::thread reaper;

    Impl(Radio &r, std::string t, std::string h)
        : radio(r), token(std::move(t)), hostname(std::move(h)) {}

    // ---- the request's checks -------------------------------------------

    bool authorised(MHD_Connection *connection) const {
        if (const char *auth =
                MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Authorization")) {
            const std::string_view value = auth;
            if (value.starts_with("Bearer ")) {
                return equal_in_constant_time(value.substr(7), token);
            }
            return false;
        }
        if (const char *cookie =
                MHD_lookup_connection_value(connection, MHD_COOKIE_KIND, COOKIE_NAME)) {
            return equal_in_constant_time(cookie, token);
        }
        return false;
    }

    std::optional<Reply> refuse_host_or_origin(MHD_Connection *connection) const {
        const char *host = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Host");
        if (host == nullptr || !host_allowed(host, hostname)) {
            return error_reply(MHD_HTTP_FORBIDDEN,
                               "This radio answers only to its own address or host name.");
        }
        if (const char *origin =
                MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Origin")) {
            if (lower(origin) != "http://" + lower(host)) {
                return error_reply(MHD_HTTP_FORBIDDEN, "Requests from another site are refused.");
            }
        }
        return std::nullopt;
    }

    // ---- answers ------------------------------------------------------------

    static void add_common_headers(MHD_Response *response) {
        MHD_add_response_header(response, "Content-Security-Policy",
                                "default-src 'self'; frame-ancestors 'none'");
        MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
        MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
    }

    static MHD_Result send(MHD_Connection *connection, const Reply &reply) {
        MHD_Response *response = MHD_create_response_from_buffer(
            reply.body.size(), const_cast<char *>(reply.body.data()), MHD_RESPMEM_MUST_COPY);
        MHD_add_response_header(response, "Content-Type", reply.content_type.c_str());
        add_common_headers(response);
        for (const auto &[name, value] : reply.headers) {
            MHD_add_response_header(response, name.c_str(), value.c_str());
        }
        const MHD_Result result = MHD_queue_response(connection, reply.status, response);
        MHD_destroy_response(response);
        return result;
    }

    static MHD_Result send_asset(MHD_Connection *connection, const WebAsset &asset,
                                 unsigned status) {
        MHD_Response *response = MHD_create_response_from_buffer(
            asset.body.size(), const_cast<char *>(asset.body.data()), MHD_RESPMEM_PERSISTENT);
        MHD_add_response_header(response, "Content-Type", std::string(asset.content_type).c_str());
        MHD_add_response_header(response, "Cache-Control", "no-cache");
        add_common_headers(response);
        const MHD_Result result = MHD_queue_response(connection, status, response);
        MHD_destroy_response(response);
        return result;
    }

    Reply status_reply() const { return json_reply(MHD_HTTP_OK, status_json(radio.snapshot())); }

    // ---- the page and pairing ---------------------------------------------

    MHD_Result page(MHD_Connection *connection, const std::string &url, const std::string &method) {
        if (method != "GET" && method != "HEAD") {
            Reply reply =
                error_reply(MHD_HTTP_METHOD_NOT_ALLOWED, "Only GET and HEAD are taken here.");
            reply.headers.emplace_back("Allow", "GET, HEAD");
            return send(connection, reply);
        }
        if (url == "/pair") {
            const char *given =
                MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, "token");
            if (given == nullptr || !equal_in_constant_time(given, token)) {
                return error_reply_page(connection);
            }
            Reply reply;
            reply.status = MHD_HTTP_SEE_OTHER;
            reply.content_type = "text/plain; charset=utf-8";
            reply.body = "Paired.\n";
            reply.headers.emplace_back("Location", "/");
            reply.headers.emplace_back("Cache-Control", "no-store");
            reply.headers.emplace_back("Set-Cookie", std::string(COOKIE_NAME) + "=" + token +
                                                         "; Path=/; Max-Age=315360000; HttpOnly; "
                                                         "SameSite=Strict");
            return send(connection, reply);
        }
        if (url == "/" && !authorised(connection)) {
            return error_reply_page(connection, MHD_HTTP_OK);
        }
        if (const WebAsset *asset = tunelark_web_asset(url)) {
            return send_asset(connection, *asset, MHD_HTTP_OK);
        }
        return send(connection,
                    error_reply(MHD_HTTP_NOT_FOUND, "There is nothing at this address."));
    }

    MHD_Result error_reply_page(MHD_Connection *connection,
                                unsigned status = MHD_HTTP_UNAUTHORIZED) {
        if (const WebAsset *asset = tunelark_web_asset("/pairing.html")) {
            return send_asset(connection, *asset, status);
        }
        return send(connection, error_reply(status, "Pair this browser: run tunelarkd --pair."));
    }

    // ---- the API ------------------------------------------------------------

    struct Route {
        const char *path;
        const char *method;
    };
    static constexpr Route ROUTES[] = {
        {"/api/v1/status", "GET"},
        {"/api/v1/stations", "GET"},
        {"/api/v1/events", "GET"},
        {"/api/v1/play", "POST"},
        {"/api/v1/volume", "POST"},
        {"/api/v1/scan", "POST"},
        {"/api/v1/standby", "POST"},
        {"/api/v1/sleep", "POST"},
        {"/api/v1/restart-receiver", "POST"},
    };

    static const Route *route(const std::string &url) {
        for (const Route &r : ROUTES) {
            if (url == r.path) {
                return &r;
            }
        }
        return nullptr;
    }

    // A command's answer, from the chip thread's result: 200 with the status
    // after it, or the error.
    Reply command_reply(const Result &result) const {
        if (result.outcome == Outcome::Done) {
            return status_reply();
        }
        return error_reply(status_for(result.outcome), result.message);
    }

    static std::optional<int64_t> integer(const json &body, const char *name) {
        const auto found = body.find(name);
        if (found == body.end() || !found->is_number_integer()) {
            return std::nullopt;
        }
        return found->get<int64_t>();
    }

    // Checks the body; the answer when it is refused, else the command to run.
    std::variant<Reply, std::function<Result()>> command(const std::string &url, const json &body) {
        if (url == "/api/v1/play") {
            const auto id = integer(body, "service_id");
            if (!id || *id < 0 || *id > 0xFFFFFFFFll) {
                return error_reply(MHD_HTTP_BAD_REQUEST,
                                   "Give the station as {\"service_id\": n}.");
            }
            return [this, id = static_cast<uint32_t>(*id)] { return radio.play(id); };
        }
        if (url == "/api/v1/volume") {
            if (const auto volume = integer(body, "volume")) {
                if (*volume < 0 || *volume > 63) {
                    return error_reply(MHD_HTTP_BAD_REQUEST, "The volume goes from 0 to 63.");
                }
                return [this, v = static_cast<int>(*volume)] { return radio.set_volume(v); };
            }
            if (const auto change = integer(body, "change")) {
                if (*change < -63 || *change > 63) {
                    return error_reply(MHD_HTTP_BAD_REQUEST,
                                       "A volume change goes from -63 to 63.");
                }
                return [this, d = static_cast<int>(*change)] { return radio.change_volume(d); };
            }
            return error_reply(MHD_HTTP_BAD_REQUEST,
                               "Give the volume as {\"volume\": n} or {\"change\": n}.");
        }
        if (url == "/api/v1/sleep") {
            const auto minutes = integer(body, "minutes");
            if (!minutes || *minutes < 0 || *minutes > 1440) {
                return error_reply(MHD_HTTP_BAD_REQUEST,
                                   "Give the sleep timer as {\"minutes\": n}, 0 to 1440.");
            }
            return [this, m = static_cast<int>(*minutes)] { return radio.sleep(m); };
        }
        if (url == "/api/v1/scan") {
            return [this] { return radio.scan(); };
        }
        if (url == "/api/v1/standby") {
            return [this] { return radio.standby(); };
        }
        return [this] { return radio.restart_receiver(); };
    }

    MHD_Result api(MHD_Connection *connection, const std::string &url, const std::string &method,
                   Request *request) {
        const Route *found = route(url);
        if (found == nullptr) {
            return send(connection, error_reply(MHD_HTTP_NOT_FOUND, "There is no such API path."));
        }
        if (method != found->method) {
            Reply reply = error_reply(MHD_HTTP_METHOD_NOT_ALLOWED,
                                      std::string("This path takes ") + found->method + " only.");
            reply.headers.emplace_back("Allow", found->method);
            return send(connection, reply);
        }
        if (url == "/api/v1/status") {
            return send(connection, status_reply());
        }
        if (url == "/api/v1/stations") {
            return send(connection, json_reply(MHD_HTTP_OK, stations_json(radio.snapshot())));
        }
        if (url == "/api/v1/events") {
            return events(connection);
        }
        // A write.
        if (request->too_large) {
            return send(connection, error_reply(413u, "A request body may be at most 4 KiB."));
        }
        {
            std::lock_guard lock(request->mutex);
            if (request->reply) {
                return send(connection, *request->reply);
            }
        }
        const char *type = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, "Content-Type");
        if (type == nullptr || !lower(type).starts_with("application/json")) {
            return send(connection,
                        error_reply(MHD_HTTP_BAD_REQUEST,
                                    "Writes take a JSON body (Content-Type: application/json)."));
        }
        json body =
            request->body.empty() ? json::object() : json::parse(request->body, nullptr, false);
        if (body.is_discarded() || !body.is_object()) {
            return send(connection,
                        error_reply(MHD_HTTP_BAD_REQUEST, "The body is not a JSON object."));
        }
        auto checked = command(url, body);
        if (auto *reply = std::get_if<Reply>(&checked)) {
            return send(connection, *reply);
        }
        // The command may take seconds (a tune): the connection waits
        // suspended, so that MHD goes on serving everyone else.
        auto run = std::get<std::function<Result()>>(std::move(checked));
        set_exempt(connection, true);
        MHD_suspend_connection(connection);
        {
            std::lock_guard lock(jobs_mutex);
            jobs.push_back(Job{connection, request, std::move(run)});
        }
        jobs_changed.notify_all();
        return MHD_YES;
    }

    void work() {
        std::unique_lock lock(jobs_mutex);
        for (;;) {
            jobs_changed.wait(lock, [&] { return !jobs.empty() || stopping; });
            if (jobs.empty()) {
                return;
            }
            Job job = std::move(jobs.front());
            jobs.pop_front();
            job_running = true;
            lock.unlock();
            // A command still queued when the server stops is answered, so
            // that its connection is not left suspended.
            Reply reply =
                stopping ? error_reply(MHD_HTTP_SERVICE_UNAVAILABLE, "The service is stopping.")
                         : command_reply(job.run());
            {
                std::lock_guard request_lock(job.request->mutex);
                job.request->reply = std::move(reply);
            }
            set_exempt(job.connection, false);
            MHD_resume_connection(job.connection);
            lock.lock();
            job_running = false;
            jobs_changed.notify_all();
        }
    }

    // ---- event streams --------------------------------------------------------

    static std::string event_text(const Snapshot &snapshot) {
        return "event: status\ndata: " + status_json(snapshot).dump() + "\n\n";
    }

    MHD_Result events(MHD_Connection *connection) {
        auto stream = std::make_shared<Stream>();
        stream->connection = connection;
        if (const MHD_ConnectionInfo *info =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD)) {
            stream->fd = info->connect_fd;
        }
        stream->pending = "retry: 2000\n\n" + event_text(radio.snapshot());
        {
            std::lock_guard lock(streams_mutex);
            if (streams.size() >= HTTP_EVENT_STREAM_LIMIT || stopping) {
                return send(connection,
                            error_reply(MHD_HTTP_SERVICE_UNAVAILABLE,
                                        "Too many event streams are open (at most 32)."));
            }
            streams.push_back(stream);
        }
        set_exempt(connection, true);
        auto *holder = new std::shared_ptr<Stream>(stream);
        MHD_Response *response = MHD_create_response_from_callback(
            MHD_SIZE_UNKNOWN, 4096, &Impl::read_stream, holder, &Impl::free_stream);
        MHD_add_response_header(response, "Content-Type", "text/event-stream");
        MHD_add_response_header(response, "Cache-Control", "no-store");
        add_common_headers(response);
        auto *self = this;
        // The stream's end removes it from the list: the free callback knows
        // only the stream, so the list is found through a static.
        streams_owner = self;
        const MHD_Result result = MHD_queue_response(connection, MHD_HTTP_OK, response);
        MHD_destroy_response(response);
        return result;
    }

    static inline Impl *streams_owner = nullptr;

    static ssize_t read_stream(void *cls, uint64_t, char *buffer, size_t max) {
        auto &stream = **static_cast<std::shared_ptr<Stream> *>(cls);
        std::lock_guard lock(stream.mutex);
        if (!stream.pending.empty()) {
            const std::size_t n = std::min(max, stream.pending.size());
            std::memcpy(buffer, stream.pending.data(), n);
            stream.pending.erase(0, n);
            return static_cast<ssize_t>(n);
        }
        if (stream.closing) {
            return MHD_CONTENT_READER_END_OF_STREAM;
        }
        // Nothing to send: MHD leaves the connection alone until an event
        // resumes it.
        stream.suspended = true;
        MHD_suspend_connection(stream.connection);
        return 0;
    }

    static void free_stream(void *cls) {
        auto *holder = static_cast<std::shared_ptr<Stream> *>(cls);
        {
            std::lock_guard lock((*holder)->mutex);
            (*holder)->finished = true;
        }
        if (Impl *self = streams_owner) {
            std::lock_guard lock(self->streams_mutex);
            std::erase(self->streams, *holder);
        }
        delete holder;
    }

    void push_to_streams(const std::string &text, bool close) {
        std::vector<std::shared_ptr<Stream>> all;
        {
            std::lock_guard lock(streams_mutex);
            all = streams;
        }
        for (const auto &stream : all) {
            std::lock_guard lock(stream->mutex);
            if (stream->finished) {
                continue;
            }
            stream->pending += text;
            stream->closing = stream->closing || close;
            if (stream->suspended) {
                stream->suspended = false;
                MHD_resume_connection(stream->connection);
            }
        }
    }

    void broadcast() {
        uint64_t seen = radio.snapshot().version;
        auto keep_alive_at = Clock::now() + std::chrono::seconds(HTTP_KEEP_ALIVE_S);
        while (!stopping) {
            const Snapshot snapshot = radio.wait_change(seen, 200);
            if (snapshot.version > seen) {
                seen = snapshot.version;
                push_to_streams(event_text(snapshot), false);
            }
            if (Clock::now() >= keep_alive_at) {
                keep_alive_at = Clock::now() + std::chrono::seconds(HTTP_KEEP_ALIVE_S);
                push_to_streams(": keep-alive\n\n", false);
            }
        }
    }

    // ---- the request deadline -------------------------------------------------

    void set_exempt(MHD_Connection *connection, bool exempt) {
        std::lock_guard lock(connections_mutex);
        if (auto found = connections.find(connection); found != connections.end()) {
            found->second.exempt = exempt;
            found->second.began = Clock::now();
        }
    }

    // A suspended stream does not see its client go: the socket is looked
    // at here, and a closed one ends its stream, so that its place is free.
    void end_abandoned_streams() {
        std::vector<std::shared_ptr<Stream>> all;
        {
            std::lock_guard lock(streams_mutex);
            all = streams;
        }
        for (const auto &stream : all) {
            std::lock_guard lock(stream->mutex);
            if (stream->finished || stream->closing || stream->fd < 0) {
                continue;
            }
            char byte = 0;
            const ssize_t n = ::recv(stream->fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                stream->closing = true;
                if (stream->suspended) {
                    stream->suspended = false;
                    MHD_resume_connection(stream->connection);
                }
            }
        }
    }

    void reap() {
        while (!stopping) {
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
            end_abandoned_streams();
            const auto now = Clock::now();
            std::lock_guard lock(connections_mutex);
            for (auto &[connection, facts] : connections) {
                if (!facts.exempt && facts.fd >= 0 && now - facts.began > REQUEST_DEADLINE) {
                    // MHD sees the end of the connection and closes it.
                    ::shutdown(facts.fd, SHUT_RDWR);
                    facts.fd = -1;
                }
            }
        }
    }

    static void notify_connection(void *cls, MHD_Connection *connection, void **,
                                  MHD_ConnectionNotificationCode code) {
        auto *self = static_cast<Impl *>(cls);
        std::lock_guard lock(self->connections_mutex);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            const MHD_ConnectionInfo *info =
                MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
            self->connections[connection] = {info != nullptr ? info->connect_fd : -1, Clock::now(),
                                             false};
        } else {
            self->connections.erase(connection);
        }
    }

    static void request_completed(void *cls, MHD_Connection *connection, void **con_cls,
                                  MHD_RequestTerminationCode) {
        auto *self = static_cast<Impl *>(cls);
        delete static_cast<Request *>(*con_cls);
        *con_cls = nullptr;
        // The next request on a kept-alive connection has its own deadline.
        self->set_exempt(connection, false);
    }

    // ---- the entry ----------------------------------------------------------------

    static MHD_Result handle(void *cls, MHD_Connection *connection, const char *url_text,
                             const char *method_text, const char *, const char *upload_data,
                             size_t *upload_size, void **con_cls) {
        auto *self = static_cast<Impl *>(cls);
        auto *request = static_cast<Request *>(*con_cls);
        const std::string url = url_text;
        const std::string method = method_text;
        if (request == nullptr) {
            request = new Request;
            *con_cls = request;
            if (auto refused = self->refuse_host_or_origin(connection)) {
                return send(connection, *refused);
            }
            if (url.starts_with("/api/")) {
                if (!self->authorised(connection)) {
                    return send(connection, error_reply(MHD_HTTP_UNAUTHORIZED,
                                                        "This browser or program is not paired: "
                                                        "run tunelarkd --pair."));
                }
                if (const char *length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND,
                                                                     "Content-Length")) {
                    if (std::strtoull(length, nullptr, 10) > HTTP_BODY_LIMIT ||
                        std::strlen(length) > 12) {
                        return send(connection,
                                    error_reply(413u, "A request body may be at most 4 KiB."));
                    }
                }
                if (method == "POST") {
                    return MHD_YES; // the body follows
                }
                return self->api(connection, url, method, request);
            }
            return self->page(connection, url, method);
        }
        if (*upload_size != 0) {
            if (request->body.size() + *upload_size > HTTP_BODY_LIMIT) {
                request->too_large = true;
            } else {
                request->body.append(upload_data, *upload_size);
            }
            *upload_size = 0;
            return MHD_YES;
        }
        return self->api(connection, url, method, request);
    }
};

HttpServer::HttpServer(Radio &radio, std::string token, std::string hostname)
    : impl_(std::make_unique<Impl>(radio, std::move(token), std::move(hostname))) {}

HttpServer::~HttpServer() {
    stop();
}

bool HttpServer::start(const std::vector<ListenAddress> &listen, std::string *error) {
    for (const ListenAddress &address : listen) {
        sockaddr_storage storage{};
        if (address.ipv6) {
            auto *in6 = reinterpret_cast<sockaddr_in6 *>(&storage);
            in6->sin6_family = AF_INET6;
            in6->sin6_port = htons(static_cast<uint16_t>(address.port));
            inet_pton(AF_INET6, address.host.c_str(), &in6->sin6_addr);
        } else {
            auto *in4 = reinterpret_cast<sockaddr_in *>(&storage);
            in4->sin_family = AF_INET;
            in4->sin_port = htons(static_cast<uint16_t>(address.port));
            inet_pton(AF_INET, address.host.c_str(), &in4->sin_addr);
        }
        unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME;
        if (address.ipv6) {
            flags |= MHD_USE_IPv6;
        }
        MHD_Daemon *daemon = MHD_start_daemon(
            flags, static_cast<uint16_t>(address.port), nullptr, nullptr, &Impl::handle,
            impl_.get(), MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr *>(&storage),
            MHD_OPTION_CONNECTION_LIMIT, static_cast<unsigned>(HTTP_CONNECTION_LIMIT),
            MHD_OPTION_PER_IP_CONNECTION_LIMIT, static_cast<unsigned>(HTTP_PER_ADDRESS_LIMIT),
            MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(HTTP_IDLE_TIMEOUT_S),
            MHD_OPTION_NOTIFY_CONNECTION, &Impl::notify_connection, impl_.get(),
            MHD_OPTION_NOTIFY_COMPLETED, &Impl::request_completed, impl_.get(),
            MHD_OPTION_LISTENING_ADDRESS_REUSE, 1u, MHD_OPTION_END);
        if (daemon == nullptr) {
            *error = "Cannot listen on " +
                     (address.ipv6 ? "[" + address.host + "]" : address.host) + ":" +
                     std::to_string(address.port) + ": " + std::strerror(errno) + ".";
            stop();
            return false;
        }
        impl_->daemons.push_back(daemon);
    }
    impl_->worker = std::thread([this] { impl_->work(); });
    impl_->broadcaster = std::thread([this] { impl_->broadcast(); });
    impl_->reaper = std::thread([this] { impl_->reap(); });
    return true;
}

void HttpServer::stop() {
    if (impl_->stopping.exchange(true)) {
        return;
    }
    if (impl_->broadcaster.joinable()) {
        impl_->broadcaster.join();
    }
    if (impl_->reaper.joinable()) {
        impl_->reaper.join();
    }
    // Streams end, so that no connection stays suspended when MHD stops.
    impl_->push_to_streams("", true);
    if (impl_->worker.joinable()) {
        std::unique_lock lock(impl_->jobs_mutex);
        impl_->jobs_changed.notify_all();
        const bool idle = impl_->jobs_changed.wait_for(lock, std::chrono::milliseconds(300), [&] {
            return impl_->jobs.empty() && !impl_->job_running;
        });
        lock.unlock();
        if (idle) {
            impl_->worker.join();
        } else {
            // A chip sequence of seconds (a tune that fails) is not waited
            // for: the process ends within its grace time anyway.
            impl_->worker.detach();
        }
    }
    for (MHD_Daemon *daemon : impl_->daemons) {
        MHD_stop_daemon(daemon);
    }
    impl_->daemons.clear();
}

} // namespace tunelark
