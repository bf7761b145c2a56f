#pragma once
// What the unit tests share: addresses and lists written briefly, output captured, temporary
// files and folders that never outlive the run, gzip streams, and a brute-force set model.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>
#include <zlib.h>

#include "io/output_stream.h"
#include "ranges/range_list.h"

namespace blockset::testing {

/// Parses "a.b.c.d" (test input only; no checks).
inline std::uint32_t ip(const char* text)
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    std::sscanf(text, "%u.%u.%u.%u", &a, &b, &c, &d);
    return (a << 24) | (b << 16) | (c << 8) | d;
}

/// "a.b.c.d" for the address.
inline std::string dotted(std::uint32_t address)
{
    return std::to_string(address >> 24) + "." + std::to_string(address >> 16 & 0xFF) + "." +
           std::to_string(address >> 8 & 0xFF) + "." + std::to_string(address & 0xFF);
}

using ranges = std::vector<ip_range>;

inline ranges ranges_of(range_list& list)
{
    auto view = range_list_view(list);
    return {view.begin(), view.end()};
}

inline ip_range span(const char* first, const char* last) { return {ip(first), ip(last)}; }
inline ip_range one(const char* address) { return {ip(address), ip(address)}; }

inline range_list list_of(const ranges& items)
{
    range_list list;
    for (const ip_range& range : items) range_list_insert(list, range);
    return list;
}

/// A temporary file without a name: the system removes it when it is closed, however the
/// process ends (death-test children skip destructors). Starts with the bytes, read from 0.
class anonymous_file {
public:
    explicit anonymous_file(std::string_view bytes = {}) : file_(std::tmpfile())
    {
        if (file_ == nullptr || ::pwrite(fd(), bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
            std::abort();
    }
    ~anonymous_file() { std::fclose(file_); }
    anonymous_file(const anonymous_file&) = delete;
    anonymous_file& operator=(const anonymous_file&) = delete;

    int fd() const { return ::fileno(file_); }
    /// Everything the file holds; the descriptor's offset is left alone.
    std::string text() const
    {
        std::string bytes;
        char block[4096];
        for (ssize_t got; (got = ::pread(fd(), block, sizeof block, static_cast<off_t>(bytes.size()))) > 0;)
            bytes.append(block, static_cast<std::size_t>(got));
        return bytes;
    }

private:
    std::FILE* file_;
};

/// What the listing writes for the list through an output_stream of the given capacity.
inline std::string listing_text(void (*write)(output_stream&, range_list&), range_list& list,
                                std::size_t capacity = 1 << 16)
{
    anonymous_file file;
    {
        output_stream out(file.fd(), capacity);
        write(out, list);
        out.flush();
    }
    return file.text();
}

/// While one of these lives, descriptor 1 goes to an anonymous file, so that what the program
/// writes through standard_output() (listings and the scanners' echo) can be compared.
class output_capture {
public:
    output_capture() : saved_((standard_output().flush(), std::fflush(stdout), ::dup(STDOUT_FILENO)))
    {
        ::dup2(file_.fd(), STDOUT_FILENO);
    }
    ~output_capture()
    {
        standard_output().flush();
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
    }
    output_capture(const output_capture&) = delete;
    output_capture& operator=(const output_capture&) = delete;

    /// Everything written so far (standard output is flushed first).
    std::string text()
    {
        standard_output().flush();
        return file_.text();
    }
    /// What has reached the descriptor so far, without flushing standard output.
    std::string on_descriptor() const { return file_.text(); }

private:
    anonymous_file file_;
    int saved_;
};

/// A folder of its own in the temporary folder, removed with all it holds at the end. Make it
/// outside a death test's statement: the child process skips destructors.
class temporary_folder {
public:
    temporary_folder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "blockset-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        path_ = pattern;
    }
    ~temporary_folder() { std::filesystem::remove_all(path_); }
    temporary_folder(const temporary_folder&) = delete;
    temporary_folder& operator=(const temporary_folder&) = delete;

    const std::string& path() const { return path_; }
    /// Writes the bytes to the named file in the folder and returns its path.
    std::string file(const std::string& name, std::string_view bytes) const
    {
        std::string path = path_ + "/" + name;
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) std::abort();
        std::fclose(file);
        return path;
    }

private:
    std::string path_;
};

