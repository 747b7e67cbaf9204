// vendor-api: a stand-in for the vendor's CDN, game API and log API.
//
// Serves the domain list, the init call, the install report and the error
// report, checks every form post's signature with the shared key, records
// every request (fields in body order) to a JSON-lines file before it
// answers, and misbehaves per path on request. See README.md.

#include <httplib.h>

#include <openssl/evp.h>

#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const char *const usage =
    "usage: vendor-api [--host 127.0.0.1] [--port 0] [--sign-key KEY] [--records FILE]\n"
    "                  [--cert CERT.pem --cert-key KEY.pem] [--fault PATH=MODE]...\n"
    "MODE: reject:CODE | status:NNN | notjson | empty | stall:MS | drop | endless | body:TEXT | none\n";

struct Options
{
    std::string host = "127.0.0.1";
    int port = 0;
    std::string signKey = VENDOR_API_SIGN_KEY;
    std::string recordsPath = "vendor-api-records.jsonl";
    std::string cert;
    std::string certKey;
    std::vector<std::pair<std::string, std::string>> faults;
};

struct Field
{
    std::string name;
    std::string value;
    std::vector<std::string> headers;
};

// ---- text helpers -------------------------------------------------------

bool startsWith(const std::string &text, const std::string &prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool parseInt(const std::string &text, long min, long max, long *out)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || value < min || value > max)
        return false;
    *out = value;
    return true;
}

void replaceAll(std::string &text, const std::string &from, const std::string &to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

// Length of the valid UTF-8 sequence at `at`, or 0 when the bytes there are not one.
size_t utf8SequenceLength(const std::string &text, size_t at)
{
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    unsigned long minimum = 0;
    unsigned long code = 0;
    if (lead < 0x80)
        return 1;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, minimum = 0x80, code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, minimum = 0x800, code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, minimum = 0x10000, code = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    return code < minimum || code > 0x10FFFF || surrogate ? 0 : length;
}

// A JSON string literal. Bytes that are not UTF-8 become U+FFFD, so one
// malformed field can't make a whole record unreadable.
std::string jsonString(const std::string &text)
{
    std::string out = "\"";
    for (size_t at = 0; at < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        const size_t length = utf8SequenceLength(text, at);
        if (length == 0) {
            out += "\xEF\xBF\xBD";
            ++at;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out.append(text, at, length);
        }
        at += length;
    }
    return out + "\"";
}

std::string md5Hex(const std::string &text)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 0x0F];
    }
    return out;
}

// ---- multipart/form-data --------------------------------------------------

// The boundary parameter of a multipart Content-Type, quoted or not.
std::optional<std::string> multipartBoundary(const std::string &contentType)
{
    if (!startsWith(contentType, "multipart/form-data"))
        return std::nullopt;
    const size_t at = contentType.find("boundary=");
    if (at == std::string::npos)
        return std::nullopt;
    std::string boundary = contentType.substr(at + 9);
    if (startsWith(boundary, "\"")) {
        const size_t close = boundary.find('"', 1);
        if (close == std::string::npos)
            return std::nullopt;
        boundary = boundary.substr(1, close - 1);
    } else {
        boundary = boundary.substr(0, boundary.find_first_of("; \t"));
    }
    if (boundary.empty())
        return std::nullopt;
    return boundary;
}

// The name="..." parameter of a part's Content-Disposition header.
std::string dispositionName(const std::vector<std::string> &headers)
{
    for (const std::string &header : headers) {
        std::string lower = header.substr(0, header.find(':'));
        for (char &c : lower)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        if (lower != "content-disposition")
            continue;
        const size_t at = header.find("name=\"");
        if (at == std::string::npos)
            return std::string();
        const size_t close = header.find('"', at + 6);
        return header.substr(at + 6, close == std::string::npos ? std::string::npos : close - at - 6);
    }
    return std::string();
}

