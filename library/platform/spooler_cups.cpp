// The host spooler on CUPS. Every operation opens its own connection to the
// server and closes it before returning, so nothing stays open between
// searches.
#include <cups/cups.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "spooler.h"

namespace morlix::platform {
namespace {

struct ConnectionCloser {
    void operator()(http_t* http) const { httpClose(http); }
};
using Connection = std::unique_ptr<http_t, ConnectionCloser>;

struct MessageDeleter {
    void operator()(ipp_t* message) const { ippDelete(message); }
};
using Message = std::unique_ptr<ipp_t, MessageDeleter>;

// The library never asks anyone for a password: a request that needs one fails.
const char* noPassword(const char*, http_t*, const char*, const char*, void*) {
    return nullptr;
}

Connection connectToServer(std::string& error, bool* absent = nullptr) {
    // Forget the server chosen earlier so that CUPS_SERVER is read again.
    cupsSetServer(nullptr);
    cupsSetPasswordCB2(noPassword, nullptr);
    http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                SPOOLER_TIMEOUT_MS, nullptr);
    if (http == nullptr) {
        const int reason = errno;
        // A domain socket that is not there, or a port nobody listens on.
        struct stat info {};
        const char* server = cupsServer();
        if (absent)
            *absent = server[0] == '/' ? ::stat(server, &info) != 0 || !S_ISSOCK(info.st_mode)
                                       : reason == ECONNREFUSED;
        error = std::string("cannot reach the spooler at ") + cupsServer() + ": " + std::strerror(reason);
        return nullptr;
    }
    // Without a callback, a wait longer than this fails the request.
    httpSetTimeout(http, SPOOLER_TIMEOUT_MS / 1000.0, nullptr, nullptr);
    return Connection(http);
}

std::string queueUri(const std::string& name) {
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                     "/printers/%s", name.c_str());
    return uri;
}

Message newRequest(ipp_op_t operation, const std::string* queue) {
    Message request(ippNewRequest(operation));
    if (queue)
        ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                     queueUri(*queue).c_str());
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    return request;
}

// The last request's failure in the server's words, with its status name
// when the words do not already say it.
SpoolerError lastFailure() {
    const ipp_status_t status = cupsLastError();
    SpoolerError error;
    error.reason = cupsLastErrorString();
    const std::string name = ippErrorString(status);
    if (error.reason.empty())
        error.reason = status == IPP_STATUS_OK ? "no answer" : name;
    else if (error.reason.find(name) == std::string::npos)
        error.reason += " (" + name + ")";
    // An account without the right, or one that would need a password the
    // library never gives.
    error.notPermitted = status == IPP_STATUS_ERROR_FORBIDDEN || status == IPP_STATUS_ERROR_NOT_AUTHORIZED ||
                         status == IPP_STATUS_ERROR_NOT_AUTHENTICATED ||
                         status == IPP_STATUS_ERROR_CUPS_AUTHENTICATION_CANCELED;
    return error;
}

// Sends a request (the call frees it) and returns the answer when the server
// took it; otherwise nullptr with the server's reason.
Message exchange(http_t* http, Message request, const char* resource, SpoolerError& error) {
    Message response(cupsDoRequest(http, request.release(), resource));
    if (response && cupsLastError() <= IPP_STATUS_OK_CONFLICTING) return response;
    error = lastFailure();
    return nullptr;
}

void requestAttributes(ipp_t* request, std::initializer_list<const char*> names) {
    std::vector<const char*> list(names);
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(list.size()), nullptr, list.data());
}

const char* textOf(ipp_attribute_t* attribute) {
    const char* text = attribute ? ippGetString(attribute, 0, nullptr) : nullptr;
    return text ? text : "";
}

class CupsQueueHandle final : public SpoolerQueueHandle {
public:
    CupsQueueHandle(Connection connection, std::string name, std::string deviceUri, bool stopped)
        : connection_(std::move(connection)),
          name_(std::move(name)),
          deviceUri_(std::move(deviceUri)),
          stopped_(stopped) {}

