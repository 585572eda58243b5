#include "core/report.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "carver/contract.h"
#include "core/output.h"

namespace carver {
namespace {

constexpr const char* kReportName = "report.xml";
constexpr const char* kTempName = "report.xml.part";
constexpr const char* kReplacement = "\xEF\xBF\xBD";

// Length of the valid UTF-8 sequence at s[i] of a character XML allows; 0 when there is none.
size_t xml_char_at(std::string_view s, size_t i) {
    const auto b = static_cast<uint8_t>(s[i]);
    if (b < 0x80) return b >= 0x20 || b == '\t' || b == '\n' || b == '\r' ? 1 : 0;
    size_t n = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    uint32_t cp = b & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
        const auto c = static_cast<uint8_t>(s[i + k]);
        if ((c & 0xC0) != 0x80) return 0;
        cp = cp << 6 | (c & 0x3F);
    }
    const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    bool allowed = cp >= least[n] && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF) && cp != 0xFFFE && cp != 0xFFFF;
    return allowed ? n : 0;
}

}  // namespace

std::string xml_escape(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        size_t n = xml_char_at(s, i);
        if (n == 0) {
            out += kReplacement;
            ++i;
            continue;
        }
        switch (s[i]) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default: out.append(s, i, n);
        }
        i += n;
    }
    return out;
}

bool xml_unescape(std::string_view s, std::string& out) {
    static const std::pair<std::string_view, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    out.clear();
    for (size_t i = 0; i < s.size();) {
        if (s[i] == '<' || s[i] == '>') return false;
        if (s[i] != '&') {
            out += s[i++];
            continue;
        }
        bool known = false;
        for (const auto& [entity, c] : kEntities)
            if (s.substr(i, entity.size()) == entity) {
                out += c;
                i += entity.size();
                known = true;
                break;
            }
        if (!known) return false;
    }
    return true;
}

int open_bookkeeping_folder(int out_dirfd, std::string& err) {
    if (::mkdirat(out_dirfd, kBookkeepingFolder, 0700) != 0 && errno != EEXIST) {
        err = std::string(kBookkeepingFolder) + ": " + std::strerror(errno);
        return -1;
    }
    int fd = ::openat(out_dirfd, kBookkeepingFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || !owned_by_us(fd, st) || (::fchmod(fd, 0700) != 0 && !keeps_no_owners(fd))) {
        err = std::string(kBookkeepingFolder) + ": " + (fd < 0 ? std::strerror(errno) : "not the engine's own folder");
        if (fd >= 0) ::close(fd);
        return -1;
    }
    return fd;
}

CarveReport::~CarveReport() {
    if (file_) {
        std::fclose(file_);
        ::unlinkat(folder_, kTempName, 0);
    }
    if (folder_ >= 0) ::close(folder_);
}

bool CarveReport::open(int out_dirfd, const std::string& device, std::string& err) {
    if (folder_ >= 0) ::close(folder_);
    folder_ = open_bookkeeping_folder(out_dirfd, err);
    if (folder_ < 0) return false;
    ::unlinkat(folder_, kTempName, 0);  // left by a scan that was killed
    int fd = ::openat(folder_, kTempName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 || !(file_ = ::fdopen(fd, "w"))) {
        err = std::string(kBookkeepingFolder) + "/" + kTempName + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return false;
    }
    std::fprintf(file_,
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                 "<dfxml xmloutputversion=\"1.0\" xmlns=\"http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML\""
                 " xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:snapmend=\"urn:snapmend:carve-report\">\n"
                 "  <metadata><dc:type>Carve Report</dc:type></metadata>\n"
                 "  <creator><program>%s</program></creator>\n"
                 "  <source><image_filename>%s</image_filename></source>\n",
                 std::string(contract::kProgramName).c_str(), xml_escape(device).c_str());
    return true;
}

namespace {

// The files a report lists, from its lines as add() writes them; false
// when a name is none of the report's (the text is untrusted).
bool listed_files(std::FILE* in, uint64_t bytes, ReportedFiles& files) {
    constexpr std::string_view kOpen = "    <filename>", kClose = "</filename>";
    constexpr std::string_view kPartial = "    <snapmend:partial>1</snapmend:partial>";
    std::string line, name;
    uint64_t seen = 0;
    for (int c; seen < bytes && (c = std::fgetc(in)) != EOF;) {
        ++seen;
        if (c != '\n') {
            if (line.size() > 65536) return false;
            line += static_cast<char>(c);
            continue;
        }
        if (line.compare(0, kOpen.size(), kOpen) == 0) {
            const size_t n = line.size() - kOpen.size();
            if (n < kClose.size() || line.compare(line.size() - kClose.size(), kClose.size(), kClose) != 0 ||
                !xml_unescape(std::string_view(line).substr(kOpen.size(), n - kClose.size()), name))
                return false;
            files.names.insert(name);
        }
        files.partial += line == kPartial;
        line.clear();
    }
    return seen == bytes && line.empty();  // whole lines only
}

}  // namespace