std::optional<Field> parsePart(const std::string &part)
{
    Field field;
    size_t valueAt = 0;
    if (!startsWith(part, "\r\n")) {
        const size_t end = part.find("\r\n\r\n");
        if (end == std::string::npos)
            return std::nullopt;
        std::istringstream lines(part.substr(0, end));
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            field.headers.push_back(line);
        }
        valueAt = end + 4;
    } else {
        valueAt = 2;
    }
    field.value = part.substr(valueAt);
    field.name = dispositionName(field.headers);
    return field;
}

// The parts of a form in body order (RFC 2046 framing); nothing when the
// body is not a well-formed multipart body with that boundary.
std::optional<std::vector<Field>> parseMultipart(const std::string &body, const std::string &boundary)
{
    const std::string delimiter = "--" + boundary;
    std::vector<Field> fields;
    size_t at = body.find(delimiter);
    if (at != 0)
        at = body.find("\r\n" + delimiter);
    if (at == std::string::npos)
        return std::nullopt;
    at = body.find(delimiter, at) + delimiter.size();
    while (true) {
        if (body.compare(at, 2, "--") == 0)
            return fields;
        if (body.compare(at, 2, "\r\n") != 0)
            return std::nullopt;
        at += 2;
        const size_t next = body.find("\r\n" + delimiter, at);
        if (next == std::string::npos)
            return std::nullopt;
        const std::optional<Field> field = parsePart(body.substr(at, next - at));
        if (!field)
            return std::nullopt;
        fields.push_back(*field);
        at = next + 2 + delimiter.size();
    }
}

const Field *findField(const std::vector<Field> &fields, const std::string &name)
{
    for (const Field &field : fields)
        if (field.name == name)
            return &field;
    return nullptr;
}

bool signatureValid(const std::vector<Field> &fields, const std::string &key)
{
    static const char *const signedNames[] = {"auth", "oem", "session", "timestamp", "uid", "unionid", "version"};
    std::string text;
    for (const char *name : signedNames) {
        const Field *field = findField(fields, name);
        if (!field)
            return false;
        text += (text.empty() ? "" : "&") + std::string(name) + "=" + field->value;
    }
    const Field *sign = findField(fields, "sign");
    return sign && sign->value == md5Hex(text + key);
}

// ---- faults ---------------------------------------------------------------

bool validFault(const std::string &mode)
{
    long number = 0;
    if (mode == "none" || mode == "notjson" || mode == "empty" || mode == "drop" || mode == "endless"
        || startsWith(mode, "body:"))
        return true;
    if (startsWith(mode, "reject:"))
        return parseInt(mode.substr(7), -2147483647L - 1, 2147483647L, &number);
    if (startsWith(mode, "status:"))
        return parseInt(mode.substr(7), 100, 599, &number);
    if (startsWith(mode, "stall:"))
        return parseInt(mode.substr(6), 0, 3600000, &number);
    return false;
}

class FaultTable
{
public:
    void set(const std::string &path, const std::string &mode)
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (mode == "none")
            modes.erase(path);
        else
            modes[path] = mode;
    }
    std::string of(const std::string &path) const
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto it = modes.find(path);
        return it == modes.end() ? std::string() : it->second;
    }

private:
    mutable std::mutex mutex;
    std::map<std::string, std::string> modes;
};

// ---- records --------------------------------------------------------------

// The records file, one JSON object a line. It keeps what earlier runs
// wrote, so a test can stop and restart the server without losing them.
class RecordLog
{
public:
    bool open(const std::string &path)
    {
        std::ifstream earlier(path);
        for (std::string line; std::getline(earlier, line);)
            if (!line.empty())
                lines.push_back(line);
        file = std::fopen(path.c_str(), "a");
        return file != nullptr;
    }

    // Writes the record (its sequence number first) and flushes it to the file.
    void append(const std::string &rest)
    {
        std::lock_guard<std::mutex> lock(mutex);
        const std::string line = "{\"seq\":" + std::to_string(lines.size() + 1) + "," + rest + "}";
        lines.push_back(line);
        std::fputs((line + "\n").c_str(), file);
        std::fflush(file);
    }

