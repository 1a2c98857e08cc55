#include "settings/posix_store.h"

#include "edition/edition.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace quillon::settings {
namespace fs = std::filesystem;
namespace {

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

std::string Escape(std::string_view s) {
    std::string out;
    for (char c : s) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

std::string Unescape(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const char c = s[++i];
        out += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return out;
}

struct Line {
    std::string name;
    std::string raw;  // the whole line as stored
};

// The file's lines; a line without '=' is kept as it is but names nothing.
std::vector<Line> ReadLines(const fs::path& file) {
    std::vector<Line> lines;
    std::ifstream in(file, std::ios::binary);
    if (!in) return lines;
    std::string raw;
    while (std::getline(in, raw)) {
        const auto eq = raw.find('=');
        lines.push_back({eq == std::string::npos ? std::string() : raw.substr(0, eq), raw});
    }
    return lines;
}

bool WriteAll(int fd, std::string_view s) {
    while (!s.empty()) {
        const ssize_t n = ::write(fd, s.data(), s.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        s.remove_prefix(std::size_t(n));
    }
    return true;
}

}  // namespace

fs::path ConfigHome() {
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x && fs::path(x).is_absolute())
        return fs::path(x);
    if (const char* h = std::getenv("HOME"); h && *h) return fs::path(h) / ".config";
    return {};
}

fs::path StoreFile(std::uint8_t edition, const Store& store) {
    const fs::path dir = store.directory.empty() ? ConfigHome() : store.directory;
    if (dir.empty()) return {};
    const editions::Facts& facts = editions::ForCode(edition);
    return dir / facts.settings_folder / facts.settings_file;
}

bool WriteFileAtomically(const fs::path& file, std::string_view content) {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    fs::path tmp = file;
    tmp += ".tmp";  // one instance runs at a time; a leftover of a crash is truncated
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const bool written = WriteAll(fd, content) && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !written || ::rename(tmp.c_str(), file.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return false;
    }
    // Make the rename itself durable.
    if (const int dir = ::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

std::string LoadSetting(std::string_view name, std::uint8_t edition, const Store& store) {
    const fs::path file = StoreFile(edition, store);
    if (file.empty()) return {};
    for (const Line& l : ReadLines(file))
        if (!l.name.empty() && SameName(l.name, name))
            return Unescape(std::string_view(l.raw).substr(l.name.size() + 1));
    return {};
}

SavedTo StoreSetting(std::string_view name, std::string_view value, std::uint8_t edition,
                     const Store& store) {
    // A name that the file format cannot hold is not stored.
    if (name.empty() || name.find_first_of("=\n\r") != std::string_view::npos)
        return SavedTo::Nowhere;
    const fs::path file = StoreFile(edition, store);
    if (file.empty()) return SavedTo::Nowhere;
    std::string content;
    bool replaced = false;
    const std::string line = std::string(name) + "=" + Escape(value) + "\n";
    for (const Line& l : ReadLines(file)) {
        if (!l.name.empty() && SameName(l.name, name)) {
            if (!replaced) content += line;  // later duplicates are dropped
            replaced = true;
        } else {
            content += l.raw + "\n";
        }
    }
    if (!replaced) content += line;
    return WriteFileAtomically(file, content) ? SavedTo::File : SavedTo::Nowhere;
}

std::string SettingPlace(std::uint8_t edition, const Store& store) {
    const fs::path file = StoreFile(edition, store);
    return file.empty() ? std::string("the configuration directory ($HOME is not set)")
                        : file.string();
}

}  // namespace quillon::settings