bool CarveReport::reopen(int out_dirfd, uint64_t bytes, ReportedFiles& files, std::string& err) {
    constexpr std::string_view kHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<dfxml ";
    folder_ = open_bookkeeping_folder(out_dirfd, err);
    if (folder_ < 0) return false;
    const std::string what = std::string(kBookkeepingFolder) + "/" + kTempName;
    // A scan that was stopped (not killed) put its report in place: it goes on from there.
    struct stat st;
    if (::fstatat(folder_, kTempName, &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT)
        ::renameat(folder_, kReportName, folder_, kTempName);
    int fd = ::openat(folder_, kTempName, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1 || !owned_by_us(fd, st) ||
        static_cast<uint64_t>(st.st_size) < bytes || bytes < kHead.size() || !(file_ = ::fdopen(fd, "r+"))) {
        err = what + ": " + (fd < 0 ? std::strerror(errno) : "not the report the checkpoint names");
        if (fd >= 0) ::close(fd);
        return false;
    }
    char head[kHead.size()];
    const bool ok = std::fread(head, 1, sizeof head, file_) == sizeof head && kHead == std::string_view(head, sizeof head) &&
                    std::fseek(file_, 0, SEEK_SET) == 0 && listed_files(file_, bytes, files) &&
                    ::ftruncate(fd, static_cast<off_t>(bytes)) == 0 && std::fseek(file_, 0, SEEK_END) == 0;
    if (!ok) {
        err = what + ": not the report the checkpoint names";
        std::fclose(file_);
        file_ = nullptr;  // left for a fresh report to replace
        files = ReportedFiles{};
    }
    return ok;
}

bool CarveReport::sync(uint64_t& bytes) {
    if (!file_ || std::fflush(file_) != 0 || ::fsync(::fileno(file_)) != 0) return false;
    const off_t at = ::lseek(::fileno(file_), 0, SEEK_CUR);
    bytes = at > 0 ? static_cast<uint64_t>(at) : 0;
    return at > 0;
}

void CarveReport::add(const ReportEntry& e) {
    if (!file_) return;
    std::fprintf(file_, "  <fileobject>\n    <filename>%s</filename>\n    <filesize>%llu</filesize>\n",
                 xml_escape(e.filename).c_str(), static_cast<unsigned long long>(e.size));
    std::fprintf(file_, "    <snapmend:partial>%d</snapmend:partial>\n    <snapmend:name_origin>%s</snapmend:name_origin>\n",
                 e.partial ? 1 : 0, xml_escape(e.origin).c_str());
    if (!e.original_name.empty())
        std::fprintf(file_, "    <snapmend:original_name>%s</snapmend:original_name>\n",
                     xml_escape(e.original_name).c_str());
    if (!e.runs.empty()) {
        std::fputs("    <byte_runs>\n", file_);
        for (const ByteRun& r : e.runs)
            std::fprintf(file_, "      <byte_run file_offset=\"%llu\" img_offset=\"%llu\" len=\"%llu\"/>\n",
                         static_cast<unsigned long long>(r.file_offset), static_cast<unsigned long long>(r.img_offset),
                         static_cast<unsigned long long>(r.len));
        std::fputs("    </byte_runs>\n", file_);
    }
    std::fputs("  </fileobject>\n", file_);
}

bool CarveReport::finish(std::string& err) {
    if (!file_) return false;
    std::fputs("</dfxml>\n", file_);
    bool ok = std::fflush(file_) == 0 && ::fsync(::fileno(file_)) == 0;
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    ok = ok && ::renameat(folder_, kTempName, folder_, kReportName) == 0 && ::fsync(folder_) == 0;
    if (!ok) {
        err = std::string(kBookkeepingFolder) + "/" + kReportName + ": " + std::strerror(errno);
        ::unlinkat(folder_, kTempName, 0);
    }
    return ok;
}

}  // namespace carver