    std::string asArray() const
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::string out = "[";
        for (size_t i = 0; i < lines.size(); ++i)
            out += (i ? "," : "") + lines[i];
        return out + "]";
    }

private:
    mutable std::mutex mutex;
    std::vector<std::string> lines;
    std::FILE *file = nullptr;
};

std::string recordBody(const std::string &method, const std::string &path, const std::vector<Field> *fields,
                       const std::string &signKey, const std::string &fault)
{
    std::string out = "\"method\":" + jsonString(method) + ",\"path\":" + jsonString(path) + ",\"fields\":[";
    std::string sign = "null";
    std::string valid = "null";
    if (fields) {
        for (size_t i = 0; i < fields->size(); ++i) {
            const Field &field = (*fields)[i];
            out += std::string(i ? "," : "") + "{\"name\":" + jsonString(field.name)
                   + ",\"value\":" + jsonString(field.value) + ",\"headers\":[";
            for (size_t h = 0; h < field.headers.size(); ++h)
                out += (h ? "," : "") + jsonString(field.headers[h]);
            out += "]}";
        }
        if (const Field *sent = findField(*fields, "sign"))
            sign = jsonString(sent->value);
        valid = signatureValid(*fields, signKey) ? "true" : "false";
    }
    return out + "],\"sign\":" + sign + ",\"sign_valid\":" + valid + ",\"fault\":" + jsonString(fault);
}

// ---- the server -------------------------------------------------------------

// httplib 0.11 gives a handler no way to end its connection without an
// answer, so find the connection's socket by its two ports and shut it
// down: the client sees the connection close, and the library's answer
// goes nowhere.
void dropConnection(const httplib::Request &req)
{
    const auto portOf = [](const sockaddr_storage &address) {
        if (address.ss_family == AF_INET)
            return int(ntohs(reinterpret_cast<const sockaddr_in &>(address).sin_port));
        if (address.ss_family == AF_INET6)
            return int(ntohs(reinterpret_cast<const sockaddr_in6 &>(address).sin6_port));
        return -1;
    };
    DIR *fds = opendir("/proc/self/fd");
    if (!fds)
        return;
    while (const dirent *entry = readdir(fds)) {
        const int fd = std::atoi(entry->d_name);
        sockaddr_storage local{}, peer{};
        socklen_t localLength = sizeof local, peerLength = sizeof peer;
        if (getsockname(fd, reinterpret_cast<sockaddr *>(&local), &localLength) == 0
            && getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &peerLength) == 0
            && portOf(local) == req.local_port && portOf(peer) == req.remote_port) {
            shutdown(fd, SHUT_RDWR);
            break;
        }
    }
    closedir(fds);
}

const char *const agreementPage =
    "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head><meta charset=\"utf-8\"><title>流光骑士用户协议</title></head>\n"
    "<body>\n<h1>流光骑士用户协议</h1>\n"
    "<p>欢迎使用流光骑士。安装或使用本软件即表示您同意本协议的全部条款。</p>\n"
    "<p>本软件为网络游戏加速服务，请勿将其用于任何违法用途。</p>\n"
    "</body>\n</html>\n";

class VendorApi
{
public:
    VendorApi(httplib::Server &server, const Options &options, RecordLog &records, FaultTable &faults)
        : server(server), options(options), records(records), faults(faults)
    {
    }

    void route()
    {
        server.Get("/_records", [this](const httplib::Request &, httplib::Response &res) {
            res.set_content(records.asArray(), "application/json");
        });
        server.Post("/_fault", [this](const httplib::Request &req, httplib::Response &res,
                                      const httplib::ContentReader &) { setFault(req, res); });
        server.Get(".*", [this](const httplib::Request &req, httplib::Response &res) {
            if (startsWith(req.path, "/_"))
                return notFound(res);
            answer(req, res, nullptr);
        });
        server.Post(".*", [this](const httplib::Request &req, httplib::Response &res,
                                 const httplib::ContentReader &reader) {
            if (startsWith(req.path, "/_"))
                return notFound(res);
            const std::vector<Field> fields = readForm(req, reader);
            answer(req, res, &fields);
        });
    }