    bool isStopped() const override { return stopped_; }

    bool setStopped(bool stopped, SpoolerError& error) override {
        Message request = newRequest(stopped ? IPP_OP_PAUSE_PRINTER : IPP_OP_RESUME_PRINTER, &name_);
        return exchange(connection_.get(), std::move(request), "/admin/", error) != nullptr;
    }

    const std::string& deviceUri() const override { return deviceUri_; }

    bool setDeviceUri(const std::string& uri, SpoolerError& error) override {
        Message request = newRequest(IPP_OP_CUPS_ADD_MODIFY_PRINTER, &name_);
        ippAddString(request.get(), IPP_TAG_PRINTER, IPP_TAG_URI, "device-uri", nullptr, uri.c_str());
        if (!exchange(connection_.get(), std::move(request), "/admin/", error)) return false;
        deviceUri_ = uri;
        return true;
    }

private:
    Connection connection_;
    std::string name_;
    std::string deviceUri_;
    bool stopped_;
};

class CupsSpooler final : public Spooler {
public:
    std::optional<std::vector<SpoolerQueue>> localQueues(std::string& error, bool& absent) override {
        absent = false;
        Connection http = connectToServer(error, &absent);
        if (!http) return std::nullopt;
        Message request = newRequest(IPP_OP_CUPS_GET_PRINTERS, nullptr);
        requestAttributes(request.get(), {"printer-name", "device-uri", "printer-type"});
        Message response(cupsDoRequest(http.get(), request.release(), "/"));
        std::vector<SpoolerQueue> queues;
        // A server without any queue answers "not found".
        if (cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND) return queues;
        if (!response || cupsLastError() > IPP_STATUS_OK_CONFLICTING) {
            error = lastFailure().reason;
            return std::nullopt;
        }
        // Each printer is one group of attributes, ended by a separator.
        SpoolerQueue queue;
        int type = 0;
        auto finishQueue = [&] {
            const bool ownDevice = (type & (CUPS_PRINTER_CLASS | CUPS_PRINTER_REMOTE)) == 0;
            if (!queue.name.empty() && !queue.deviceUri.empty() && ownDevice) queues.push_back(queue);
            queue = {};
            type = 0;
        };
        for (ipp_attribute_t* attribute = ippFirstAttribute(response.get()); attribute;
             attribute = ippNextAttribute(response.get())) {
            const char* name = ippGetName(attribute);
            if (name == nullptr) {
                finishQueue();
                continue;
            }
            if (ippGetGroupTag(attribute) != IPP_TAG_PRINTER) continue;
            if (std::strcmp(name, "printer-name") == 0)
                queue.name = textOf(attribute);
            else if (std::strcmp(name, "device-uri") == 0)
                queue.deviceUri = textOf(attribute);
            else if (std::strcmp(name, "printer-type") == 0)
                type = ippGetInteger(attribute, 0);
        }
        finishQueue();
        return queues;
    }

    std::unique_ptr<SpoolerQueueHandle> openQueue(const std::string& name, SpoolerError& error) override {
        Connection http = connectToServer(error.reason);
        if (!http) return nullptr;
        Message request = newRequest(IPP_OP_GET_PRINTER_ATTRIBUTES, &name);
        requestAttributes(request.get(), {"device-uri", "printer-state"});
        Message response = exchange(http.get(), std::move(request), "/", error);
        if (!response) return nullptr;
        ipp_attribute_t* uri = ippFindAttribute(response.get(), "device-uri", IPP_TAG_URI);
        ipp_attribute_t* state = ippFindAttribute(response.get(), "printer-state", IPP_TAG_ENUM);
        const bool stopped = state && ippGetInteger(state, 0) == IPP_PSTATE_STOPPED;
        return std::make_unique<CupsQueueHandle>(std::move(http), name, textOf(uri), stopped);
    }
};

}  // namespace

Spooler& hostSpooler() {
    static CupsSpooler spooler;
    return spooler;
}

}  // namespace morlix::platform