/// What the named file holds.
inline std::string file_text(const std::string& path)
{
    std::string bytes;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        char block[4096];
        for (std::size_t got; (got = std::fread(block, 1, sizeof block, file)) > 0;) bytes.append(block, got);
        std::fclose(file);
    }
    return bytes;
}

/// A named file holding the bytes, in a folder of its own (see temporary_folder).
class temporary_file {
public:
    explicit temporary_file(std::string_view bytes) : path_(folder_.file("data", bytes)) {}
    const char* path() const { return path_.c_str(); }

private:
    temporary_folder folder_;
    std::string path_;
};

/// The bytes as one gzip member.
inline std::string gzip(std::string_view bytes)
{
    std::string out(compressBound(static_cast<uLong>(bytes.size())) + 64, '\0');
    z_stream stream{};
    deflateInit2(&stream, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

/// The brute-force model of an address set: one flag for each address of a window of
/// addresses from base, and one flag for every address outside the window.
class address_bitmap {
public:
    address_bitmap(std::uint32_t base, std::uint32_t size) : base_(base), inside_(size) {}

    std::uint32_t address(std::uint32_t index) const { return base_ + index; }
    std::uint32_t size() const { return static_cast<std::uint32_t>(inside_.size()); }
    bool operator[](std::uint32_t index) const { return inside_[index]; }
    bool outside = false;

    /// Adds the addresses of the range that lie inside the window.
    void add(ip_range range)
    {
        std::uint64_t last = std::min<std::uint64_t>(range.last, std::uint64_t{base_} + size() - 1);
        for (std::uint64_t a = std::max(range.first, base_); a <= last; ++a) inside_[a - base_] = true;
    }

    /// The set as maximal ranges, ascending.
    ranges as_ranges() const
    {
        ranges out;
        auto add = [&out](std::uint32_t first, std::uint32_t last) {
            if (!out.empty() && out.back().last + 1 == first)
                out.back().last = last;
            else
                out.push_back({first, last});
        };
        const std::uint64_t end = std::uint64_t{base_} + size();
        if (outside && base_ != 0) add(0, base_ - 1);
        for (std::uint32_t i = 0; i < size(); ++i)
            if (inside_[i]) add(address(i), address(i));
        if (outside && end <= top_address) add(static_cast<std::uint32_t>(end), top_address);
        return out;
    }

    friend address_bitmap operator|(address_bitmap a, const address_bitmap& b)
    {
        return a.combine(b, [](bool x, bool y) { return x || y; });
    }
    friend address_bitmap operator&(address_bitmap a, const address_bitmap& b)
    {
        return a.combine(b, [](bool x, bool y) { return x && y; });
    }
    friend address_bitmap operator-(address_bitmap a, const address_bitmap& b)
    {
        return a.combine(b, [](bool x, bool y) { return x && !y; });
    }
    friend address_bitmap operator~(address_bitmap a)
    {
        return a.combine(a, [](bool x, bool) { return !x; });
    }

private:
    template <typename rule>
    address_bitmap combine(const address_bitmap& other, rule keep)
    {
        for (std::uint32_t i = 0; i < size(); ++i) inside_[i] = keep(inside_[i], other.inside_[i]);
        outside = keep(outside, other.outside);
        return std::move(*this);
    }

    std::uint32_t base_;
    std::vector<bool> inside_;
};

/// A parameterised test's name from its place in the table and its input: letters and digits
/// kept, every other run of bytes one "_", at most 40 characters, so that names read well and
/// stay the same from run to run.
inline std::string case_name(std::size_t index, std::string_view input)
{
    std::string name = std::to_string(index) + "_";
    for (char c : input) {
        if (name.size() >= 40) break;
        const bool word = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (word) name += c;
        else if (name.back() != '_') name += '_';
    }
    return name;
}

/// Names each case of a table by case_name over the given member.
template <auto member>
struct named_by {
    template <class info>
    std::string operator()(const info& test) const
    {
        return case_name(test.index, test.param.*member);
    }
};

/// Names each case of a table of texts by case_name.
struct named_by_text {
    template <class info>
    std::string operator()(const info& test) const
    {
        return case_name(test.index, test.param);
    }
};

} // namespace blockset::testing

namespace blockset {
inline void PrintTo(const ip_range& range, std::ostream* out)
{
    *out << range.first << "-" << range.last;
}
} // namespace blockset