    void setBase(const std::string &url) { base = url; }

private:
    static void setJson(httplib::Response &res, int status, const std::string &body)
    {
        res.status = status;
        res.set_content(body, "application/json");
    }

    static void notFound(httplib::Response &res) { setJson(res, 404, "{\"code\":404,\"msg\":\"not found\"}"); }

    void setFault(const httplib::Request &req, httplib::Response &res)
    {
        const std::string path = req.get_param_value("path");
        const std::string mode = req.get_param_value("mode");
        if (path.empty() || !validFault(mode))
            return setJson(res, 400, "{\"code\":1,\"msg\":\"bad fault\"}");
        faults.set(path, mode);
        setJson(res, 200, "{\"code\":0}");
    }

    // The form's parts in body order. httplib's own multipart parser keeps
    // neither the order nor the part headers, and 0.11 hands a content
    // reader the raw bytes only for a body that is not multipart; the
    // request object is the server's own mutable one, so relabel it.
    static std::vector<Field> readForm(const httplib::Request &req, const httplib::ContentReader &reader)
    {
        const std::string contentType = req.get_header_value("Content-Type");
        auto &headers = const_cast<httplib::Request &>(req).headers;
        for (auto it = headers.find("Content-Type"); it != headers.end() && it->first == "Content-Type"; ++it)
            it->second = "application/octet-stream";
        std::string body;
        reader([&body](const char *data, size_t length) {
            body.append(data, length);
            return true;
        });
        const std::optional<std::string> boundary = multipartBoundary(contentType);
        const std::optional<std::vector<Field>> fields =
            boundary ? parseMultipart(body, *boundary) : std::nullopt;
        return fields ? *fields : std::vector<Field>();
    }

    void answer(const httplib::Request &req, httplib::Response &res, const std::vector<Field> *fields)
    {
        const std::string fault = faults.of(req.path);
        records.append(recordBody(req.method, req.path, fields, options.signKey, fault));
        if (!applyFault(fault, req, res))
            answerNormally(req, res, fields);
    }

    // True when the fault made the whole answer.
    bool applyFault(const std::string &fault, const httplib::Request &req, httplib::Response &res)
    {
        if (startsWith(fault, "reject:")) {
            setJson(res, 200, "{\"code\":" + fault.substr(7) + ",\"msg\":\"rejected\"}");
        } else if (startsWith(fault, "status:")) {
            const std::string status = fault.substr(7);
            setJson(res, std::stoi(status), "{\"code\":" + status + ",\"msg\":\"status\"}");
        } else if (fault == "notjson") {
            res.status = 200;
            res.set_content("<html>not json</html>", "text/html");
        } else if (fault == "empty") {
            setJson(res, 200, std::string());
        } else if (startsWith(fault, "stall:")) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::stol(fault.substr(6))));
            return false;
        } else if (fault == "drop") {
            dropConnection(req);
            res.status = 500;
        } else if (fault == "endless") {
            // A body that does not end: as fast as the client takes it,
            // until it hangs up (or 1 GiB has gone, so the server never
            // spins on its own).
            res.status = 200;
            res.set_chunked_content_provider("application/json", [](size_t offset, httplib::DataSink &sink) {
                if (offset >= (size_t(1) << 30)) {
                    sink.done();
                    return true;
                }
                std::string chunk(65536, ' ');
                if (offset == 0)
                    chunk[0] = '{';
                return sink.write(chunk.data(), chunk.size());
            });
        } else if (startsWith(fault, "body:")) {
            std::string text = fault.substr(5);
            replaceAll(text, "{base}", base);
            setJson(res, 200, text);
        } else {
            return false;
        }
        return true;
    }

    void answerNormally(const httplib::Request &req, httplib::Response &res, const std::vector<Field> *fields)
    {
        if (fields && !signatureValid(*fields, options.signKey))
            return setJson(res, 200, "{\"code\":10001,\"msg\":\"签名错误\"}");
        const bool post = fields != nullptr;
        if (!post && req.path == "/init/domain2.txt") {
            setJson(res, 200, "{\"code\":0,\"msg\":\"ok\",\"data\":{\"game\":" + jsonString(base + "/game")
                                  + ",\"log\":" + jsonString(base + "/log") + "}}");
        } else if (post && req.path == "/game/api/index/init") {
            setJson(res, 200, "{\"code\":0,\"msg\":\"ok\",\"data\":{\"register_agreement\":"
                                  + jsonString(base + "/agreement.html") + "}}");
        } else if (post && (req.path == "/log/api/statistic/install" || req.path == "/log/api/client/up_log")) {
            setJson(res, 200, "{\"code\":0,\"msg\":\"ok\"}");
        } else if (!post && req.path == "/agreement.html") {
            res.status = 200;
            res.set_content(agreementPage, "text/html; charset=utf-8");
        } else {
            notFound(res);
        }
    }

    httplib::Server &server;
    const Options &options;
    RecordLog &records;
    FaultTable &faults;
    std::string base;
};

