#include "fetch/feed_fetch.h"

#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fetch/curl_library.h"
#include "input/auto_list.h"
#include "io/diagnostics.h"
#include "io/file_opener.h"
#include "io/output_file.h"
#include "io/output_stream.h"
#include "io/process.h"
#include "ranges/ipv6_list.h"
#include "ranges/range_list.h"

#ifndef BLOCKSET_VERSION
#error "the build names the version in BLOCKSET_VERSION"
#endif

namespace blockset {

namespace {

constexpr long most_redirects = 5;
// An ETag is a short quoted token; anything longer or unprintable is not kept.
constexpr std::size_t longest_etag = 1024;

struct unit {
    std::string_view name;
    std::uint64_t factor;
};

constexpr unit size_units[] = {{"", 1}, {"B", 1}, {"KiB", 1ULL << 10}, {"MiB", 1ULL << 20}, {"GiB", 1ULL << 30}};
constexpr unit time_units[] = {{"", 1000}, {"s", 1000}, {"ms", 1}, {"min", 60'000}};

/// A whole number, blanks, one of the units, times that unit; nothing for anything else, for 0,
/// or for a value above limit.
template <std::size_t count>
std::optional<std::uint64_t> read_amount(std::string_view text, const unit (&units)[count], std::uint64_t limit)
{
    std::size_t i = 0;
    std::uint64_t number = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        number = number * 10 + static_cast<unsigned>(text[i] - '0');
        if (number > limit) return std::nullopt;
    }
    if (i == 0 || number == 0) return std::nullopt;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    for (const unit& u : units) {
        if (text.substr(i) == u.name && number <= limit / u.factor) return number * u.factor;
    }
    return std::nullopt;
}

/// 1432 as "1,432".
std::string with_commas(std::uint64_t number)
{
    std::string digits = std::to_string(number);
    for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, 1, ',');
    return digits;
}

std::string duration_text(long ms)
{
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

/// libcurl, once the first fetch has loaded it.
const curl_calls* calls = nullptr;

struct easy_deleter {
    void operator()(CURL* handle) const { calls->easy_cleanup(handle); }
};
struct url_deleter {
    void operator()(CURLU* handle) const { calls->url_cleanup(handle); }
};
struct header_list_deleter {
    void operator()(curl_slist* list) const { calls->slist_free_all(list); }
};

/// The URL's scheme in lower case, or empty when it is no URL.
std::string scheme_of(const std::string& url)
{
    std::unique_ptr<CURLU, url_deleter> parts(calls->url());
    char* scheme = nullptr;
    if (!parts || calls->url_set(parts.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK ||
        calls->url_get(parts.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK) {
        return {};
    }
    std::string text(scheme);
    calls->free(scheme);
    return text;
}

/// The copy as it is now: whether there is one and when it was last changed.
struct local_copy {
    bool exists = false;
    std::time_t modified = 0;
    std::string etag; ///< the ETag kept beside it, if any
};

bool is_usable_etag(std::string_view etag)
{
    if (etag.empty() || etag.size() > longest_etag) return false;
    for (char c : etag) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) return false;
    }
    return true;
}

std::string etag_path(const std::string& path) { return path + ".etag"; }

/// The ETag kept at path: its one line, or nothing when that is no ETag.
std::string read_etag(const std::string& path)
{
    int fd = open_path(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return {};
    char buffer[longest_etag + 2];
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    if (got <= 0) return {};
    std::string_view text(buffer, static_cast<std::size_t>(got));
    if (text.back() != '\n') return {};
    text.remove_suffix(1);
    return is_usable_etag(text) ? std::string(text) : std::string();
}

local_copy look_at_copy(const std::string& path)
{
    local_copy copy;
    int fd = open_path(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return copy;
    struct stat status;
    copy.exists = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    ::close(fd);
    if (copy.exists) {
        copy.modified = status.st_mtime;
        copy.etag = read_etag(etag_path(path));
    }
    return copy;
}

/// One transfer into the new file, and what came of it.
struct transfer {
    const fetch_request* request = nullptr;
    const local_copy* copy = nullptr;
    int fd = -1;
    std::uint64_t body_bytes = 0; ///< written, after decompression
    bool over_bound = false;
    int write_error = 0; ///< the errno of a write into the new file that failed
    char first_byte = 0; ///< the body's first byte that is no blank or line end
    bool not_modified = false;
    std::string reason; ///< why the copy is kept; empty when it was replaced or not modified
    std::string etag; ///< the server's ETag for the body that replaced the copy
};

std::size_t write_body(char* data, std::size_t size, std::size_t count, void* context)
{
    auto& t = *static_cast<transfer*>(context);
    std::size_t length = size * count;
    if (t.body_bytes + length > t.request->max_bytes) {
        t.over_bound = true;
        return 0; // ends the transfer with a write error
    }
    for (std::size_t i = 0; t.first_byte == 0 && i < length; ++i) {
        if (std::strchr(" \t\r\n", data[i]) == nullptr) t.first_byte = data[i];
    }
    for (std::size_t done = 0; done < length;) {
        ssize_t wrote = ::write(t.fd, data + done, length - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            t.write_error = wrote < 0 ? errno : EIO;
            return 0;
        }
        done += static_cast<std::size_t>(wrote);
    }
    t.body_bytes += length;
    return length;
}

/// Sets what every fetch asks of libcurl: the schemes, redirects, bounds, conditions. False
/// when libcurl refused one of them (an older libcurl may lack one): then nothing is fetched.
bool configure(CURL* easy, transfer& t, curl_slist*& headers, char* error_text)
{
    const fetch_request& request = *t.request;
    bool set = true;
    auto option = [&](CURLoption name, auto value) { set = calls->setopt(easy, name, value) == CURLE_OK && set; };
    option(CURLOPT_URL, request.url.c_str());
    option(CURLOPT_PROTOCOLS_STR, "http,https");
    option(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    option(CURLOPT_FOLLOWLOCATION, 1L);
    option(CURLOPT_MAXREDIRS, most_redirects);
    // Timeouts by alarm would need SIGALRM, which belongs to no library.
    option(CURLOPT_NOSIGNAL, 1L);
    option(CURLOPT_CONNECTTIMEOUT_MS, request.connect_ms);
    option(CURLOPT_TIMEOUT_MS, request.transfer_ms);
    option(CURLOPT_USERAGENT, "blockset/" BLOCKSET_VERSION);
    option(CURLOPT_ACCEPT_ENCODING, ""); // every encoding libcurl decodes
    option(CURLOPT_FILETIME, 1L);
    option(CURLOPT_ERRORBUFFER, error_text);
    option(CURLOPT_WRITEFUNCTION, &write_body);
    option(CURLOPT_WRITEDATA, &t);
    if (!request.ca_file.empty()) option(CURLOPT_CAINFO, request.ca_file.c_str());
    if (t.copy->exists) {
        option(CURLOPT_TIMECONDITION, static_cast<long>(CURL_TIMECOND_IFMODSINCE));
        option(CURLOPT_TIMEVALUE_LARGE, static_cast<curl_off_t>(t.copy->modified));
        if (!t.copy->etag.empty()) {
            headers = calls->slist_append(headers, ("If-None-Match: " + t.copy->etag).c_str());
            option(CURLOPT_HTTPHEADER, headers);
        }
    }
    return set;
}

/// Why a transfer that libcurl ended with an error is refused.
std::string transfer_failure(CURL* easy, CURLcode code, const transfer& t, const char* error_text)
{
    const fetch_request& request = *t.request;
    if (t.over_bound) return "body over the bound of " + with_commas(request.max_bytes) + " bytes";
    if (t.write_error != 0) return std::string("cannot write beside the copy: ") + std::strerror(t.write_error);
    switch (code) {
    case CURLE_PARTIAL_FILE: {
        curl_off_t got = 0;
        curl_off_t announced = -1;
        calls->getinfo(easy, CURLINFO_SIZE_DOWNLOAD_T, &got);
        calls->getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
        if (announced < 0) return "body cut short";
        return "body cut at " + with_commas(static_cast<std::uint64_t>(got)) + " of " +
               with_commas(static_cast<std::uint64_t>(announced)) + " bytes";
    }
    case CURLE_TOO_MANY_REDIRECTS: return "more than " + std::to_string(most_redirects) + " redirects";
    case CURLE_UNSUPPORTED_PROTOCOL: return "redirect to a scheme other than http or https";
    case CURLE_OPERATION_TIMEDOUT: {
        curl_off_t connected = 0;
        calls->getinfo(easy, CURLINFO_CONNECT_TIME_T, &connected);
        if (connected == 0) return "no connection within " + duration_text(request.connect_ms);
        return "transfer not done within " + duration_text(request.transfer_ms);
    }
    default: break;
    }
    return error_text[0] != '\0' ? std::string(error_text) : std::string(calls->strerror(code));
}

/// The first line of text with the quoted name taken out of its start.
std::string reader_reason(const std::string& text, const char* name)
{
    std::string line = text.substr(0, text.find('\n'));
    std::string quoted = std::string("'") + name + "'";
    // The reader's other messages name the file as a whole: the body was damaged.
    if (line.compare(0, quoted.size(), quoted) != 0) return "damaged data";
    line.erase(0, quoted.size());
    if (line.compare(0, 2, ": ") == 0) line.erase(0, 2);
    while (!line.empty() && line.front() == ' ') line.erase(0, 1);
    return line;
}

/// A media type of text/html, in any case, with or without parameters.
bool is_html_type(std::string_view type)
{
    constexpr std::string_view html = "text/html";
    if (type.size() < html.size()) return false;
    for (std::size_t i = 0; i < html.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(type[i])) != html[i]) return false;
    }
    return type.size() == html.size() || type[html.size()] == ';' || type[html.size()] == ' ';
}

/// Why a complete answer is refused, or empty when it may replace the copy.
std::string answer_failure(CURL* easy, const transfer& t, const char* name)
{
    char* type = nullptr;
    calls->getinfo(easy, CURLINFO_CONTENT_TYPE, &type);
    if (type != nullptr && is_html_type(type)) return "an HTML page (text/html)";
    if (t.first_byte == '<') return "an HTML page (the body starts with '<')";
    if (t.body_bytes == 0) return "empty body";
    // The body must read as a load of it would: every line readable, at least one address.
    range_list list;
    ipv6_list ipv6;
    diagnostic_capture messages;
    if (auto_list_read(name, list, ipv6) != 0) return "unreadable list (" + reader_reason(messages.text(), name) + ")";
    return {};
}

/// Makes the new file's modification time the server's Last-Modified, when it gave one.
void take_server_time(CURL* easy, int fd)
{
    curl_off_t seconds = -1;
    if (calls->getinfo(easy, CURLINFO_FILETIME_T, &seconds) != CURLE_OK || seconds < 0) return;
    struct timespec times[2] = {};
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<std::time_t>(seconds);
    ::futimens(fd, times);
}

std::string server_etag(CURL* easy)
{
    curl_header* header = nullptr;
    // -1: the last request, after any redirects.
    if (calls->header(easy, "ETag", 0, CURLH_HEADER, -1, &header) != CURLHE_OK) return {};
    return is_usable_etag(header->value) ? std::string(header->value) : std::string();
}

/// Runs the transfer into the new file and decides whether it may replace the copy.
bool fill_copy(int fd, const char* name, void* context)
{
    auto& t = *static_cast<transfer*>(context);
    t.fd = fd;
    std::unique_ptr<CURL, easy_deleter> easy(calls->easy_init());
    if (!easy) {
        t.reason = "cannot start a transfer";
        return false;
    }
    char error_text[CURL_ERROR_SIZE] = {};
    curl_slist* headers = nullptr;
    bool configured = configure(easy.get(), t, headers, error_text);
    std::unique_ptr<curl_slist, header_list_deleter> owned_headers(headers);
    if (!configured) {
        t.reason = "libcurl lacks an option a fetch needs (7.85 or later is needed)";
        return false;
    }
    CURLcode code = calls->perform(easy.get());
    if (code != CURLE_OK) {
        t.reason = transfer_failure(easy.get(), code, t, error_text);
        return false;
    }
    long status = 0;
    long unmet = 0;
    calls->getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
    calls->getinfo(easy.get(), CURLINFO_CONDITION_UNMET, &unmet);
    if (t.copy->exists && (status == 304 || unmet != 0)) {
        t.not_modified = true;
        return false;
    }
    if (status != 200) {
        t.reason = "HTTP " + std::to_string(status);
        return false;
    }
    t.reason = answer_failure(easy.get(), t, name);
    if (!t.reason.empty()) return false;
    take_server_time(easy.get(), fd);
    t.etag = server_etag(easy.get());
    return true;
}

/// Keeps the ETag of the body now in the copy beside it, or removes an old one.
void keep_etag(const fetch_request& request, const std::string& etag)
{
    std::string path = etag_path(request.path);
    if (etag.empty()) {
        unlink_path(path.c_str());
        return;
    }
    std::string line = etag + "\n";
    write_output_file(path.c_str(), line, +[](output_stream& out, std::string& text) { out.write(text); });
}

bool refuse(const fetch_request& request, const std::string& reason)
{
    diagnostic("'%s': %s, '%s' kept\n", request.url.c_str(), reason.c_str(), request.path.c_str());
    note_data_error();
    return false;
}

} // namespace

std::optional<fetch_bound> fetch_bound_named(std::string_view word)
{
    if (word == "max-size") return fetch_bound::max_size;
    if (word == "connect-timeout") return fetch_bound::connect_timeout;
    if (word == "timeout") return fetch_bound::timeout;
    if (word == "ca-file") return fetch_bound::ca_file;
    return std::nullopt;
}

bool fetch_request_set(fetch_request& request, fetch_bound bound, std::string_view text)
{
    // A day bounds any transfer; a tebibyte any list.
    constexpr std::uint64_t longest_ms = 86'400'000;
    constexpr std::uint64_t largest = 1ULL << 40;
    std::optional<std::uint64_t> amount;
    switch (bound) {
    case fetch_bound::ca_file:
        if (text.empty()) return false;
        request.ca_file = text;
        return true;
    case fetch_bound::max_size:
        amount = read_amount(text, size_units, largest);
        if (amount) request.max_bytes = *amount;
        return amount.has_value();
    case fetch_bound::connect_timeout:
    case fetch_bound::timeout:
        amount = read_amount(text, time_units, longest_ms);
        if (amount) (bound == fetch_bound::timeout ? request.transfer_ms : request.connect_ms) = static_cast<long>(*amount);
        return amount.has_value();
    }
    return false;
}

bool fetch_run(const fetch_request& request)
{
    if (!request.unreadable_bound.empty()) return refuse(request, "cannot read " + request.unreadable_bound);
    std::string unavailable;
    calls = curl_library(unavailable);
    if (calls == nullptr) return refuse(request, unavailable);
    std::string scheme = scheme_of(request.url);
    if (scheme.empty()) return refuse(request, "not a URL");
    if (scheme != "http" && scheme != "https") return refuse(request, "only http and https are fetched");
    local_copy copy = look_at_copy(request.path);
    transfer t;
    t.request = &request;
    t.copy = &copy;
    switch (replace_output_file(request.path.c_str(), &fill_copy, &t)) {
    case replacement_outcome::replaced: keep_etag(request, t.etag); return true;
    case replacement_outcome::refused: return t.not_modified || refuse(request, t.reason);
    case replacement_outcome::failed: break;
    }
    return refuse(request, std::string("cannot replace the copy: ") + std::strerror(errno));
}

} // namespace blockset