// ---- command line -----------------------------------------------------------

bool parseFaultArgument(const std::string &argument, Options *options)
{
    const size_t equals = argument.find('=');
    if (equals == std::string::npos || equals == 0 || !validFault(argument.substr(equals + 1)))
        return false;
    options->faults.emplace_back(argument.substr(0, equals), argument.substr(equals + 1));
    return true;
}

std::optional<Options> parseOptions(int argc, char **argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (i + 1 >= argc)
            return std::nullopt;
        const std::string value = argv[++i];
        long port = 0;
        if (name == "--host")
            options.host = value;
        else if (name == "--port" && parseInt(value, 0, 65535, &port))
            options.port = int(port);
        else if (name == "--sign-key")
            options.signKey = value;
        else if (name == "--records")
            options.recordsPath = value;
        else if (name == "--cert")
            options.cert = value;
        else if (name == "--cert-key")
            options.certKey = value;
        else if (name != "--fault" || !parseFaultArgument(value, &options))
            return std::nullopt;
    }
    if (options.cert.empty() != options.certKey.empty())
        return std::nullopt;
    return options;
}

std::unique_ptr<httplib::Server> makeServer(const Options &options)
{
    if (options.cert.empty())
        return std::make_unique<httplib::Server>();
    return std::make_unique<httplib::SSLServer>(options.cert.c_str(), options.certKey.c_str());
}

} // namespace

int main(int argc, char **argv)
{
    // A client that hangs up on a stalled answer must not end the server.
    std::signal(SIGPIPE, SIG_IGN);

    const std::optional<Options> options = parseOptions(argc, argv);
    if (!options) {
        std::cerr << usage;
        return 2;
    }
    RecordLog records;
    if (!records.open(options->recordsPath)) {
        std::cerr << "vendor-api: cannot open records file " << options->recordsPath << "\n";
        return 1;
    }
    FaultTable faults;
    for (const auto &fault : options->faults)
        faults.set(fault.first, fault.second);

    const std::unique_ptr<httplib::Server> server = makeServer(*options);
    if (!server->is_valid()) {
        std::cerr << "vendor-api: cannot load the certificate or its key\n";
        return 1;
    }
    // One request per connection: clients that never close theirs (each
    // installer object keeps its own) would otherwise hold the worker threads.
    server->set_keep_alive_max_count(1);
    server->new_task_queue = [] { return new httplib::ThreadPool(16); };

    VendorApi api(*server, *options, records, faults);
    api.route();

    const int port = options->port == 0 ? server->bind_to_any_port(options->host)
                                        : (server->bind_to_port(options->host, options->port) ? options->port : -1);
    if (port <= 0) {
        std::cerr << "vendor-api: cannot listen on " << options->host << ":" << options->port << "\n";
        return 1;
    }
    const std::string base = (options->cert.empty() ? "http://" : "https://") + options->host + ":"
                             + std::to_string(port);
    api.setBase(base);
    std::cout << "vendor-api listening on " << base << std::endl;
    return server->listen_after_bind() ? 0 : 1;
}
